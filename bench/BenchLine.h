#pragma once
// The RtuLink side of the benchmarks and the libmodbus server program they read from.
// (libmodbus itself is in LibmodbusPeer.h: its header defines ON and OFF as macros, which clash
// with the controls' enumerations.)
#include <memory>
#include <string>
#include <vector>

#include "bench/LineSettings.h"
#include "modbus/RtuLink.h"
#include "platform/ComponentHost.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"

namespace plc::bench {

// The libmodbus RTU server program of the peer tests, at the bench's line settings.
test::PeerCommand ServerCommand(const std::string& device, std::vector<std::string> extra = {});

// An RtuLink as a host sets it up: created, initialised, CommPort mapped to the device,
// Settings, Address and ModBusMode set, PortOpen true. Lives on the thread that made it.
class HostedRtuLink {
 public:
  HostedRtuLink(int commPort, const std::string& device, rtu::EnModBusMode mode);
  ~HostedRtuLink();
  HostedRtuLink(const HostedRtuLink&) = delete;
  HostedRtuLink& operator=(const HostedRtuLink&) = delete;

  // ReadPLC(address, values, size) with values 1..200.
  Result Read(const std::string& address, std::int16_t size);
  const VariantArray& Values() const { return values_; }
  RtuLink& Link() { return link_; }

 private:
  test::ScopedCommPort mapping_;
  StandaloneHost host_;
  RtuLink link_;
  VariantArray values_{1, 200};
};

}  // namespace plc::bench
