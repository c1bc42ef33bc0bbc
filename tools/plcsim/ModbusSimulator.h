#pragma once
// The simulated Modbus slave on a serial device path (a pseudo-terminal end, or a real port), on
// a thread of its own for tests, and RunModbusSimulator, the plcsim command that serves it in the
// foreground.
#include <string>
#include <vector>

#include "modbus/Pdu.h"
#include "tools/plcsim/ModbusSimSlave.h"
#include "tools/plcsim/ServingThread.h"

namespace plc::sim {

struct ModbusSimOptions {
  std::string devicePath;
  std::uint8_t unit = 1;
  modbus::Framing framing = modbus::Framing::Rtu;
  std::string settings = "9600,n,8,1";
  std::size_t tableSize = 9999;
};

// Opens a device with the settings (OpenSimLine: speed, data bits, parity, stop bits, locked);
// throws std::runtime_error naming the device or the text.
int OpenModbusSimLine(const std::string& path, const std::string& settings);

// Serves the slave on fd until stopFd (when not -1) turns readable or, with maxRequests > 0,
// that many requests were served. Returns 0, or 1 when the device fails.
int ServeModbus(ModbusSimSlave& slave, int fd, int stopFd, int maxRequests);

class ModbusSimulator {
 public:
  // Returns once the device is open; throws std::runtime_error when it cannot be opened.
  explicit ModbusSimulator(const ModbusSimOptions& options);
  ModbusSimulator(const ModbusSimulator&) = delete;
  ModbusSimulator& operator=(const ModbusSimulator&) = delete;

  // Lock Slave().Lock() to change or read it while it serves.
  ModbusSimSlave& Slave() { return slave_; }
  void Stop() { serving_.Stop(); }

 private:
  ModbusSimSlave slave_;
  ServingThread serving_;  // last: it stops before the slave goes
};

// plcsim modbus --port PATH [--unit N] [--mode rtu|ascii] [--settings TEXT] [--set REF=VALUE]...
//                [--fault NAME] [--size N] [--times N]
int RunModbusSimulator(int argc, char** argv);

}  // namespace plc::sim
