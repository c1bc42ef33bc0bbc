#include "modbus/ReferenceMap.h"

#include "base/Enums.h"
#include "modbus/Pdu.h"

namespace plc::modbus {
namespace {

ReferenceMapping Make(std::uint8_t function, std::int32_t offset, std::int16_t kind, std::int32_t start) {
  ReferenceMapping m;
  m.function = function;
  m.offset = offset;
  m.referenceKind = kind;
  m.startReference = start;
  return m;
}

std::optional<ReferenceMapping> MapStandard(std::int32_t a, Access access) {
  auto kind = static_cast<std::int16_t>(a / 10000);
  switch (kind) {
    case 0:
      switch (access) {
        case Access::Read: return Make(fn::ReadCoils, a - 1, kind, a);
        case Access::SingleWrite: return Make(fn::WriteSingleCoil, a - 1, kind, a);
        case Access::MultipleWrite: return Make(fn::WriteMultipleCoils, a - 1, kind, a);
      }
      break;
    case 1:
      if (access == Access::Read) return Make(fn::ReadDiscreteInputs, a - 10001, kind, a);
      break;
    case 3:
      if (access == Access::Read) return Make(fn::ReadInputRegisters, a - 30001, kind, a);
      break;
    case 4:
      switch (access) {
        case Access::Read: return Make(fn::ReadHoldingRegisters, a - 40001, kind, a);
        case Access::SingleWrite: return Make(fn::WriteSingleRegister, a - 40001, kind, a);
        case Access::MultipleWrite: return Make(fn::WriteMultipleRegisters, a - 40001, kind, a);
      }
      break;
    default:
      break;
  }
  return std::nullopt;
}

std::optional<ReferenceMapping> MapType2(std::int32_t a, Access access) {
  auto kind = static_cast<std::int16_t>(a / 1000);
  std::optional<ReferenceMapping> m;
  switch (kind) {
    case 0:
      if (access == Access::SingleWrite) m = Make(fn::WriteSingleCoil, a - 1, kind, a);
      if (access == Access::MultipleWrite) m = Make(fn::WriteMultipleCoils, a - 1, kind, a);
      break;
    case 1:
      if (access == Access::Read) m = Make(fn::ReadCoils, a, kind, a);
      if (access == Access::SingleWrite) m = Make(fn::WriteSingleCoil, a, kind, a);
      break;
    case 3:
      if (access == Access::Read) m = Make(fn::ReadHoldingRegisters, a, kind, a);
      if (access == Access::SingleWrite) m = Make(fn::WriteSingleRegister, a, kind, a);
      if (access == Access::MultipleWrite) m = Make(fn::WriteMultipleRegisters, a, kind, a);
      break;
    case 5:
    case 7:
      if (access == Access::Read) {
        m = Make(fn::ReadHoldingRegisters, a, kind, a);
        m->bytesPerValue = 4;
      }
      if (access == Access::MultipleWrite) {
        m = Make(fn::WriteMultipleRegisters, a, kind, a);
        m->wordPairs = true;
      }
      break;
    default:
      break;
  }
  if (m) m->type2Kind = kind;
  return m;
}

}  // namespace

std::optional<ReferenceMapping> MapReference(std::int32_t plcType, std::int32_t address, Access access) {
  std::optional<ReferenceMapping> m;
  if (plcType == rtu::EnStdModbus) m = MapStandard(address, access);
  if (plcType == rtu::EnType2) m = MapType2(address, access);
  // 40000 or a negative reference would give an offset below 0, which ASCII would send as
  // its low 16 bits (register 65535): no such reference exists.
  if (m && (m->offset < 0 || m->offset > 65535)) return std::nullopt;
  return m;
}

}  // namespace plc::modbus
