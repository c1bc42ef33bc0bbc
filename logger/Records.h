#pragma once
// What the gateway hands its sinks: the tags it logs, the samples of their values, and the
// failures it saw, each with the time it happened.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plc::logger {

// A tag as the sinks know it; its position in the gateway's list is its id.
struct TagInfo {
  std::string name;
  std::string control;
  std::string address;
  std::string description;
  std::string unit;
  std::string ioType;
  double scale = 1;
  double offset = 0;
  std::optional<double> deadband;
  bool writable = false;
};

enum class Quality { Good, Bad };

struct Sample {
  std::int32_t tag = 0;      // index into the tag list
  std::int64_t timeUs = 0;   // microseconds since 1970-01-01 UTC
  std::optional<double> value;  // none when the quality is bad
  Quality quality = Quality::Good;
  std::string error;         // why a bad sample is bad
};

enum class FailureKind { Failed, Recovered, WriteFailed, Refused };
// "failed", "recovered", "write failed", "refused".
const char* FailureKindName(FailureKind kind);

struct Failure {
  std::int64_t timeUs = 0;
  FailureKind kind = FailureKind::Failed;
  std::string control;          // empty: none (a refused message names no control)
  std::optional<std::int32_t> tag;  // the tag it concerns, if one
  std::optional<std::int32_t> scanGroup;  // the scan group's index, if one
  std::string text;
};

struct Batch {
  std::vector<Sample> samples;
  std::vector<Failure> failures;
  bool Empty() const { return samples.empty() && failures.empty(); }
};

}  // namespace plc::logger
