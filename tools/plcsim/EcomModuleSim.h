#pragma once
// Simulated ECOM modules: each answers the project's hei_pas client (the datagrams of
// ecom/heipas/Datagram.h) on a UDP port of its own, from a register (V-memory), input and
// output image. Faults can be switched on while it runs: no answer, an answer signed by another
// module ID, a corrupt or a truncated datagram.
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

enum class EcomFault { None, Silent, WrongModule, Corrupt, Truncated };

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
  // Register words (index 0 is what the client addresses as 1), inputs and outputs by byte.
  void SetWord(std::uint8_t id, std::uint16_t index, std::uint16_t value);
  std::uint16_t Word(std::uint8_t id, std::uint16_t index) const;
  void SetByte(std::uint8_t id, std::uint8_t dataType, std::uint16_t address, std::uint8_t value);
  std::uint8_t Byte(std::uint8_t id, std::uint8_t dataType, std::uint16_t address) const;
  // CCM requests answered (faults excluded) and datagrams that were not a request.
  int Answered() const { return answered_.load(); }
  int Refused() const { return refused_.load(); }

 private:
  struct Module {
    EcomModuleConfig config;
    std::uint16_t port = 0;
    heipas::UdpSocket socket;
    std::vector<std::uint8_t> registers = std::vector<std::uint8_t>(2 * 65536);
    std::vector<std::uint8_t> inputs = std::vector<std::uint8_t>(65536);
    std::vector<std::uint8_t> outputs = std::vector<std::uint8_t>(65536);
    EcomFault fault = EcomFault::None;
    int faultLeft = 0;
  };
  Module& Find(std::uint8_t id);
  const Module& Find(std::uint8_t id) const;
  void Handle(Module& m, const heipas::UdpSocket::Received& got);
  // The reply to a CCM request, or nullopt when the module stays silent; faults applied.
  std::vector<std::uint8_t> Answer(Module& m, const heipas::Datagram& request, bool& silent);

  std::vector<Module> modules_;
  mutable std::mutex mutex_;
  std::atomic<int> answered_{0};
  std::atomic<int> refused_{0};
  ServingThread serving_;  // last: it stops before the modules go
};

// plcsim ecom [--module ID[:NAME][@PORT]]... [--bind A.B.C.D] [--fault silent|wrong|corrupt|truncated]
int RunEcomSimulator(int argc, char** argv);

}  // namespace plc::sim
