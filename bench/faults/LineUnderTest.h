#pragma once
// A control on a line of its own to a simulated PLC, with a fault relay in the middle: what the
// soak and the sixteen-line benchmark drive, the same way for all four controls. A line knows
// little of its protocol: how to name a word of the PLC in the control's address text, and how
// to fill and read back the simulator's memory.
//
// Words 0 .. Span()-1 of the PLC hold values that differ at every address (and from line to
// line), so that a value delivered under the wrong address, or to the wrong line, is caught.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/faults/FaultRelay.h"
#include "base/ResultCodes.h"

namespace plc::faults {

using Words = std::vector<std::uint16_t>;

enum class ControlKind { RtuLink, SeqLink, DfLink, UdpLink };
const char* KindName(ControlKind kind);

class LineUnderTest {
 public:
  virtual ~LineUnderTest() = default;

  const std::string& Name() const { return name_; }
  virtual int Span() const = 0;
  virtual int MaxCount() const = 0;
  virtual int MaxWriteCount() const { return MaxCount(); }
  // The faults the relay can act out on this line, and how many replies a transaction has (the
  // fault strikes one of them).
  virtual std::vector<Fault> Faults() const;
  virtual int RepliesPerTransaction() const { return 1; }
  virtual FaultRelay& Relay() = 0;
  // The faults the simulated PLC acts out itself (DeviceFault), armed for the first request of
  // the next transaction; after it, whether the armed one struck (the device had a request
  // under it), and the fault disarmed.
  virtual std::vector<Fault> DeviceFaults() const { return {}; }
  virtual void ArmDeviceFault(Fault) {}
  virtual bool DeviceFaultStruck() { return false; }

  // The words the PLC holds now (asked of the simulator).
  virtual Words DeviceWords(int at, int count) = 0;

  // Waiting calls, as a host makes them; values are 16-bit words.
  virtual Result Read(int at, int count, Words& values) = 0;
  virtual Result Write(int at, const Words& values) = 0;
  // A result that refuses a call because an earlier transaction still holds the line (until the
  // control's watchdog frees it): not a failure of this call's own.
  virtual bool BusyRefusal(Result) const { return false; }
  // Why the last read or write call failed (the control's FailureCause), and its classic text.
  virtual std::string Cause() const = 0;
  virtual std::string ClassicText() = 0;

  // A non-waiting read. Sent: its end comes through Completed (true and the values when good),
  // raised from the thread's event loop, or inside StartRead where the control's transport does
  // not wait; a control that has no word of its failures leaves a failed read without one.
  // Busy: refused, because the driver state this control shares with others of its kind holds
  // a transaction. Failed: refused, or failed at once.
  enum class Start { Sent, Busy, Failed };
  virtual Start StartRead(int at, int count) = 0;
  std::function<void(bool good, const Words& values)> Completed;

  // The heap the control took from its creation to its port open (bytes).
  long ControlBytes() const { return controlBytes_; }

  // The value word `at` of line `salt` starts with.
  static std::uint16_t InitialWord(int salt, int at) {
    return static_cast<std::uint16_t>(at * 40503 + salt * 7919 + 12345);
  }

 protected:
  explicit LineUnderTest(std::string name) : name_(std::move(name)) {}

 protected:
  long controlBytes_ = 0;

 private:
  std::string name_;
};

// `count` lines with controls of one kind on this thread, numbered from `first` (which sets
// their CommPort numbers, module IDs and values). Throws std::runtime_error when a simulator,
// a peer program or a port cannot be had.
std::vector<std::unique_ptr<LineUnderTest>> MakeLines(ControlKind kind, int first, int count, std::uint32_t seed);

}  // namespace plc::faults
