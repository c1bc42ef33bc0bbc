#pragma once
// A control on an in-memory serial port, a manual clock and a host of its own: what the
// control tests of every folder start from.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/ComponentHost.h"
#include "platform/MemorySerialPort.h"
#include "platform/PollEventLoop.h"
#include "platform/PropertyBag.h"

namespace plc::test {

template <class C>
struct LinkTestBench {
  ManualClock clock;
  PollEventLoop loop{clock};
  ScopedCurrentLoop scope{loop};
  StandaloneHost host;
  MemorySerialPort* port = nullptr;
  std::unique_ptr<C> link = Make();

  // A fresh control of this bench's host, on a fresh in-memory port (which `port` then names).
  std::unique_ptr<C> Make() {
    auto p = std::make_unique<MemorySerialPort>(loop);
    port = p.get();
    auto c = std::make_unique<C>(std::move(p));
    c->SetHost(&host);
    return c;
  }

  // A new control as a host creates it: Initialize, InitProperties.
  void New() {
    link->Initialize();
    link->InitProperties();
  }
  // A stored control as a host loads it: Initialize, ReadProperties, Show.
  void Load(PropertyBag& bag) {
    link->Initialize();
    link->ReadProperties(bag);
    link->Show();
  }
};

// A bag that records every write, stored or not, in order; it reads what was put into it.
class RecordingBag final : public PropertyBag {
 public:
  struct Write {
    std::string key;
    Variant value;
    Variant writeDefault;
  };
  Variant ReadProperty(const std::string& key, const Variant& readDefault) override {
    reads.push_back(key);
    return stored.ReadProperty(key, readDefault);
  }
  void WriteProperty(const std::string& key, const Variant& value, const Variant& writeDefault) override {
    writes.push_back({key, value, writeDefault});
    stored.WriteProperty(key, value, writeDefault);
  }
  std::vector<std::string> WrittenKeys() const {
    std::vector<std::string> keys;
    for (const Write& w : writes) keys.push_back(w.key);
    return keys;
  }
  std::vector<std::string> StoredKeys() const {
    std::vector<std::string> keys;
    for (const auto& [k, v] : stored.Values()) keys.push_back(k);
    return keys;
  }

  MemoryPropertyBag stored;
  std::vector<std::string> reads;
  std::vector<Write> writes;
};

}  // namespace plc::test
