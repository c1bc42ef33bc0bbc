#pragma once
// Simulated ECOM modules: each answers the project's hei_pas client (the datagrams of
// ecom/heipas/Datagram.h) on a UDP port of its own, from its PLC's memory as the CCM data types
// address it: registers (31h) as V-memory words numbered from 1 (V0 at 1), inputs (32h) and
// outputs (33h) as bytes of eight points each (X0..X7 at 101h, Y0..Y7 at 101h, C0..C7 at 181h,
// GX at 1h, SP at 181h, S at 281h, T at 301h, CT at 321h). A request that runs past the end of
// its memory (V77777, SP777, CT377), names address 0 or asks for no bytes is refused with an
// error status, as a module refuses it; nothing wraps.
//
// Faults can be switched on while it runs: no answer, an answer signed by another module ID, a
// corrupt or a truncated datagram, an error status, a stale answer (the previous sequence
// number with other data) before the right one, and every answer sent twice.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ecom/heipas/Datagram.h"
#include "ecom/heipas/UdpSocket.h"
#include "tools/plcsim/ServingThread.h"

namespace plc::sim {

enum class EcomFault { None, Silent, WrongModule, Corrupt, Truncated, Refuse, Stale, Duplicate };

// The faults by the names plcsim ecom --fault takes, with what each does.
struct EcomFaultName {
  EcomFault fault;
  const char* name;
  const char* effect;
};
const std::vector<EcomFaultName>& EcomFaultNames();

// A datagram a module received or sent.
struct EcomDatagramRecord {
  std::uint8_t moduleId = 0;
  bool received = true;  // false: sent by the module
  std::vector<std::uint8_t> bytes;
};

struct EcomModuleConfig {
  std::uint8_t id = 1;
  std::string name;
  std::uint16_t port = 0;  // 0: the system chooses
};

class EcomModuleSim {
 public:
  // Binds every module on ipv4 (host order; loopback by default). Throws std::runtime_error
  // naming the module whose port cannot be bound.
  explicit EcomModuleSim(std::vector<EcomModuleConfig> modules, std::uint32_t ipv4 = 0x7F000001);
  EcomModuleSim(const EcomModuleSim&) = delete;
  EcomModuleSim& operator=(const EcomModuleSim&) = delete;

  // Serves on a thread of its own until Stop or destruction.
  void Start();
  void Stop();
  // Serves on the calling thread until stopFd becomes readable.
  void Serve(int stopFd);

  std::uint16_t Port(std::size_t module) const { return modules_.at(module).port; }
  // The modules as a hei_pas module list: "127.0.0.1:p1,127.0.0.1:p2".
  std::string ModuleList() const;

  // Applies to the next `requests` CCM requests of the module (0: until changed). A silent
  // module answers no query either.
  void SetFault(std::uint8_t id, EcomFault fault, int requests = 0);
  // Register words (index 0, V0, is what the client addresses as 1; at most 32767, V77777), inputs and
  // outputs by byte.
  void SetWord(std::uint8_t id, std::uint16_t index, std::uint16_t value);
  std::uint16_t Word(std::uint8_t id, std::uint16_t index) const;
  void SetByte(std::uint8_t id, std::uint8_t dataType, std::uint16_t address, std::uint8_t value);
  std::uint8_t Byte(std::uint8_t id, std::uint8_t dataType, std::uint16_t address) const;
  // CCM requests answered (faults excluded) and datagrams that were not a request.
  int Answered() const { return answered_.load(); }
  int Refused() const { return refused_.load(); }
  // Every datagram received and sent from now on is kept (until Record(false)); Recorded()
  // gives them in order and forgets them.
  void Record(bool on);
  std::vector<EcomDatagramRecord> Recorded();

 private:
  // Registers 1..8000h: V0..V77777, all the V-memory a DirectLOGIC has. Inputs from GX0 (1h)
  // to SP777 (1C0h), outputs from GY0 (1h) to CT377 (340h), eight points a byte; the arrays
  // are indexed by CCM address.
  static constexpr std::size_t kRegisterWords = 0x8000;
  static constexpr std::size_t kLastInputByte = 0x1C0;
  static constexpr std::size_t kLastOutputByte = 0x340;
  static constexpr std::size_t kPointBytes = 65536;
  struct Module {
    EcomModuleConfig config;
    std::uint16_t port = 0;
    heipas::UdpSocket socket;
    std::vector<std::uint8_t> registers = std::vector<std::uint8_t>(2 * kRegisterWords);
    std::vector<std::uint8_t> inputs = std::vector<std::uint8_t>(kPointBytes);
    std::vector<std::uint8_t> outputs = std::vector<std::uint8_t>(kPointBytes);
    EcomFault fault = EcomFault::None;
    int faultLeft = 0;
  };
  Module& Find(std::uint8_t id);
  const Module& Find(std::uint8_t id) const;
  void Handle(Module& m, const heipas::UdpSocket::Received& got);
  // The status a request gets: 0, or why the module refuses it.
  static std::uint8_t Check(const heipas::Datagram& request);
  // The datagrams that answer a CCM request (none when the module stays silent), faults applied.
  std::vector<std::vector<std::uint8_t>> Answer(Module& m, const heipas::Datagram& request);
  void Send(Module& m, const heipas::ModuleAddress& to, const std::vector<std::uint8_t>& bytes);

  std::vector<Module> modules_;
  mutable std::mutex mutex_;
  std::atomic<int> answered_{0};
  std::atomic<int> refused_{0};
  bool recording_ = false;
  std::vector<EcomDatagramRecord> recorded_;
  ServingThread serving_;  // last: it stops before the modules go
};

// plcsim ecom [--module ID[:NAME][@PORT]]... [--bind A.B.C.D] [--fault KIND]
int RunEcomSimulator(int argc, char** argv);

}  // namespace plc::sim
