#pragma once
// From the end of a scan read to the samples of its tags: each tag of that control and scan
// group takes its values from its element on, made into a number by its iotype, then scaled
// (raw * scale + offset). A sample is kept when the tag has no deadband, or its value moved
// beyond it since the last kept one, or its quality changed.
//
// A failed read gives each of its tags one bad sample with the failure's text when it was good
// (not one per failed read). Records are kept per line (control): the first failed read while
// none of its groups fails gives one "failed" record, and the line is "recovered" once every
// failing group read again; a line where one group kept failing alone says once more when every
// group fails. A tag whose value cannot be made (a word that is no BCD, a float that is
// no number) is bad on its own the same way, its group's other tags unharmed.
//
// The way back serves writes: an engineering value to the one register a writable tag is.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "frame/DatabaseFiles.h"
#include "base/Variant.h"
#include "logger/Records.h"

namespace plc::logger {

// The end of one scan read of one control, as its ScanComplete event told it.
struct ScanResult {
  std::string control;
  std::int32_t index = 0;       // the scan group's index
  std::vector<Variant> values;  // value 1 first
  std::string error;            // empty: the read succeeded
  std::int64_t timeUs = 0;
};

// A tag's raw value from the values of its group's read; nullopt with the reason when it cannot
// be made.
std::optional<double> RawValue(const TagRow& tag, const std::vector<Variant>& values, std::string& why);

class TagValues {
 public:
  explicit TagValues(std::vector<TagRow> rows);

  const std::vector<TagInfo>& Tags() const { return infos_; }
  const std::vector<TagRow>& Rows() const { return rows_; }
  // The tags a control's groups carry (to know which controls need a scan).
  bool Scans(const std::string& control) const;

  // Appends what the read gives to the batch.
  void Take(const ScanResult& result, Batch& out);

  // The tag of that name (without regard to case).
  std::optional<std::int32_t> Find(const std::string& name) const;
  // The word written for an engineering value of a writable tag; nullopt with the reason when
  // the tag is not writable or the value does not fit its register.
  std::optional<std::int32_t> RawForWrite(std::int32_t tag, double value, std::string& why) const;

 private:
  struct TagState {
    bool seen = false;
    bool good = false;
    double last = 0;
  };
  // A control's line: failures are logged once per line, not once per group. The line starts
  // failing with the first group whose read fails while none does, and is back once every
  // failing group read again.
  struct LineState {
    std::set<std::int32_t> groups;   // the groups read on it so far
    std::set<std::int32_t> failing;  // those whose last read failed
    std::int64_t failures = 0;       // failed reads since it started failing
    // A good read of another group came while some failed (one group's own fault, not the
    // line's): when every group fails after all, that is said once more.
    bool partly = false;
  };
  using GroupKey = std::pair<std::string, std::int32_t>;  // lower-case control, index

  std::vector<TagRow> rows_;
  std::vector<TagInfo> infos_;
  std::vector<TagState> states_;
  std::map<GroupKey, std::vector<std::int32_t>> byGroup_;
  std::map<std::string, LineState> lines_;  // by lower-case control
};

}  // namespace plc::logger
