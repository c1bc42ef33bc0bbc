#include "tools/plclink/RegisterFormat.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <string>

#include "modbus/Pdu.h"

namespace plc::plclink {

namespace {

std::uint16_t Word(const Variant& v) { return static_cast<std::uint16_t>(v.ToInt32() & 0xFFFF); }

void RequireWords(const std::vector<Variant>& words) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const Variant& v = words[i];
    const double d = v.IsNumeric() ? v.ToDouble() : std::nan("");
    // A Single is a float a control decoded (DfLink's F8), no word, even when it is whole.
    if (v.Type() != VarType::Single && d >= -32768 && d <= 65535 && d == std::floor(d)) continue;
    throw NotARegisterWord("value " + std::to_string(i + 1) + " (" + v.ToString() +
                           ") is no 16-bit register word, whose bits --format prints; leave out --format for "
                           "the values as the control gives them");
  }
}

}  // namespace

int WordsPerValue(RegisterFormat format) {
  return format == RegisterFormat::Float || format == RegisterFormat::Int32 ? 2 : 1;
}

std::vector<Variant> FormatWords(const std::vector<Variant>& words, RegisterFormat format, WordOrder order) {
  std::vector<Variant> out;
  if (format == RegisterFormat::Control) return words;
  RequireWords(words);
  if (WordsPerValue(format) == 2) {
    for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
      std::uint16_t high = Word(words[i]), low = Word(words[i + 1]);
      if (order == WordOrder::LowFirst) std::swap(high, low);
      if (format == RegisterFormat::Int32) {
        out.emplace_back(static_cast<std::int32_t>((std::uint32_t{high} << 16) | low));
      } else if (((high >> 7) & 0xFF) == 0xFF) {
        out.emplace_back();  // infinity or NaN: no number to print
      } else {
        // The bits as IEEE-754 has them, as mbpoll prints them: the classic conversion gives an
        // exponent field of 0 a leading one, so -0 and the tiniest values would come out wrong.
        out.emplace_back(std::bit_cast<float>((std::uint32_t{high} << 16) | low));
      }
    }
    return out;
  }
  for (const Variant& v : words) {
    std::uint16_t w = Word(v);
    switch (format) {
      case RegisterFormat::Int: out.emplace_back(static_cast<std::int16_t>(w)); break;
      case RegisterFormat::Uint: out.emplace_back(static_cast<std::int32_t>(w)); break;
      default: {
        char text[8];
        std::snprintf(text, sizeof text, "0x%04X", w);
        out.emplace_back(std::string(text));
      }
    }
  }
  return out;
}

}  // namespace plc::plclink
