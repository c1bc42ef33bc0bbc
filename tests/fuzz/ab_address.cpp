// The Allen-Bradley address parser over arbitrary text: it parses or refuses without failing;
// a refusal names the address; what it takes fits the fields a request carries (file and
// element 0..65535, a bit 0..15, a sub-element only where elements have three words) and goes
// into a read request; the case of the letters does not matter; a write takes what a read
// takes, except a bit.
// fuzz-libs: plcdf1 plcframe
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "df1/Addressing.h"
#include "df1/Requests.h"

namespace {

using plc::df1::ParsedAddress;

void CheckFits(const ParsedAddress& a) {
  if (a.FileTypeCode < 0 || a.FileTypeCode > 13) std::abort();
  if (a.FileTypeCode <= 2 && a.FileNumber != a.FileTypeCode) std::abort();
  if (a.FileNumber < 0 || a.FileNumber > plc::df1::kMaxFileNumber) std::abort();
  if (a.ElementNumber < 0 || a.ElementNumber > plc::df1::kMaxElementNumber) std::abort();
  if (a.BitNumber != plc::df1::kNoBit && (a.BitNumber < 0 || a.BitNumber > plc::df1::kMaxBitNumber)) std::abort();
  const std::uint8_t type = plc::df1::FileTypeOf(a.FileTypeCode).typeByte;
  const bool threeWords = type == 0x86 || type == 0x87 || type == 0x88;
  if (a.WordOffset < 0 || a.WordOffset > (threeWords ? 3 : 0)) std::abort();
  if ((type == 0x8A || type == 0x8D) && a.BitNumber != plc::df1::kNoBit) std::abort();
  // One value of it always fits a request.
  if (!plc::df1::ReadPayload({1, 0, 1}, a, std::max(1, a.WordOffset), 1)) std::abort();
  if (!plc::df1::ReadPayload({1, 0, 1}, a, std::max(1, a.WordOffset), 3)) std::abort();
}

bool Same(const ParsedAddress& x, const ParsedAddress& y) {
  return x.FileTypeCode == y.FileTypeCode && x.FileNumber == y.FileNumber && x.ElementNumber == y.ElementNumber &&
         x.BitNumber == y.BitNumber && x.WordOffset == y.WordOffset;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto read = plc::df1::ParseReadAddress(text);
  auto write = plc::df1::ParseWriteAddress(text);
  const std::string named = "address '" + text + "' ";
  if (read) {
    CheckFits(*read);
    if (!read.error.empty()) std::abort();
  } else if (read.error.rfind(named, 0) != 0 || read.error.size() <= named.size()) {
    std::abort();
  }
  if (!write && write.error.rfind(named, 0) != 0) std::abort();
  if (write && (!read || !Same(*read, *write) || write->BitNumber != plc::df1::kNoBit)) std::abort();
  if (read && read->BitNumber == plc::df1::kNoBit && !write) std::abort();
  std::string upper = text;
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  auto readUpper = plc::df1::ParseReadAddress(upper);
  if (static_cast<bool>(read) != static_cast<bool>(readUpper) || (read && !Same(*read, *readUpper))) std::abort();
  return 0;
}
