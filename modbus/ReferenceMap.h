#pragma once
// Reference addresses to Modbus requests: which function and offset a read, a single write or a
// multiple write of a reference address uses, by PLCType.
//
// EnStdModbus (kind = address div 10000):
//   0xxxx coils             read 1 (offset a-1), write 5 / 15 (offset a-1)
//   1xxxx discrete inputs   read 2 (offset a-10001), no write
//   3xxxx input registers   read 4 (offset a-30001), no write
//   4xxxx holding registers read 3, write 6 / 16 (offset a-40001)
// EnType2 (kind = address div 1000; the offset is the address itself except for kind 0):
//   0 coils                 no read, write 5 / 15 (offset a-1)
//   1 bits                  read 1, single write 5, no multiple write
//   3 16-bit words          read 3, write 6 / 16
//   5 32-bit integers, 7 floats: read 3 with 4 bytes per counted value, multiple write 16 with
//                           each value as two registers, no single write
// Every other kind, and every PLCType from EnType3 up, has no mapping: such a request is
// refused and nothing is sent (repeating the previous request's function would ask for the
// wrong data). Several values to coils go out as function 15 with packed bits, which is what
// standard slaves accept.
#include <cstdint>
#include <optional>

namespace plc::modbus {

enum class Access { Read, SingleWrite, MultipleWrite };

struct ReferenceMapping {
  std::uint8_t function = 0;
  std::int32_t offset = 0;
  std::int16_t referenceKind = 0;
  // The EnType2 data kind (1, 3, 5, 7; 0 for coils); 0 with EnStdModbus.
  std::int16_t type2Kind = 0;
  // Reads: bytes per counted value in the reply (2, or 4 for EnType2 kinds 5 and 7).
  std::uint8_t bytesPerValue = 2;
  // Writes: each value goes out as two registers (EnType2 kinds 5 and 7).
  bool wordPairs = false;
  // Reference address of the first value (what the completion event reports).
  std::int32_t startReference = 0;

  bool operator==(const ReferenceMapping&) const = default;
};

// The EnType2 kinds whose values take two registers: 32-bit integers and floats.
constexpr bool IsType2PairKind(std::int32_t kind) { return kind == 5 || kind == 7; }

// nullopt when the reference has no function for the access under plcType, or maps to an
// offset outside 0..65535 (40000, negative references).
std::optional<ReferenceMapping> MapReference(std::int32_t plcType, std::int32_t address, Access access);

}  // namespace plc::modbus
