#include "df1/Requests.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

#include "base/Conversions.h"
#include "base/RuntimeError.h"
#include "df1/Frame.h"

namespace plc::df1 {

namespace {

bool IsByte(std::int32_t v) { return v >= 0 && v <= 255; }

// The header, the command's function and byte count, and three address fields of three bytes.
constexpr std::size_t kTypedHeadBytes = 6 + 2 + 3 + 1 + 3 + 3;

Checked<Bytes> Head(const RequestHead& h) {
  if (!IsByte(h.dst)) return Checked<Bytes>::Refused("Address " + std::to_string(h.dst) + " is no station number (0..255)");
  if (!IsByte(h.src)) return Checked<Bytes>::Refused("Node " + std::to_string(h.src) + " is no station number (0..255)");
  if (h.tns < 0 || h.tns > 65535) return Checked<Bytes>::Refused("transaction number " + std::to_string(h.tns) + " beyond 16 bits");
  Bytes head;
  // Room for the fields of a typed request too: the payload is built in one piece.
  head.reserve(kTypedHeadBytes);
  head.insert(head.end(), {static_cast<std::uint8_t>(h.dst), static_cast<std::uint8_t>(h.src), kCommand, 0x00,
                           static_cast<std::uint8_t>(h.tns & 0xFF), static_cast<std::uint8_t>(h.tns >> 8)});
  return head;
}

void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

bool FitsField(std::int32_t number) { return number >= 0 && number <= 65535; }

// A file, element or sub-element number: one byte below 255, else FFh and the number, low
// byte first.
void AppendField(Bytes& to, std::int32_t number) {
  if (number < 255) {
    to.push_back(static_cast<std::uint8_t>(number));
    return;
  }
  to.insert(to.end(), {0xFF, static_cast<std::uint8_t>(number & 0xFF), static_cast<std::uint8_t>(number >> 8)});
}

std::size_t FieldSize(std::int32_t number) { return number < 255 ? 1 : 3; }

// The typed read and write share everything up to the data.
Checked<Bytes> TypedHead(const RequestHead& h, std::uint8_t function, std::int64_t byteCount, const ParsedAddress& a,
                         std::int32_t subElement) {
  auto head = Head(h);
  if (!head) return head;
  if (!FitsField(a.FileNumber)) return Checked<Bytes>::Refused("file number " + std::to_string(a.FileNumber) + " beyond 65535");
  if (!FitsField(a.ElementNumber)) return Checked<Bytes>::Refused("element " + std::to_string(a.ElementNumber) + " beyond 65535");
  if (!FitsField(subElement)) return Checked<Bytes>::Refused("sub-element " + std::to_string(subElement) + " beyond 65535");
  if (byteCount < 1 || byteCount > 255)
    return Checked<Bytes>::Refused("byte count " + std::to_string(byteCount) + " outside the 1..255 a request carries");
  Bytes p = std::move(*head);
  p.push_back(function);
  p.push_back(static_cast<std::uint8_t>(byteCount));
  AppendField(p, a.FileNumber);
  p.push_back(FileTypeOf(a.FileTypeCode).typeByte);
  AppendField(p, a.ElementNumber);
  AppendField(p, subElement);
  return p;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

}  // namespace

std::int32_t NextTns(std::int32_t tns) {
  std::int32_t next = tns + 1;
  return next >= kLastTns + 1 || next < 1 ? 1 : next;
}

std::optional<Bytes> AddressField(std::int32_t number) {
  if (!FitsField(number)) return std::nullopt;
  Bytes field;
  AppendField(field, number);
  return field;
}

Bytes Plc5SystemAddress(std::int16_t fileTypeCode, std::int32_t fileNumber, std::int32_t elementNumber) {
  std::string text = "$" + std::string(FileTypeOf(fileTypeCode).letters) + std::to_string(fileNumber) + ":" +
                     std::to_string(elementNumber);
  Bytes out;
  out.reserve(text.size() + 2);
  out.push_back(0x00);
  for (char c : text) out.push_back(static_cast<std::uint8_t>(c));
  out.push_back(0x00);
  return out;
}

std::int32_t ElementsPerValue(const ParsedAddress& a, bool asFloat) {
  const std::int32_t elements = std::max(1, a.WordOffset);
  return asFloat && FileTypeOf(a.FileTypeCode).elementBytes == 2 ? std::max(2, elements) : elements;
}

std::int32_t MaxReadCount(const ParsedAddress& a, bool asFloat) {
  return 255 / (FileTypeOf(a.FileTypeCode).elementBytes * ElementsPerValue(a, asFloat));
}

std::int32_t MaxWriteCount(const ParsedAddress& a, std::int32_t mode) {
  const int bytes = FileTypeOf(a.FileTypeCode).elementBytes;
  const std::size_t head = 6 + 2 + FieldSize(a.FileNumber) + 1 + FieldSize(a.ElementNumber) + FieldSize(std::max(0, a.WordOffset - 1));
  const std::size_t room = MaxPayload(mode) > head ? MaxPayload(mode) - head : 0;
  return std::min<std::int32_t>(255 / bytes, static_cast<std::int32_t>(room) / bytes);
}

Checked<Bytes> ReadPayload(const RequestHead& h, const ParsedAddress& a, std::int32_t count, std::int32_t plcType) {
  const std::int64_t byteCount = std::int64_t{FileTypeOf(a.FileTypeCode).elementBytes} * count;
  if (plcType != kPlc5) return TypedHead(h, kTypedRead, byteCount, a, 0);
  auto head = Head(h);
  if (!head) return head;
  if (byteCount < 1 || byteCount > 255)
    return Checked<Bytes>::Refused("byte count " + std::to_string(byteCount) + " outside the 1..255 a request carries");
  if (a.FileNumber < 0 || a.ElementNumber < 0) return Checked<Bytes>::Refused("a negative file or element number");
  Bytes p = std::move(*head);
  p.insert(p.end(), {kWordRangeRead, 0x00, 0x00, static_cast<std::uint8_t>(count & 0xFF),
                     static_cast<std::uint8_t>((count >> 8) & 0xFF)});
  Append(p, Plc5SystemAddress(a.FileTypeCode, a.FileNumber, a.ElementNumber));
  p.push_back(static_cast<std::uint8_t>(byteCount));
  return p;
}

Checked<Bytes> WritePayload(const RequestHead& h, const ParsedAddress& a, std::int32_t valueCount,
                            std::span<const std::int32_t> words) {
  const std::int64_t byteCount = std::int64_t{FileTypeOf(a.FileTypeCode).elementBytes} * valueCount;
  auto p = TypedHead(h, kTypedWrite, byteCount, a, std::max(0, a.WordOffset - 1));
  if (!p) return p;
  for (std::int32_t w : words) {
    if (w < 0 || w > 65535) return Checked<Bytes>::Refused("data word " + std::to_string(w) + " outside 0..65535");
    p->push_back(static_cast<std::uint8_t>(w & 0xFF));
    p->push_back(static_cast<std::uint8_t>(w >> 8));
  }
  return p;
}

Checked<std::vector<std::int32_t>> WriteValues(VariantArray& values, std::int16_t fileTypeCode, std::int32_t count) {
  using Result = Checked<std::vector<std::int32_t>>;
  if (count < 1) return Result::Refused("no values to write");
  std::vector<std::int32_t> words;
  for (std::int32_t i = 1; i <= count; ++i) {
    const std::string which = "value " + std::to_string(i) + " of " + std::to_string(count);
    if (!values.Contains(i)) return Result::Refused("the values array has no element " + std::to_string(i));
    double v = 0;
    try {
      v = values.Get(i).ToDouble();
    } catch (const RuntimeError&) {
      return Result::Refused(which + " is not a number");
    }
    if (!std::isfinite(v)) return Result::Refused(which + " is not a finite number");
    if (fileTypeCode == kCodeFloat) {
      if (std::fabs(v) > FLT_MAX) return Result::Refused(which + " (" + Number(v) + ") does not fit a single-precision float");
      std::int32_t high = 0, low = 0;
      DecToLongFloat(static_cast<float>(v), high, low);
      words.push_back(low);
      words.push_back(high);
      continue;
    }
    if (v != std::floor(v)) return Result::Refused(which + " (" + Number(v) + ") is not a whole number, which a word holds");
    if (v < -32768 || v > 65535) return Result::Refused(which + " (" + Number(v) + ") is outside -32768..65535, a 16-bit word");
    std::int32_t w = static_cast<std::int32_t>(v);
    if (w < 0) {
      w += 65536;
      if (fileTypeCode == kCodeInteger) {
        try {
          values.Set(i, Variant(static_cast<double>(w)));
        } catch (const RuntimeError& e) {
          // An Integer array cannot hold the word; its negative value already is that word.
          if (e.Number() != err::Overflow) throw;
        }
      }
    }
    words.push_back(w);
  }
  return words;
}

}  // namespace plc::df1
