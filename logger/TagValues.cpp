#include "logger/TagValues.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "base/Dispatch.h"
#include "base/IoDataType.h"
#include "base/RuntimeError.h"

namespace plc::logger {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// The 16 bits of a value as a register holds them (a signed DF1 integer as its pattern).
std::uint16_t Bits(double v) { return static_cast<std::uint16_t>(static_cast<std::int64_t>(std::llround(v)) & 0xFFFF); }

std::string Hex(std::uint16_t w) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", w);
  return text;
}

// A number as a person wrote it (23.55, not 23.550000).
std::string Shortest(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

}  // namespace

std::optional<double> RawValue(const TagRow& tag, const std::vector<Variant>& values, std::string& why) {
  const std::int32_t first = tag.element;
  const std::int32_t needed = first + ElementsOf(tag.ioType) - 1;
  if (first < 1 || needed > static_cast<std::int32_t>(values.size())) {
    why = "the read returned " + std::to_string(values.size()) + " values; " + tag.name + " needs value " +
          std::to_string(needed);
    return std::nullopt;
  }
  double a = 0, b = 0;
  bool numbers = true;
  try {
    a = values[static_cast<std::size_t>(first - 1)].ToDouble();
    if (ElementsOf(tag.ioType) == 2) b = values[static_cast<std::size_t>(first)].ToDouble();
  } catch (const RuntimeError&) {
    numbers = false;
  }
  // A float file's element comes as the single it holds, an infinity or NaN included.
  if (!numbers || !std::isfinite(a) || !std::isfinite(b)) {
    why = "the read returned a value that is no number for " + tag.name;
    return std::nullopt;
  }
  // Every other type is made of words: a value no word holds (a float file's 12.5, a long's
  // 70000) would be rounded or cut into another reading.
  if (tag.ioType != TagIoType::Word) {
    for (std::int32_t k = 0; k < ElementsOf(tag.ioType); ++k) {
      const double v = k == 0 ? a : b;
      if (v != std::trunc(v) || v < -32768 || v > 65535) {
        why = "the read returned " + Shortest(v) + " for " + tag.name + ", which is no 16-bit word (iotype " +
              TagIoTypeName(tag.ioType) + " takes words)";
        return std::nullopt;
      }
    }
  }
  auto pair = [](std::uint16_t high, std::uint16_t low) {
    return (static_cast<std::uint32_t>(high) << 16) | static_cast<std::uint32_t>(low);
  };
  switch (tag.ioType) {
    case TagIoType::Word:
      return a;
    case TagIoType::Int:
      return static_cast<std::int16_t>(Bits(a));
    case TagIoType::Bcd: {
      const std::uint16_t w = Bits(a);
      double v = 0;
      for (int shift = 12; shift >= 0; shift -= 4) {
        const int digit = (w >> shift) & 0xF;
        if (digit > 9) {
          why = Hex(w) + " is not a BCD number";
          return std::nullopt;
        }
        v = v * 10 + digit;
      }
      return v;
    }
    case TagIoType::Bit:
      return (Bits(a) >> tag.bit) & 1;
    case TagIoType::Long:
      return static_cast<std::int32_t>(pair(Bits(a), Bits(b)));
    case TagIoType::LongLowFirst:
      return static_cast<std::int32_t>(pair(Bits(b), Bits(a)));
    case TagIoType::Float:
    case TagIoType::FloatLowFirst: {
      const std::uint32_t bits = tag.ioType == TagIoType::Float ? pair(Bits(a), Bits(b)) : pair(Bits(b), Bits(a));
      const float f = std::bit_cast<float>(bits);
      if (!std::isfinite(f)) {
        why = "the words of " + tag.name + " are no finite float";
        return std::nullopt;
      }
      return f;
    }
    case TagIoType::Fixed:
      return FixedPointRead(Bits(a), Bits(b));
  }
  return a;
}

TagValues::TagValues(std::vector<TagRow> rows) : rows_(std::move(rows)), states_(rows_.size()) {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const TagRow& r = rows_[i];
    infos_.push_back(TagInfo{r.name, r.control, r.address, r.description, r.unit, TagIoTypeName(r.ioType), r.scale,
                             r.offset, r.deadband, r.writable});
    if (r.scan != 0) byGroup_[{Lower(r.control), r.scan}].push_back(static_cast<std::int32_t>(i));
  }
}

bool TagValues::Scans(const std::string& control) const {
  const std::string key = Lower(control);
  for (const auto& [group, tags] : byGroup_)
    if (group.first == key) return true;
  return false;
}

void TagValues::Take(const ScanResult& result, Batch& out) {
  const GroupKey key{Lower(result.control), result.index};
  LineState& line = lines_[key.first];
  line.groups.insert(result.index);
  if (!result.error.empty()) {
    ++line.failures;
    const bool first = line.failing.empty();
    line.failing.insert(result.index);
    if (first) {
      out.failures.push_back({result.timeUs, FailureKind::Failed, result.control, std::nullopt, result.index,
                              result.error});
    } else if (line.partly && line.failing.size() == line.groups.size()) {
      line.partly = false;
      out.failures.push_back({result.timeUs, FailureKind::Failed, result.control, std::nullopt, result.index,
                              "every group fails now: " + result.error});
    }
  } else if (!line.failing.empty()) {
    if (line.failing.erase(result.index) == 0) line.partly = true;
    if (line.failing.empty()) {
      out.failures.push_back({result.timeUs, FailureKind::Recovered, result.control, std::nullopt, result.index,
                              "read again after " + std::to_string(line.failures) + " failed read" +
                                  (line.failures == 1 ? "" : "s")});
      line.failures = 0;
      line.partly = false;
    }
  }
  const auto tags = byGroup_.find(key);
  if (tags == byGroup_.end()) return;
  for (std::int32_t index : tags->second) {
    const TagRow& tag = rows_[static_cast<std::size_t>(index)];
    TagState& state = states_[static_cast<std::size_t>(index)];
    std::string why = result.error;
    std::optional<double> raw;
    if (why.empty()) raw = RawValue(tag, result.values, why);
    if (!raw) {
      if (!state.seen || state.good) {
        out.samples.push_back({index, result.timeUs, std::nullopt, Quality::Bad, why});
        // A failed read is its group's record; a value that cannot be made is the tag's own.
        if (result.error.empty())
          out.failures.push_back({result.timeUs, FailureKind::Failed, result.control, index, result.index, why});
      }
      state.seen = true;
      state.good = false;
      continue;
    }
    const double value = *raw * tag.scale + tag.offset;
    const bool keep = !tag.deadband || !state.seen || !state.good || std::fabs(value - state.last) > *tag.deadband;
    if (!keep) continue;
    out.samples.push_back({index, result.timeUs, value, Quality::Good, {}});
    state.seen = true;
    state.good = true;
    state.last = value;
  }
}

std::optional<std::int32_t> TagValues::Find(const std::string& name) const {
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (NamesEqual(rows_[i].name, name)) return static_cast<std::int32_t>(i);
  return std::nullopt;
}

std::optional<std::int32_t> TagValues::RawForWrite(std::int32_t tag, double value, std::string& why) const {
  if (tag < 0 || static_cast<std::size_t>(tag) >= rows_.size()) {
    why = "no such tag";
    return std::nullopt;
  }
  const TagRow& t = rows_[static_cast<std::size_t>(tag)];
  if (!t.writable) {
    why = t.name + " is not writable";
    return std::nullopt;
  }
  const double exact = (value - t.offset) / t.scale;
  if (!std::isfinite(exact)) {
    why = "the value is no number";
    return std::nullopt;
  }
  const double raw = std::nearbyint(exact);
  // A value between two steps of the register would be written as the step next to it: only the
  // error of the division itself (23.4 / 0.1 is 233.99999999999997) is taken for no difference.
  if (std::fabs(exact - raw) > 1e-9 * std::max(1.0, std::fabs(exact))) {
    why = Shortest(value) + " is no whole step of " + t.name + "'s register (" + Shortest(exact) +
          " in it): it would be written as " + Shortest(raw * t.scale + t.offset);
    return std::nullopt;
  }
  auto outside = [&](double low, double high) {
    if (raw >= low && raw <= high) return false;
    why = std::to_string(value) + " is " + std::to_string(raw) + " in " + t.name + "'s register, outside " +
          std::to_string(static_cast<std::int64_t>(low)) + ".." + std::to_string(static_cast<std::int64_t>(high));
    return true;
  };
  switch (t.ioType) {
    case TagIoType::Word:
      if (outside(0, 65535)) return std::nullopt;
      return static_cast<std::int32_t>(raw);
    case TagIoType::Int:
      if (outside(-32768, 32767)) return std::nullopt;
      return static_cast<std::int32_t>(raw) & 0xFFFF;
    case TagIoType::Bcd: {
      if (outside(0, 9999)) return std::nullopt;
      std::int32_t n = static_cast<std::int32_t>(raw), word = 0;
      for (int shift = 0; shift < 16; shift += 4, n /= 10) word |= (n % 10) << shift;
      return word;
    }
    default:
      why = t.name + " is not one register written whole";
      return std::nullopt;
  }
}

}  // namespace plc::logger
