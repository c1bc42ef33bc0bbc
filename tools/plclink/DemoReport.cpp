#include "tools/plclink/DemoReport.h"

#include <cstdio>
#include <utility>

#include "base/ResultCodes.h"

namespace plc::plclink {

DemoReport::DemoReport(std::ostream& out, std::string control) : out_(out), control_(std::move(control)) {}

TraceHook DemoReport::WireTrace() const {
  std::weak_ptr<std::vector<Chunk>> wire = wire_;
  return [wire](TraceDirection direction, const std::uint8_t* data, std::size_t size, std::int64_t) {
    auto chunks = wire.lock();
    if (!chunks || size == 0) return;
    // A reply may reach the port in pieces; one line per direction change reads better.
    if (!chunks->empty() && chunks->back().direction == direction) {
      chunks->back().bytes.insert(chunks->back().bytes.end(), data, data + size);
    } else {
      chunks->push_back({direction, Bytes(data, data + size)});
    }
  };
}

void DemoReport::Note(const std::string& text) { out_ << "  " << text << "\n"; }

void DemoReport::Step(bool ok, const std::string& what, const std::string& outcome) {
  ++steps_;
  if (!ok) ++failed_;
  out_ << "  " << (ok ? "ok       " : "MISMATCH ") << what;
  if (!outcome.empty()) out_ << ": " << outcome;
  out_ << "\n";
  PrintWire();
}

void DemoReport::Abort(const std::string& why) {
  aborted_ = why;  // the verdict line names it
  PrintWire();
}

void DemoReport::PrintWire() {
  for (const Chunk& c : *wire_)
    out_ << "           " << (c.direction == TraceDirection::Sent ? "sent     " : "received ") << HexText(c.bytes) << "\n";
  wire_->clear();
}

void DemoReport::PrintVerdict() {
  out_ << control_ << ": ";
  if (Passed()) {
    out_ << "PASS (" << steps_ << " steps)\n";
  } else if (!aborted_.empty()) {
    out_ << "FAIL (" << aborted_ << ")\n";
  } else if (steps_ == 0) {
    out_ << "FAIL (no step ran)\n";
  } else {
    out_ << "FAIL (" << failed_ << " of " << steps_ << " steps mismatched)\n";
  }
}

std::string ResultText(const Variant& result) {
  return result.ToInt16() == ResultOk ? "result -1 (ok)" : "result " + result.ToString() + " (failed)";
}

std::string ValuesText(const VariantArray& values, std::int32_t first, std::int32_t count) {
  std::string text;
  for (std::int32_t i = first; i < first + count; ++i) {
    if (!text.empty()) text += ' ';
    text += values.Contains(i) ? values.Get(i).ToString() : "?";
  }
  return text;
}

std::string HexText(const Bytes& bytes) {
  std::string text;
  char two[4];
  for (std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    std::snprintf(two, sizeof two, "%02X", static_cast<unsigned>(b));
    text += two;
  }
  return text;
}

}  // namespace plc::plclink
