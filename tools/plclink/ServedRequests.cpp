#include "tools/plclink/ServedRequests.h"

#include <algorithm>
#include <functional>
#include <sstream>

#include "modbus/AsciiFrame.h"
#include "modbus/Frame.h"
#include "modbus/ModbusSlave.h"
#include "modbus/Replies.h"
#include "modbus/SlaveRequests.h"

namespace plc::plclink {

namespace {

using modbus::Framing;

struct Table {
  const char* name;
  std::int32_t base;  // the reference of offset 0
  // EnType2 32-bit integers and floats: each value is two registers, the first high.
  bool pairs = false;
  bool floats = false;
};

// EnType2: the address is the element, its kind the address div 1000; the slave takes two
// registers per value of kinds 5 and 7 in reads and in multiple writes.
std::optional<Table> Type2TableOf(int function, std::uint16_t address) {
  if (modbus::IsBitRead(static_cast<std::uint8_t>(function)) || function == 5 || function == 15)
    return Table{"bits", 0};
  if (!modbus::IsRegisterRead(static_cast<std::uint8_t>(function)) && function != 6 && function != 16)
    return std::nullopt;
  const bool pairs = function != 6;
  switch (address / 1000) {
    case 5: return Table{"32-bit integers", 0, pairs};
    case 7: return Table{"floats", 0, pairs, true};
    default: return Table{"words", 0};
  }
}

std::optional<Table> TableOf(int function, std::uint16_t offset, bool type2) {
  if (type2) return Type2TableOf(function, offset);
  switch (function) {
    case 1:
    case 5:
    case 15: return Table{"coils", 1};
    case 2: return Table{"discrete inputs", 10001};
    case 3:
    case 6:
    case 16: return Table{"holding registers", 40001};
    case 4: return Table{"input registers", 30001};
    default: return std::nullopt;
  }
}

// The values a read answer carries: bits unpacked (count of them) or registers.
std::vector<std::int32_t> AnswerValues(const modbus::Adu& answer, std::uint8_t function, std::int32_t count) {
  if (!modbus::IsBitRead(function)) {
    std::vector<std::uint16_t> registers = modbus::DecodeRegisters(answer);
    return {registers.begin(), registers.end()};
  }
  std::vector<std::uint8_t> bits = modbus::DecodeBits(answer);
  bits.resize(std::min(bits.size(), static_cast<std::size_t>(std::max(count, std::int32_t{0}))));
  return {bits.begin(), bits.end()};
}

// Each two registers as one 32-bit value, the first high.
std::vector<std::int32_t> Paired(const std::vector<std::int32_t>& registers) {
  std::vector<std::int32_t> values;
  for (std::size_t k = 0; k + 1 < registers.size(); k += 2)
    values.push_back(static_cast<std::int32_t>((static_cast<std::uint32_t>(registers[k]) << 16) |
                                               (static_cast<std::uint32_t>(registers[k + 1]) & 0xFFFF)));
  return values;
}

// Takes the first frame off the front of `bytes`: up to its line end in ASCII, else the
// length `rtuLength` gives for what has arrived.
std::vector<std::uint8_t> TakeFrame(std::vector<std::uint8_t>& bytes, Framing framing,
                                    const std::function<std::size_t(const std::vector<std::uint8_t>&)>& rtuLength) {
  if (framing == Framing::Ascii) {
    // Whatever came before the colon is no part of the frame.
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(modbus::SkipToColon(bytes)));
  }
  // Measured only now: the length may not count bytes dropped above.
  std::size_t length = bytes.size();
  if (framing == Framing::Ascii) {
    auto lf = std::find(bytes.begin(), bytes.end(), std::uint8_t{'\n'});
    if (lf != bytes.end()) length = static_cast<std::size_t>(lf - bytes.begin()) + 1;
  } else {
    length = std::min(length, rtuLength(bytes));
  }
  std::vector<std::uint8_t> frame(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
  return frame;
}

// An RTU answer's length from its first three bytes: exception 5, read 5 + byte count, echo 8.
std::size_t AnswerLength(const std::vector<std::uint8_t>& b) {
  if (b.size() < 3) return b.size();
  if (b[1] & 0x80) return 5;
  if (b[1] >= 1 && b[1] <= 4) return 5u + b[2];
  return 8;
}

}  // namespace

ServedRequests::ServedRequests(bool ascii, bool type2)
    : ascii_(ascii), type2_(type2), rx_(modbus::kSlavePartialMicros) {
  rx_.SetFraming(ascii ? Framing::Ascii : Framing::Rtu);
}

void ServedRequests::Received(const std::uint8_t* data, std::size_t size, std::int64_t wallMicros) {
  rx_.Add(modbus::ByteView(data, size), wallMicros);
  // Decided at once, as the slave decides on each receive notification: a stretch of bad bytes
  // is one event however the requests are taken.
  for (modbus::CollectedRequest next = rx_.Next(); next.kind != modbus::SlaveInput::NeedMore; next = rx_.Next())
    decided_.push_back(std::move(next));
}

ServedRequest ServedRequests::Take() {
  ServedRequest r;
  const Framing framing = ascii_ ? Framing::Ascii : Framing::Rtu;
  // Requests that arrived together are served one per event, each with its own bytes.
  modbus::CollectedRequest request;
  if (!decided_.empty()) {
    request = std::move(decided_.front());
    decided_.pop_front();
  }
  if (request.kind != modbus::SlaveInput::Request) {
    if (request.kind == modbus::SlaveInput::Broken) {
      r.problem = "a request with a bad check or length";
    } else if (rx_.Buffered() > 0) {
      r.problem = "a request cut short";
      rx_.Clear();
    } else {
      r.problem = "no request bytes seen";
    }
    return r;
  }
  const modbus::Adu& adu = request.adu;
  r.unit = adu.unit;
  r.function = adu.function;
  modbus::ParsedRequest parsed = modbus::ParseRequest(adu);
  // What the slave sent for it, if anything, is this request's answer, not the next one's.
  const modbus::ParsedFrame answer = modbus::ParseFrame(TakeFrame(tx_, framing, AnswerLength), framing);
  if (!parsed) {
    // A request the slave could not read whole may still have been refused.
    if (answer && answer.adu.IsException()) {
      r.answered = true;
      r.exception = answer.adu.ExceptionCode();
      const auto offset = static_cast<std::uint16_t>(adu.data.size() >= 2 ? (adu.data[0] << 8) | adu.data[1] : 0);
      if (auto table = TableOf(adu.function, offset, type2_); table && adu.data.size() >= 4) {
        r.table = table->name;
        r.first = table->base + offset;
        r.count = (adu.data[2] << 8) | adu.data[3];
        if (table->pairs) r.count = (r.count + 1) / 2;
        r.write = true;
      }
    } else {
      r.problem = modbus::RequestErrorText(parsed.error);
    }
    return r;
  }
  const modbus::SlaveRequest& q = parsed.request;
  const std::optional<Table> table = TableOf(q.function, q.offset, type2_);
  const bool pairs = table && table->pairs;
  if (table) {
    r.table = table->name;
    r.first = table->base + q.offset;
    r.floats = table->floats;
  }
  r.count = q.count;
  r.write = modbus::IsSingleWrite(q.function) || modbus::IsMultipleWrite(q.function);
  // A multiple write of pairs counts registers; a read of them counts values.
  if (pairs && r.write) r.count = (r.count + 1) / 2;
  if (q.function == 5) r.values = {q.value == 0xFF00 ? 1 : 0};
  else if (q.function == 6) r.values = {q.value};
  else if (r.write) r.values.assign(q.values.begin(), q.values.end());
  if (pairs && r.write) r.values = Paired(r.values);

  if (answer) {
    r.answered = true;
    if (answer.adu.IsException()) r.exception = answer.adu.ExceptionCode();
    else if (!r.write) r.values = AnswerValues(answer.adu, q.function, q.count);
    if (pairs && !r.write && !r.exception) r.values = Paired(r.values);
  }
  return r;
}

std::string ReferenceText(std::int32_t ref) {
  std::string digits = std::to_string(ref);
  return digits.size() < 5 ? std::string(5 - digits.size(), '0') + digits : digits;
}

std::optional<double> FloatOf(std::int32_t pattern) {
  const auto bits = static_cast<std::uint32_t>(pattern);
  std::optional<float> real =
      modbus::FloatFromWords(static_cast<std::uint16_t>(bits >> 16), static_cast<std::uint16_t>(bits & 0xFFFF));
  if (!real) return std::nullopt;
  return static_cast<double>(*real);
}

std::string Describe(const ServedRequest& r) {
  if (!r.problem.empty()) return "request not served: " + r.problem;
  std::string text = "unit " + std::to_string(r.unit) + " ";
  if (r.table.empty()) {
    text += "function " + std::to_string(r.function);
    if (!r.exception) return text + (r.answered ? "" : ", not answered");
  } else {
    // Only a coil's reference needs its leading zeros to tell its table.
    auto reference = [&r](std::int32_t ref) { return r.table == "coils" ? ReferenceText(ref) : std::to_string(ref); };
    text += r.table + " " + reference(r.first);
    if (r.count > 1) text += ".." + reference(r.first + r.count - 1);
  }
  if (r.exception) {
    static const char* const kNames[] = {"", "illegal function", "illegal data address", "illegal data value",
                                         "server device failure"};
    int code = *r.exception;
    return text + " refused: exception " + std::to_string(code) +
           (code >= 1 && code <= 4 ? std::string(" (") + kNames[code] + ")" : "");
  }
  if (!r.answered) return text + (r.write ? " write" : " read") + " not answered";
  text += r.write ? " written:" : " read:";
  for (std::int32_t v : r.values) {
    if (!r.floats) {
      text += " " + std::to_string(v);
    } else if (std::optional<double> real = FloatOf(v)) {
      std::ostringstream number;
      number << *real;
      text += " " + number.str();
    } else {
      text += " not-a-number";
    }
  }
  return text;
}

}  // namespace plc::plclink
