#include "tools/plcsim/ModbusSimSlave.h"

#include <algorithm>

#include "modbus/AsciiFrame.h"
#include "modbus/Frame.h"
#include "modbus/SlaveRequests.h"

namespace plc::sim {

namespace {

using modbus::Adu;
using modbus::Bytes;

// How long a partial request waits for the rest of its bytes unless the line speed says
// otherwise (see RequestTimeLimitMicros); ASCII allows 1 s between characters.
constexpr std::int64_t kPartialRequestMicros = 1'000'000;
// Slack on the RTU frame time for a pseudo-terminal or a loaded machine, which delay bytes
// where a UART would not.
constexpr std::int64_t kFrameSlackMicros = 50'000;
constexpr std::int64_t kLongestRtuFrame = 256;
// Slack on the silence that ends a frame, for the same reasons; a USB adapter holds bytes up
// to 16 ms.
constexpr std::int64_t kSilenceSlackMicros = 20'000;
// Above 19200 baud the silence is fixed.
constexpr int kFixedSilenceBaud = 19200;
constexpr std::int64_t kFixedSilenceMicros = 1'750;
constexpr int kLateReplyMs = 2500;
constexpr int kSplitGapMs = 50;
constexpr std::size_t kSplitPieces = 3;

// The largest quantities a standard slave serves in one request.
constexpr auto kReadRegisters = static_cast<std::uint16_t>(modbus::kMaxReadRegisters);
constexpr auto kReadBits = static_cast<std::uint16_t>(modbus::kMaxReadBits);
constexpr auto kWriteRegisters = static_cast<std::uint16_t>(modbus::kMaxWriteRegisters);
constexpr auto kWriteBits = static_cast<std::uint16_t>(modbus::kMaxWriteBits);

struct Place {
  ModbusTable table;
  std::size_t index;
};

std::optional<Place> PlaceOf(std::int32_t reference, std::size_t size) {
  if (reference < 1) return std::nullopt;
  std::int32_t kind = reference / 10000;
  std::int32_t point = reference % 10000;
  if (point < 1 || static_cast<std::size_t>(point) > size) return std::nullopt;
  switch (kind) {
    case 0: return Place{ModbusTable::Coils, static_cast<std::size_t>(point - 1)};
    case 1: return Place{ModbusTable::DiscreteInputs, static_cast<std::size_t>(point - 1)};
    case 3: return Place{ModbusTable::InputRegisters, static_cast<std::size_t>(point - 1)};
    case 4: return Place{ModbusTable::HoldingRegisters, static_cast<std::size_t>(point - 1)};
    default: return std::nullopt;
  }
}

// The functions the collector knows the length of.
bool Served(std::uint8_t function) {
  return modbus::IsRead(function) || modbus::IsSingleWrite(function) || modbus::IsMultipleWrite(function);
}

bool IsBitTable(ModbusTable t) { return t == ModbusTable::Coils || t == ModbusTable::DiscreteInputs; }

ModbusTable TableOfFunction(std::uint8_t function) {
  switch (function) {
    case modbus::fn::ReadCoils:
    case modbus::fn::WriteSingleCoil:
    case modbus::fn::WriteMultipleCoils: return ModbusTable::Coils;
    case modbus::fn::ReadDiscreteInputs: return ModbusTable::DiscreteInputs;
    case modbus::fn::ReadInputRegisters: return ModbusTable::InputRegisters;
    default: return ModbusTable::HoldingRegisters;
  }
}

std::uint16_t MaxQuantity(std::uint8_t function) {
  switch (function) {
    case modbus::fn::ReadCoils:
    case modbus::fn::ReadDiscreteInputs: return kReadBits;
    case modbus::fn::ReadHoldingRegisters:
    case modbus::fn::ReadInputRegisters: return kReadRegisters;
    case modbus::fn::WriteMultipleCoils: return kWriteBits;
    case modbus::fn::WriteMultipleRegisters: return kWriteRegisters;
    default: return 1;
  }
}

}  // namespace

const std::vector<std::pair<std::string, ModbusFault>>& ModbusFaultNames() {
  static const std::vector<std::pair<std::string, ModbusFault>> names = {
      {"silent", ModbusFault::Silent}, {"badcrc", ModbusFault::BadCheck}, {"exception", ModbusFault::Exception},
      {"late", ModbusFault::Late},     {"split", ModbusFault::Split},     {"noise", ModbusFault::Noise},
  };
  return names;
}

ModbusSimSlave::ModbusSimSlave(std::uint8_t unit, modbus::Framing framing, std::size_t tableSize)
    : unit_(unit),
      framing_(framing),
      size_(tableSize),
      coils_(tableSize, 0),
      inputs_(tableSize, 0),
      inputRegisters_(tableSize, 0),
      holding_(tableSize, 0),
      collector_(kPartialRequestMicros),
      silence_(FrameSilenceMicros(SerialSettings{})),
      asciiGap_(kPartialRequestMicros) {
  collector_.SetFraming(framing);
}

std::int64_t ModbusSimSlave::FrameSilenceMicros(const SerialSettings& line) {
  if (line.baud > kFixedSilenceBaud) return kFixedSilenceMicros + kSilenceSlackMicros;
  const std::int64_t character = std::int64_t{line.BitsPerCharacter()} * 1'000'000 / std::max(line.baud, 1);
  return 7 * character / 2 + kSilenceSlackMicros;
}

std::optional<std::int64_t> ModbusSimSlave::SilenceDueMicros() const {
  if (held_.empty()) return std::nullopt;
  return heldLast_ + (framing_ == modbus::Framing::Ascii ? asciiGap_ : silence_);
}

std::int64_t ModbusSimSlave::RequestTimeLimitMicros(const SerialSettings& line, modbus::Framing framing) {
  if (framing == modbus::Framing::Ascii) return kPartialRequestMicros;
  const std::int64_t character = std::int64_t{line.BitsPerCharacter()} * 1'000'000 / std::max(line.baud, 1);
  return (kLongestRtuFrame * 2 + 7) * character / 2 + kFrameSlackMicros;
}

void ModbusSimSlave::SetRequestTimeLimit(std::int64_t micros) {
  collector_ = modbus::SlaveRequestCollector(micros);
  collector_.SetFraming(framing_);
  asciiGap_ = micros;
}

std::vector<std::uint16_t>& ModbusSimSlave::TableOf(ModbusTable table) {
  switch (table) {
    case ModbusTable::Coils: return coils_;
    case ModbusTable::DiscreteInputs: return inputs_;
    case ModbusTable::InputRegisters: return inputRegisters_;
    case ModbusTable::HoldingRegisters: break;
  }
  return holding_;
}

const std::vector<std::uint16_t>& ModbusSimSlave::TableOf(ModbusTable table) const {
  return const_cast<ModbusSimSlave*>(this)->TableOf(table);
}

bool ModbusSimSlave::Set(std::int32_t reference, std::int32_t value) {
  auto place = PlaceOf(reference, size_);
  if (!place) return false;
  if (IsBitTable(place->table) ? (value != 0 && value != 1) : (value < 0 || value > 65535)) return false;
  TableOf(place->table)[place->index] = static_cast<std::uint16_t>(value);
  return true;
}

std::optional<std::int32_t> ModbusSimSlave::Get(std::int32_t reference) const {
  auto place = PlaceOf(reference, size_);
  if (!place) return std::nullopt;
  return TableOf(place->table)[place->index];
}

ModbusFault ModbusSimSlave::TakeFault() {
  if (!next_.empty()) {
    ModbusFault f = next_.front();
    next_.pop_front();
    return f;
  }
  return always_;
}

std::optional<Adu> ModbusSimSlave::Serve(const Adu& adu) {
  const bool broadcast = adu.unit == 0;
  if (!broadcast && adu.unit != unit_) return std::nullopt;
  ++served_;
  modbus::ParsedRequest parsed = modbus::ParseRequest(adu);
  auto refuse = [&](std::uint8_t code) -> std::optional<Adu> {
    if (broadcast) return std::nullopt;
    return modbus::ExceptionReply(unit_, adu.function, code);
  };
  if (!parsed) return refuse(modbus::ExceptionCodeFor(parsed.error));
  const modbus::SlaveRequest& r = parsed.request;
  // Reads are never broadcast: a slave does not answer them, nor carry them out.
  if (broadcast && modbus::IsRead(r.function)) return std::nullopt;
  if (r.count < 1 || r.count > MaxQuantity(r.function)) return refuse(modbus::ex::IllegalDataValue);
  if (r.function == modbus::fn::WriteSingleCoil && r.value != 0 && r.value != 0xFF00)
    return refuse(modbus::ex::IllegalDataValue);
  if (static_cast<std::size_t>(r.offset) + r.count > size_) return refuse(modbus::ex::IllegalDataAddress);

  std::vector<std::uint16_t>& table = TableOf(TableOfFunction(r.function));
  const auto first = table.begin() + r.offset;
  switch (r.function) {
    case modbus::fn::ReadCoils:
    case modbus::fn::ReadDiscreteInputs: {
      std::vector<std::uint8_t> points(first, first + r.count);
      return modbus::ReadBitsReply(unit_, r.function, points);
    }
    case modbus::fn::ReadHoldingRegisters:
    case modbus::fn::ReadInputRegisters:
      return modbus::ReadRegistersReply(unit_, r.function, std::vector<std::uint16_t>(first, first + r.count));
    case modbus::fn::WriteSingleCoil: table[r.offset] = r.value == 0xFF00 ? 1 : 0; break;
    case modbus::fn::WriteSingleRegister: table[r.offset] = r.value; break;
    default:
      for (std::size_t k = 0; k < r.count && k < r.values.size(); ++k) table[r.offset + k] = r.values[k];
      break;
  }
  if (broadcast) return std::nullopt;
  return modbus::WriteEchoReply(r);
}

std::vector<ModbusSimSend> ModbusSimSlave::Framed(const Adu& reply, ModbusFault fault) const {
  Bytes frame = modbus::BuildFrame(reply, framing_);
  switch (fault) {
    case ModbusFault::Silent: return {};
    case ModbusFault::BadCheck:
      // RTU: the CRC's high byte; ASCII: the LRC's second digit, still a digit.
      if (framing_ == modbus::Framing::Rtu) frame.back() ^= 0x5A;
      else frame[frame.size() - 3] = frame[frame.size() - 3] == '0' ? '1' : '0';
      return {{0, frame}};
    case ModbusFault::Late: return {{kLateReplyMs, frame}};
    case ModbusFault::Split: {
      std::vector<ModbusSimSend> pieces;
      std::size_t step = (frame.size() + kSplitPieces - 1) / kSplitPieces;
      for (std::size_t at = 0; at < frame.size(); at += step) {
        auto end = std::min(frame.size(), at + step);
        pieces.push_back({at == 0 ? 0 : kSplitGapMs, Bytes(frame.begin() + static_cast<std::ptrdiff_t>(at),
                                                          frame.begin() + static_cast<std::ptrdiff_t>(end))});
      }
      return pieces;
    }
    case ModbusFault::Noise: {
      Bytes noisy = framing_ == modbus::Framing::Rtu ? Bytes{0xFF, 0x00, 0xA5} : Bytes{'#', 0x00, '7'};
      noisy.insert(noisy.end(), frame.begin(), frame.end());
      return {{0, noisy}};
    }
    default: return {{0, frame}};
  }
}

void ModbusSimSlave::Respond(const Adu& request, std::vector<ModbusSimSend>& out) {
  // A fault is taken by a request addressed to this slave; a failing slave carries out
  // nothing it refuses.
  ModbusFault fault = request.unit == unit_ ? TakeFault() : ModbusFault::None;
  std::optional<Adu> reply;
  if (fault == ModbusFault::Exception) {
    ++served_;
    reply = modbus::ExceptionReply(unit_, request.function, modbus::ex::ServerDeviceFailure);
  } else {
    reply = Serve(request);
  }
  if (!reply) return;
  for (ModbusSimSend& s : Framed(*reply, fault)) out.push_back(std::move(s));
}

int ModbusSimSlave::Drain(std::vector<ModbusSimSend>& out) {
  int broken = 0;
  for (;;) {
    modbus::CollectedRequest c = collector_.Next();
    if (c.kind == modbus::SlaveInput::NeedMore) return broken;
    if (c.kind == modbus::SlaveInput::Broken) {
      ++broken;  // a real slave stays silent on a frame that fails its check
      ++broken_;
      continue;
    }
    Respond(c.adu, out);
  }
}

void ModbusSimSlave::EndHeldFrame(std::size_t length, std::int64_t nowMicros, std::vector<ModbusSimSend>& out) {
  const Bytes frame(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(length));
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(length));
  if (modbus::ParsedFrame parsed = modbus::ParseFrame(frame, framing_)) {
    Respond(parsed.adu, out);
    return;
  }
  // Noise may stand before a request the collector can still find; what it keeps of these
  // bytes after that, the silence has ended.
  collector_.Add(frame, nowMicros);
  const int reported = Drain(out);
  if (collector_.Buffered() > 0) {
    collector_.Clear();
    if (reported == 0) ++broken_;
  }
}

void ModbusSimSlave::SettleHeld(std::int64_t nowMicros, std::vector<ModbusSimSend>& out) {
  while (!held_.empty()) {
    if (framing_ == modbus::Framing::Ascii) {
      held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(modbus::SkipToColon(held_)));
      if (held_.empty()) return;
      const auto end = modbus::AsciiLineEnd(held_);
      const auto colon = std::find(held_.begin() + 1, held_.end(), ':');
      if (colon != held_.end() && (!end || colon - held_.begin() < static_cast<std::ptrdiff_t>(*end))) {
        EndHeldFrame(static_cast<std::size_t>(colon - held_.begin()), nowMicros, out);  // cut off by a new frame
        continue;
      }
      const Bytes known = modbus::AsciiKnownBytes(held_);
      if (known.size() < 2 && !end && held_.size() < 5) return;  // the function is still to come
      if (known.size() >= 2 && !Served(known[1])) {
        if (!end) return;
        EndHeldFrame(*end, nowMicros, out);
        continue;
      }
    } else {
      if (held_.size() < 2) return;
      if (!Served(held_[1])) return;  // runs to the silence
    }
    collector_.Add(held_, nowMicros);
    held_.clear();
  }
}

std::vector<ModbusSimSend> ModbusSimSlave::Feed(modbus::ByteView bytes, std::int64_t nowMicros) {
  std::vector<ModbusSimSend> out;
  // The line fell silent on what was held before these bytes came.
  if (auto due = SilenceDueMicros(); due && nowMicros >= *due) EndHeldFrame(held_.size(), nowMicros, out);
  if (!bytes.empty()) {
    // A frame start is held until its function says whether the collector can cut it.
    if (held_.empty() && collector_.Buffered() > 0) {
      collector_.Add(bytes, nowMicros);
    } else {
      held_.insert(held_.end(), bytes.begin(), bytes.end());
      heldLast_ = nowMicros;
    }
  }
  SettleHeld(nowMicros, out);
  Drain(out);
  return out;
}

}  // namespace plc::sim
