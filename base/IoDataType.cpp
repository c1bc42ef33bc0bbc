#include "base/IoDataType.h"

#include <cmath>
#include <cstdio>

#include "base/Conversions.h"
#include "base/RuntimeError.h"

namespace plc {

IoCoding RtuIoCoding(std::int32_t ioType) {
  if (ioType == ioFloat) return IoCoding::FixedPointPairs;
  if (ioType == ioBCD) return IoCoding::SignedWords;
  return IoCoding::PlainWords;
}

IoCoding SeqIoCoding(std::int32_t ioType) {
  if (ioType == ioFloat) return IoCoding::FixedPointPairs;
  if (ioType == ioBCD) return IoCoding::HexText;
  return IoCoding::PlainWords;
}

IoCoding UdpIoCoding(std::int32_t ioType) {
  return ioType == ioFloat ? IoCoding::FixedPointPairs : IoCoding::PlainWords;
}

std::int32_t RegistersPerValue(std::int32_t ioType) { return ioType == ioFloat ? 2 : 1; }

double FixedPointRead(std::uint16_t whole, std::uint16_t fraction) {
  return static_cast<double>(whole) + static_cast<double>(fraction) / 10000;
}

FixedPointWords FixedPointWrite(double value) {
  if (!std::isfinite(value)) throw RuntimeError(err::Overflow);
  const double whole = std::floor(value);
  if (whole < -32768 || whole > 65535) throw RuntimeError(err::Overflow);
  // nearbyint rounds halves to even in the default rounding mode.
  const double fraction = std::nearbyint((value - whole) * 10000);
  return {static_cast<std::int32_t>(whole), static_cast<std::int32_t>(fraction)};
}

std::uint16_t RegisterWord(std::int32_t whole) { return static_cast<std::uint16_t>(whole & 0xFFFF); }

std::string HexWordText(std::uint16_t word) {
  char buf[8];
  const int n = std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(word));
  return std::string(buf, static_cast<std::size_t>(n));
}

std::vector<Variant> DecodeRegisters(IoCoding coding, std::span<const std::uint16_t> registers) {
  std::vector<Variant> values;
  switch (coding) {
    case IoCoding::PlainWords:
      for (std::uint16_t r : registers) values.emplace_back(static_cast<std::int32_t>(r));
      break;
    case IoCoding::SignedWords:
      for (std::uint16_t r : registers) {
        std::int32_t s = 0;
        LongToSIgnedInt(Variant(static_cast<std::int32_t>(r)), s);
        values.emplace_back(s);
      }
      break;
    case IoCoding::FixedPointPairs:
      for (std::size_t i = 0; i + 1 < registers.size(); i += 2)
        values.emplace_back(FixedPointRead(registers[i], registers[i + 1]));
      break;
    case IoCoding::HexText:
      for (std::uint16_t r : registers) values.emplace_back(HexWordText(r));
      break;
  }
  return values;
}

}  // namespace plc
