#include "bench/BenchLine.h"

namespace plc::bench {

test::PeerCommand ServerCommand(const std::string& device, std::vector<std::string> extra) {
  std::vector<std::string> args{device, "--baud", std::to_string(kBaud), "--unit", std::to_string(kUnit)};
  args.insert(args.end(), extra.begin(), extra.end());
  return test::RtuServerCommand(std::move(args));
}

HostedRtuLink::HostedRtuLink(int commPort, const std::string& device, rtu::EnModBusMode mode)
    : mapping_(commPort, device) {
  link_.SetHost(&host_);
  link_.Initialize();
  link_.InitProperties();
  link_.SetCommPort(static_cast<std::int16_t>(commPort));
  link_.SetSettings(kSettings);
  link_.SetAddress(kUnit);
  link_.SetModBusMode(mode);
  link_.SetPortOpen(true);
}

HostedRtuLink::~HostedRtuLink() {
  try {
    link_.SetPortOpen(false);
  } catch (...) {
    // Closing at the end of a run reports nothing; the port closes with the control anyway.
  }
}

Result HostedRtuLink::Read(const std::string& address, std::int16_t size) {
  std::string a = address;
  Variant s(size);
  return link_.ReadPLC(a, values_, Opt<Variant>(s), Opt<std::int16_t>(std::int16_t{0}));
}

}  // namespace plc::bench
