// Reads ten holding registers from a Modbus RTU slave, once waiting for the reply and once
// without waiting (the values arrive with the CommCompleteEx event), and prints them.
//
//   read_registers DEVICE [UNIT [SETTINGS]]     e.g. read_registers /dev/ttyUSB0 1 9600,e,8,1
#include <cstdlib>
#include <iostream>
#include <string>

#include <plclink/RtuLink.h>

namespace {

void Print(const char* how, const plc::VariantArray& values) {
  std::cout << how << ":";
  for (const plc::Variant& v : values) std::cout << " " << v.ToString();
  std::cout << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: read_registers DEVICE [UNIT [SETTINGS]]\n";
    return 2;
  }
  try {
    // Port 1 opens the device given, whatever its name (QVL_COM1=/dev/ttyUSB0 would do the same
    // from outside the program).
    plc::SerialPortMap::Current().Map(1, argv[1]);
    plclink::RtuLink link;
    link.SetModBusMode(plc::rtu::Rtu);
    link.SetCommPort(1);
    link.SetSettings(argc > 3 ? argv[3] : "9600,n,8,1");
    link.SetAddress(argc > 2 ? std::atoi(argv[2]) : 1);
    link.SetPortOpen(true);

    // The values land in elements 1..10.
    plc::VariantArray values(1, 10);
    if (link.ReadPLC("40001", values, 10) != plc::ResultOk) {
      std::cerr << "ReadPLC failed: " << link.FailureCause() << "\n";
      return 1;
    }
    Print("waiting", values);

    bool done = false;
    bool ok = false;
    link.OnEvent([&](const std::string& event, std::vector<plc::Variant>& args) {
      if (event != "CommCompleteEx") return;
      // MData, MAdd, quan, ErrorStr, RespStatus: the values are MData(1..quan).
      const plc::VariantArray& data = args.at(0).Array();
      plc::VariantArray received(1, args.at(2).ToInt32());
      received.CopyFrom(1, data, 1, static_cast<std::int32_t>(received.size()));
      // RespStatus -1: decoded values. ErrorStr is the last error text, which a good reply after
      // a failed one still carries, so it does not tell success.
      ok = args.at(4).ToInt32() == -1;
      if (ok) Print("event", received);
      else std::cerr << "CommCompleteEx: " << args.at(3).ToString() << "\n";
      done = true;
    });
    plc::VariantArray later(1, 10);
    if (link.ReadPLCNW("40001", later, 10) != plc::ResultOk) {
      std::cerr << "ReadPLCNW failed: " << link.FailureCause() << "\n";
      return 1;
    }
    // The event is raised from this thread's event loop; wait for it there, at most 5 s. A read
    // that fails raises none: the control says why in FailureCause.
    plc::EventLoop& loop = plc::EventLoop::Current();
    loop.WaitUntil([&] { return done || !link.FailureCause().empty(); }, loop.Now() + 5'000'000);
    if (!done) {
      const std::string cause = link.FailureCause();
      std::cerr << "ReadPLCNW failed: " << (cause.empty() ? "no CommCompleteEx within 5 s" : cause) << "\n";
    }
    return done && ok ? 0 : 1;
  } catch (const plc::RuntimeError& e) {
    std::cerr << "error " << e.Number() << ": " << e.what() << "\n";
    return 1;
  }
}
