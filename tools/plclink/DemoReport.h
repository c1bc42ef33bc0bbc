#pragma once
// What the demo prints for one control: a line per step with its outcome, what went on the wire
// during the step (in hexadecimal, with its direction), and the verdict line at the end.
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "base/Variant.h"
#include "platform/SerialPort.h"

namespace plc::plclink {

class DemoReport {
 public:
  DemoReport(std::ostream& out, std::string control);

  // A hook for the host's line trace; the line it saw is printed under the next step. The
  // hook may outlive the report.
  TraceHook WireTrace() const;

  // An indented line of explanation.
  void Note(const std::string& text);
  // One step: "ok" or "MISMATCH", what was done, what came back; then the wire since the
  // previous step.
  void Step(bool ok, const std::string& what, const std::string& outcome);
  // The run broke off (a port that would not open, no pseudo-terminal): the verdict fails,
  // naming why.
  void Abort(const std::string& why);

  // At least one step ran, every step matched and nothing broke off.
  bool Passed() const { return steps_ > 0 && failed_ == 0 && aborted_.empty(); }
  // "RtuLink: PASS (6 steps)", or FAIL with what went wrong.
  void PrintVerdict();

 private:
  struct Chunk {
    TraceDirection direction;
    Bytes bytes;
  };
  void PrintWire();

  std::ostream& out_;
  std::string control_;
  // Shared with the hook, which the control's port holds beyond this report's scope.
  std::shared_ptr<std::vector<Chunk>> wire_ = std::make_shared<std::vector<Chunk>>();
  int steps_ = 0;
  int failed_ = 0;
  std::string aborted_;
};

// Values as an array from index 1, as the controls take them.
template <typename T>
Variant ArrayOf(const std::vector<T>& values) {
  VariantArray array(1, static_cast<std::int32_t>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) array.Set(static_cast<std::int32_t>(i + 1), Variant(values[i]));
  return Variant(std::move(array));
}
// A member's result: "result -1 (ok)", else "result 0 (failed)".
std::string ResultText(const Variant& result);
// Values of an array as text, from index first for count elements: "12 345 4660".
std::string ValuesText(const VariantArray& values, std::int32_t first, std::int32_t count);
// Bytes as spaced upper-case hexadecimal: "01 03 00 00".
std::string HexText(const Bytes& bytes);

}  // namespace plc::plclink
