#include "df1/Requests.h"

#include "core/Conversions.h"
#include "core/RuntimeError.h"

namespace plc::df1 {

namespace {

bool IsByte(std::int32_t v) { return v >= 0 && v <= 255; }

std::optional<Bytes> Head(const RequestHead& h) {
  if (!IsByte(h.dst) || !IsByte(h.src) || h.tns < 0 || h.tns > 65535) return std::nullopt;
  return Bytes{static_cast<std::uint8_t>(h.dst), static_cast<std::uint8_t>(h.src), kCommand, 0x00,
               static_cast<std::uint8_t>(h.tns & 0xFF), static_cast<std::uint8_t>(h.tns >> 8)};
}

void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

// The typed read and write share everything up to the data.
std::optional<Bytes> TypedHead(const RequestHead& h, std::uint8_t function, std::int64_t byteCount, const ParsedAddress& a) {
  auto head = Head(h);
  auto file = AddressField(a.FileNumber);
  auto element = AddressField(a.ElementNumber);
  if (!head || !file || !element || byteCount < 1 || byteCount > 255) return std::nullopt;
  Bytes p = std::move(*head);
  p.push_back(function);
  p.push_back(static_cast<std::uint8_t>(byteCount));
  Append(p, *file);
  p.push_back(FileTypeOf(a.FileTypeCode).typeByte);
  Append(p, *element);
  p.push_back(0x00);  // sub-element
  return p;
}

}  // namespace

std::int32_t NextTns(std::int32_t tns) {
  std::int32_t next = tns + 1;
  return next >= kLastTns + 1 || next < 1 ? 1 : next;
}

std::optional<Bytes> AddressField(std::int32_t number) {
  if (number < 0 || number > 65535) return std::nullopt;
  if (number < 255) return Bytes{static_cast<std::uint8_t>(number)};
  return Bytes{0xFF, static_cast<std::uint8_t>(number & 0xFF), static_cast<std::uint8_t>(number >> 8)};
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

std::optional<Bytes> ReadPayload(const RequestHead& h, const ParsedAddress& a, std::int32_t count, std::int32_t plcType) {
  const std::int64_t byteCount = std::int64_t{FileTypeOf(a.FileTypeCode).elementBytes} * count;
  if (plcType != kPlc5) return TypedHead(h, kTypedRead, byteCount, a);
  auto head = Head(h);
  if (!head || byteCount < 1 || byteCount > 255 || a.FileNumber < 0 || a.ElementNumber < 0) return std::nullopt;
  Bytes p = std::move(*head);
  p.insert(p.end(), {kWordRangeRead, 0x00, 0x00, static_cast<std::uint8_t>(count & 0xFF),
                     static_cast<std::uint8_t>((count >> 8) & 0xFF)});
  Append(p, Plc5SystemAddress(a.FileTypeCode, a.FileNumber, a.ElementNumber));
  p.push_back(static_cast<std::uint8_t>(byteCount));
  return p;
}

std::optional<Bytes> WritePayload(const RequestHead& h, const ParsedAddress& a, std::int32_t valueCount,
                                  std::span<const std::int32_t> words) {
  const std::int64_t byteCount = std::int64_t{FileTypeOf(a.FileTypeCode).elementBytes} * valueCount;
  auto p = TypedHead(h, kTypedWrite, byteCount, a);
  if (!p) return std::nullopt;
  for (std::int32_t w : words) {
    if (w < 0 || w > 65535) return std::nullopt;
    p->push_back(static_cast<std::uint8_t>(w & 0xFF));
    p->push_back(static_cast<std::uint8_t>(w >> 8));
  }
  return p;
}

std::optional<std::vector<std::int32_t>> WriteValues(VariantArray& values, std::int16_t fileTypeCode, std::int32_t count) {
  // More values than a byte count can carry are refused before the caller's array is touched.
  if (count < 1 || std::int64_t{FileTypeOf(fileTypeCode).elementBytes} * count > 255) return std::nullopt;
  std::vector<std::int32_t> words;
  try {
    for (std::int32_t i = 1; i <= count; ++i) {
      const Variant& v = values.Get(i);
      if (fileTypeCode == kCodeFloat) {
        std::int32_t high = 0, low = 0;
        DecToLongFloat(v.ToSingle(), high, low);
        words.push_back(low);
        words.push_back(high);
        continue;
      }
      std::int32_t w = v.ToInt32();
      if (fileTypeCode == kCodeInteger && w < 0) {
        w += 65536;
        values.Set(i, Variant(static_cast<double>(w)));
      }
      if (w < 0 || w > 65535) return std::nullopt;
      words.push_back(w);
    }
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
  return words;
}

}  // namespace plc::df1
