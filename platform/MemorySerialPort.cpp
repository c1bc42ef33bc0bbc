#include "platform/MemorySerialPort.h"

#include "base/RuntimeError.h"

namespace plc {

MemorySerialPort::MemorySerialPort(EventLoop& loop) : SerialPort(loop) {}
MemorySerialPort::~MemorySerialPort() { *alive_ = false; }

Bytes MemorySerialPort::TakeSent() {
  Bytes out;
  out.swap(sent_);
  return out;
}

void MemorySerialPort::Inject(const Bytes& data) {
  auto arrival = std::make_shared<Arrival>(Arrival{Loop().Now(), data});
  arriving_.push_back(arrival);
  std::weak_ptr<bool> alive = alive_;
  Loop().Post([this, alive, arrival] {
    if (!alive.expired()) Deliver(arrival);
  });
}

void MemorySerialPort::DeviceDiscardInput() {
  // What has arrived at the device by now goes; what is still on its way (InjectAt) does not.
  const std::int64_t now = Loop().Now();
  std::erase_if(arriving_, [now](const std::shared_ptr<Arrival>& a) {
    if (a->due > now) return false;
    a->delivered = true;
    return true;
  });
}

void MemorySerialPort::InjectAt(std::int64_t dueMicros, const Bytes& data) {
  auto arrival = std::make_shared<Arrival>(Arrival{dueMicros, data});
  arriving_.push_back(arrival);
  std::weak_ptr<bool> alive = alive_;
  Loop().AddTimer(dueMicros, [this, alive, arrival] {
    if (!alive.expired()) Deliver(arrival);
  });
}

void MemorySerialPort::Deliver(const std::shared_ptr<Arrival>& a) {
  if (a->delivered) return;
  a->delivered = true;
  std::erase(arriving_, a);
  Received(a->data.data(), a->data.size());
}

bool MemorySerialPort::WaitForInput(std::int64_t deadlineMicros) {
  for (;;) {
    // What is due arrives in order of its time; an early bird never overtakes an earlier one.
    std::shared_ptr<Arrival> next;
    for (const auto& a : arriving_)
      if (!next || a->due < next->due) next = a;
    if (!Peek().empty()) return true;
    if (!next || next->due > deadlineMicros) break;
    if (next->due > Loop().Now()) {
      if (!Loop().GetClock().IsManual()) break;  // a memory port on a real clock does not sleep
      Loop().GetClock().AdvanceTo(next->due);
    }
    Deliver(next);
  }
  if (Loop().GetClock().IsManual()) Loop().GetClock().AdvanceTo(deadlineMicros);
  return !Peek().empty();
}

void MemorySerialPort::SetCarrier(bool present) {
  if (carrier_ == present) return;
  carrier_ = present;
  std::weak_ptr<bool> alive = alive_;
  Loop().Post([this, alive] {
    if (!alive.expired()) CarrierChanged();
  });
}

void MemorySerialPort::DrainOutput() {
  if (pending_ == 0) return;
  pending_ = 0;
  log_.push_back("drained");
  OutputDrained();
}

void MemorySerialPort::DeviceOpen() {
  if (failOpen_) throw RuntimeError(failOpen_);
  log_.push_back("open");
}

void MemorySerialPort::DeviceClose() {
  pending_ = 0;
  log_.push_back("close");
}

void MemorySerialPort::DeviceApplySettings(const SerialSettings&, std::int32_t) {}

void MemorySerialPort::DeviceWrite(const std::uint8_t* data, std::size_t size) {
  Bytes chunk(data, data + size);
  sent_.insert(sent_.end(), chunk.begin(), chunk.end());
  pending_ += size;
  log_.push_back("write " + std::to_string(size));
  if (!holdOutput_) {
    std::weak_ptr<bool> alive = alive_;
    Loop().Post([this, alive] {
      if (!alive.expired()) DrainOutput();
    });
  }
  if (OnSent) OnSent(chunk);
}

void MemorySerialPort::DeviceSetModemLines(bool dtr, bool rts) {
  if (dtr != dtrLine_) log_.push_back(dtr ? "DTR on" : "DTR off");
  if (rts != rtsLine_) log_.push_back(rts ? "RTS on" : "RTS off");
  dtrLine_ = dtr;
  rtsLine_ = rts;
}

}  // namespace plc
