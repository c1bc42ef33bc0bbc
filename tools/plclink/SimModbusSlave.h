#pragma once
// The simulated Modbus PLC of the demo: an RtuLink of its own plug-in instance in SlaveRtu,
// answering from its register image on its own thread, with that thread's event loop and port
// mapping. It starts listening in the constructor and stops in the destructor.
#include <atomic>
#include <cstdint>
#include <future>
#include <string>
#include <thread>

namespace plc::plclink {

class SimModbusSlave {
 public:
  struct Options {
    std::string devicePath;  // the line end the PLC opens
    std::int16_t commPort;   // the number mapped to it on the PLC's thread
    std::string settings;    // e.g. "19200,n,8,1"
    std::int32_t unit;
  };

  // Returns once the PLC's port is open; throws std::runtime_error with the reason when it
  // could not start within a few seconds.
  explicit SimModbusSlave(Options options);
  ~SimModbusSlave();  // Stop()
  SimModbusSlave(const SimModbusSlave&) = delete;
  SimModbusSlave& operator=(const SimModbusSlave&) = delete;

  // Tells the PLC's loop to stop and joins its thread; idempotent.
  void Stop();
  // Requests the PLC has seen (CommCompleteEx on its side).
  int RequestsSeen() const { return requests_.load(); }

 private:
  // The PLC's thread: reports its start through started (empty text, or why it could not
  // start), then serves until stop_ is readable.
  void Serve(const Options& options, std::promise<std::string>& started);

  int stop_ = -1;  // eventfd watched by the PLC's loop
  std::atomic<int> requests_{0};
  std::thread thread_;
};

}  // namespace plc::plclink
