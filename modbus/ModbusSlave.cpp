#include "modbus/ModbusSlave.h"

#include <algorithm>
#include <cmath>

#include "core/RuntimeError.h"
#include "core/WallSeconds.h"
#include "modbus/Frame.h"

namespace plc::modbus {
namespace {

// The first wait: more than this many units buffered.
constexpr std::size_t kRtuFirstUnits = 8;
constexpr std::size_t kAsciiFirstUnits = 17;

// Image index of offset 0 of the table a function works on.
std::int32_t TableBase(std::uint8_t function) {
  switch (function) {
    case fn::ReadDiscreteInputs: return 10001;
    case fn::ReadInputRegisters: return 30001;
    case fn::ReadHoldingRegisters:
    case fn::WriteSingleRegister:
    case fn::WriteMultipleRegisters: return 40001;
    default: return 1;  // coils
  }
}

std::uint16_t Low16(std::int32_t v) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xFFFF); }

// (p - 3) / 2, halves to even: p is the request without its checksum.
std::int16_t QuanOf(std::size_t messageLength) {
  double q = std::nearbyint((static_cast<double>(messageLength) - 3.0) / 2.0);
  return static_cast<std::int16_t>(q);
}

bool IsType2Pair(std::int32_t kind) { return kind == 5 || kind == 7; }

}  // namespace

ModbusSlave::ModbusSlave(SerialPort& port, ModbusMaster& master, RegisterImageArray& image, EventLoop& loop)
    : port_(port), master_(master), image_(image), loop_(loop) {}

Framing ModbusSlave::CurrentFraming() const {
  return master_.ModBusMode() == rtu::SlaveAscii || master_.ModBusMode() == rtu::Ascii ? Framing::Ascii
                                                                                       : Framing::Rtu;
}

void ModbusSlave::Collect() {
  if (port_.InBufferCount() > 0) {
    port_.SetInputLen(0);
    Bytes in = port_.InputBytes();
    collected_.insert(collected_.end(), in.begin(), in.end());
  }
  if (CurrentFraming() == Framing::Ascii) {
    // Noise between frames is no request: a frame starts at its colon.
    auto colon = std::find(collected_.begin(), collected_.end(), std::uint8_t{':'});
    collected_.erase(collected_.begin(), colon);
  }
}

bool ModbusSlave::WaitForUnits(std::size_t units) {
  return WaitSeconds(
      loop_,
      [this, units] {
        Collect();
        return collected_.size() >= units;
      },
      WallNow(loop_), kReplySeconds);
}

void ModbusSlave::HandleSlaveRequest() {
  // The waits below run the loop, and with it the notifications of the bytes still arriving.
  if (handling_) return;
  handling_ = true;
  try {
    // Back-to-back requests: serve each one that is already complete.
    while (ServeOne()) {
      Framing framing = CurrentFraming();
      std::size_t first = framing == Framing::Ascii ? kAsciiFirstUnits : kRtuFirstUnits;
      if (collected_.size() < first || RequestUnitsStillNeeded(collected_, framing) != 0) break;
    }
  } catch (...) {
    handling_ = false;
    throw;
  }
  handling_ = false;
}

bool ModbusSlave::ServeOne() {
  MasterTransaction& tx = master_.Transaction();
  tx.ReplyFailed = false;
  Framing framing = CurrentFraming();
  // A partial request stays collected: the next notification waits for the rest.
  if (!WaitForUnits(framing == Framing::Ascii ? kAsciiFirstUnits : kRtuFirstUnits)) return false;

  std::int64_t start = WallNow(loop_);
  WaitSeconds(
      loop_,
      [this, framing] {
        Collect();
        return RequestUnitsStillNeeded(collected_, framing) == 0;
      },
      start, kReplySeconds);

  // The request ends at its computed length (in ASCII at its line end); what follows is the
  // start of the next one. A request still incomplete is checked as it stands, and fails.
  std::size_t length = std::min(collected_.size(), RequestFrameLength(collected_, framing));
  if (framing == Framing::Ascii) {
    auto lf = std::find(collected_.begin(), collected_.end(), std::uint8_t{'\n'});
    if (lf != collected_.end()) length = static_cast<std::size_t>(lf - collected_.begin()) + 1;
  }
  Bytes frame(collected_.begin(), collected_.begin() + static_cast<std::ptrdiff_t>(length));
  collected_.erase(collected_.begin(), collected_.begin() + static_cast<std::ptrdiff_t>(length));

  ParsedFrame parsed = ParseFrame(frame, framing);
  if (!parsed) {
    // Where the next request starts is unknown now: start afresh with the next bytes, as a
    // remnant kept here would shift every later request as well.
    collected_.clear();
    tx.ReplyFailed = true;
    tx.ReadPending = false;
    tx.WritePending = false;
    Bytes known = KnownMessageBytes(frame, framing);
    std::int16_t quan = 0;
    if (known.size() >= 6 && IsMultipleWrite(known[1])) {
      quan = static_cast<std::int16_t>((known[4] << 8) | known[5]);
    }
    RaiseEvent(-2, quan);
    return true;
  }

  ParsedRequest request = ParseRequest(parsed.adu);
  // A request the slave cannot read whole (unknown function, lengths that disagree) is left
  // unanswered.
  if (request) {
    if (master_.PLCType() == rtu::EnType2) {
      ServeType2(request.request);
    } else if (parsed.adu.unit == master_.UnitAddress()) {
      Serve(request.request);
    }
  }
  RaiseEvent(parsed.adu.function, QuanOf(2 + parsed.adu.data.size()));
  return true;
}

bool ModbusSlave::InImage(std::int64_t first, std::int64_t count) const {
  return count >= 1 && first >= 0 && first + count <= static_cast<std::int64_t>(image_.size());
}

void ModbusSlave::Serve(const SlaveRequest& r) {
  std::uint8_t f = r.function;
  std::int32_t reference = std::int32_t{r.offset} + TableBase(f);
  if (IsRead(f)) {
    std::size_t limit = IsBitRead(f) ? kSlaveMaxBits : kSlaveMaxRegisters;
    if (r.count > limit || !InImage(reference, r.count)) return;
    SendSlaveReply(reference, r.count, 0, false, f);
  } else if (IsSingleWrite(f)) {
    if (!InImage(reference, 1)) return;
    auto& element = image_[static_cast<std::size_t>(reference)];
    element = f == fn::WriteSingleCoil ? (r.value == 0xFF00 ? 1 : 0) : std::int32_t{r.value};
    SendSlaveReply(reference, 1, r.value, true, f);
  } else if (IsMultipleWrite(f)) {
    if (!InImage(reference, r.count) || r.values.size() != r.count) return;
    for (std::size_t k = 0; k < r.values.size(); ++k) image_[static_cast<std::size_t>(reference) + k] = r.values[k];
    SendSlaveReply(reference, r.count, 0, true, f);
  }
}

void ModbusSlave::ServeType2(const SlaveRequest& r) {
  std::uint8_t f = r.function;
  std::int32_t address = r.offset;
  std::int32_t kind = address / 1000;
  if (IsRead(f)) {
    SendType2SlaveReply(r.unit, address, r.count, 0, false, f, kind);
  } else if (IsSingleWrite(f)) {
    if (!InImage(address, 1)) return;
    image_[static_cast<std::size_t>(address)] =
        f == fn::WriteSingleCoil ? (r.value == 0xFF00 ? 1 : 0) : std::int32_t{r.value};
    SendType2SlaveReply(r.unit, address, 1, r.value, true, f, kind);
  } else if (f == fn::WriteMultipleRegisters && IsType2Pair(kind)) {
    // Each 4-byte group is one value. A float is kept as its two register words, so a read
    // gives back exactly the words written.
    if (r.data.size() % 4 != 0) return;
    std::size_t n = r.data.size() / 4;
    if (!InImage(address, static_cast<std::int64_t>(n))) return;
    for (std::size_t k = 0; k < n; ++k) {
      const std::uint8_t* b = &r.data[4 * k];
      std::uint32_t v = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
      image_[static_cast<std::size_t>(address) + k] = static_cast<std::int32_t>(v);
    }
    SendType2SlaveReply(r.unit, address, r.count, 0, true, f, kind);
  } else if (IsMultipleWrite(f)) {
    if (!InImage(address, r.count) || r.values.size() != r.count) return;
    for (std::size_t k = 0; k < r.values.size(); ++k) image_[static_cast<std::size_t>(address) + k] = r.values[k];
    SendType2SlaveReply(r.unit, address, r.count, 0, true, f, kind);
  }
}

void ModbusSlave::SendSlaveReply(std::int32_t reference, std::int32_t count, std::int32_t value, bool write,
                                 std::uint8_t function) {
  std::int16_t address = master_.UnitAddress();
  auto unit = static_cast<std::uint8_t>(address < 0 ? -address : address);
  // The offset of the function's own table: a reference does not tell its table by itself
  // (coil offset 10000 is reference 10001, the first discrete input).
  std::uint16_t offset = Low16(reference - TableBase(function));
  if (write) {
    Send(WriteEchoReply(unit, function, offset, Low16(IsSingleWrite(function) ? value : count)));
    return;
  }
  if (!InImage(reference, count)) return;
  auto first = image_.begin() + reference;
  std::optional<Adu> reply;
  if (IsBitRead(function)) {
    std::vector<std::uint8_t> points;
    std::transform(first, first + count, std::back_inserter(points), [](std::int32_t v) { return v == 1 ? 1 : 0; });
    if (points.size() <= kSlaveMaxBits) reply = ReadBitsReply(unit, function, points);
  } else {
    std::vector<std::uint16_t> registers;
    std::transform(first, first + count, std::back_inserter(registers), Low16);
    if (registers.size() <= kSlaveMaxRegisters) reply = ReadRegistersReply(unit, function, registers);
  }
  if (reply) Send(*reply);
}

void ModbusSlave::SendType2SlaveReply(std::uint8_t unit, std::int32_t address, std::int32_t count, std::int32_t value,
                                      bool write, std::uint8_t function, std::int32_t kind) {
  if (write) {
    Send(WriteEchoReply(unit, function, Low16(address), Low16(IsSingleWrite(function) ? value : count)));
    return;
  }
  if (!InImage(address, count)) return;
  auto first = image_.begin() + address;
  std::optional<Adu> reply;
  if (IsBitRead(function)) {
    if (static_cast<std::size_t>(count) > kSlaveMaxBits) return;
    std::vector<std::uint8_t> points;
    std::transform(first, first + count, std::back_inserter(points), [](std::int32_t v) { return v == 1 ? 1 : 0; });
    reply = ReadBitsReply(unit, function, points);
  } else {
    std::vector<std::uint16_t> registers;
    for (auto it = first; it != first + count; ++it) {
      if (IsType2Pair(kind)) registers.push_back(static_cast<std::uint16_t>(static_cast<std::uint32_t>(*it) >> 16));
      registers.push_back(Low16(*it));
    }
    if (registers.size() > kSlaveMaxRegisters) return;
    reply = ReadRegistersReply(unit, function, registers);
  }
  if (reply) Send(*reply);
}

void ModbusSlave::Send(const Adu& reply) {
  MasterTransaction& tx = master_.Transaction();
  tx.RawMode = false;
  // A host write holds the line: the request was executed, its answer is not sent.
  if (tx.WriteActive) return;
  std::int64_t now = WallNow(loop_);
  if ((tx.ReadPending || tx.WritePending) && now - tx.SendTime >= kStalePendingSeconds) {
    tx.ReadPending = false;
    tx.WritePending = false;
  }
  tx.SendTime = now;
  try {
    master_.TransmitFrame(BuildFrame(reply, CurrentFraming()));
  } catch (const RuntimeError&) {
    // A closed port or a failed write: the master repeats its request.
  }
}

void ModbusSlave::RaiseEvent(std::int16_t mAdd, std::int16_t quan) {
  master_.RaiseDataBufferEvent(mAdd, quan, master_.LastErrorText());
}

}  // namespace plc::modbus
