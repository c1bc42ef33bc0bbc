#pragma once
// What `serve` prints for each request: the request the slave received and its answer, read
// back from the line trace (the slave's event tells only the function), as the table, the
// references and the values read or written.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "modbus/SlaveCollector.h"

namespace plc::plclink {

struct ServedRequest {
  int unit = 0;
  int function = 0;
  std::string table;          // "holding registers", ...; empty for a function without one
  std::int32_t first = 0;     // the first reference (40001 for holding register offset 0)
  std::int32_t count = 0;
  bool write = false;
  std::vector<std::int32_t> values;  // read: from the answer; written: from the request
  // EnType2 floats: each value is the 32-bit pattern of a single (first register high).
  bool floats = false;
  std::optional<int> exception;      // the exception code answered
  bool answered = false;
  std::string problem;  // a request that could not be read: why
};

class ServedRequests {
 public:
  // type2: the slave's PLCType is EnType2, whose addresses are the elements themselves.
  explicit ServedRequests(bool ascii, bool type2 = false);
  // Received bytes, cut into requests as the slave cuts them (noise and broken frames skipped),
  // so each event is told the request the slave served. wallMicros times a request cut off.
  void Received(const std::uint8_t* data, std::size_t size, std::int64_t wallMicros = 0);
  void Sent(const std::uint8_t* data, std::size_t size) { tx_.insert(tx_.end(), data, data + size); }
  // The request received and the answer sent since the last call; both are cleared.
  ServedRequest Take();

 private:
  bool ascii_;
  bool type2_;
  modbus::SlaveRequestCollector rx_;
  // What the slave made of the bytes received so far, one entry per event it raises.
  std::deque<modbus::CollectedRequest> decided_;
  std::vector<std::uint8_t> tx_;
};

// A reference as it is written: a coil keeps its five digits (00005), the table being read
// from the first.
std::string ReferenceText(std::int32_t ref);

// The real an EnType2 float value holds; nothing for a pattern that is no number.
std::optional<double> FloatOf(std::int32_t pattern);

// "holding registers 40005..40007 written: 11 22 33" for a person.
std::string Describe(const ServedRequest& r);

}  // namespace plc::plclink
