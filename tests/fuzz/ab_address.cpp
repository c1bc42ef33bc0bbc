// Both Allen-Bradley address parsers over arbitrary text: they parse or refuse without
// failing, agree on the file and element wherever both take the colon form, ignore the case
// of the letters, force the O, I and S file numbers, and give a bit of 99 or a number.
// fuzz-libs: plcdf1 plccore
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "df1/Addressing.h"

namespace {

void CheckShape(const plc::df1::ParsedAddress& a) {
  if (a.FileTypeCode < 0 || a.FileTypeCode > 13) std::abort();
  if (a.FileTypeCode <= 2 && a.FileNumber != a.FileTypeCode) std::abort();
  if (a.FileNumber < 0 || a.ElementNumber < 0 || a.BitNumber < 0 || a.WordOffset < 0) std::abort();
}

bool Same(const plc::df1::ParsedAddress& x, const plc::df1::ParsedAddress& y) {
  return x.FileTypeCode == y.FileTypeCode && x.FileNumber == y.FileNumber && x.ElementNumber == y.ElementNumber &&
         x.BitNumber == y.BitNumber && x.WordOffset == y.WordOffset;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto read = plc::df1::ParseReadAddress(text);
  auto write = plc::df1::ParseWriteAddress(text);
  if (read) CheckShape(*read);
  if (write) CheckShape(*write);
  // In the colon form without a sub-element both parsers read the bit the same way, so a read
  // address is a write address too. (Without a colon the read ignores what follows the bit,
  // and after "." the write reads the sub-element's digits into its bit number.)
  const bool plainColonForm = text.find(':') != std::string::npos && text.find('.') == std::string::npos;
  if (read && !write && plainColonForm) std::abort();
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto readUpper = plc::df1::ParseReadAddress(upper);
  if (read.has_value() != readUpper.has_value() || (read && !Same(*read, *readUpper))) std::abort();
  if (read && write && text.find(':') != std::string::npos) {
    if (read->FileTypeCode != write->FileTypeCode || read->FileNumber != write->FileNumber ||
        read->ElementNumber != write->ElementNumber)
      std::abort();
  }
  return 0;
}
