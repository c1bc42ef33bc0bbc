#pragma once
// What plclink prints: plain lines for a person, or one JSON object per line with --json.
// Results and events go to standard output; problems and the line trace to standard error.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "base/Dispatch.h"
#include "base/Variant.h"
#include "tools/plclink/ServedRequests.h"

namespace plc::plclink {

// Local time with microseconds and offset, e.g. 2024-05-01T12:00:00.123456+02:00.
std::string IsoTime(std::int64_t wallMicros);
std::int64_t WallMicrosNow();

// Members only a host with a window uses: mouse, key and click events, drawing and dialogs.
bool FormOnly(const MemberInfo& member);

// A method or event as the members list shows it: Name(Optional a As Integer, ...).
std::string Signature(const MemberInfo& member);

class Output {
 public:
  Output(bool json, std::ostream& out) : json_(json), out_(out) {}

  // read and write: the result code, the values (read only), the ReadErrors text and the
  // control's cause of a failure (JSON only: plain output prints the cause on standard error).
  void Transfer(std::int32_t result, const std::vector<Variant>& values, const std::string& errors,
                const std::string& cause = {});
  // call: the result and each argument as it stands after the call (omitted ones Empty).
  // cause: why a read or write member failed (the control's FailureCause), when it did.
  void Call(const Variant& result, const std::vector<Variant>& args, const std::string& cause = {});
  // An event with its arguments as declared (params may be empty when none are declared).
  void Event(const std::string& name, const std::vector<Variant>& args, const std::vector<ParamInfo>& params,
             std::int64_t wallMicros);
  // serve: one request as it was served.
  void Served(const ServedRequest& request, std::int64_t wallMicros);
  void Property(const std::string& name, const Variant& value);
  // The members a command-line user can use first, then those only a form can (marked
  // "formOnly" in JSON).
  void Members(const std::string& className, const std::vector<MemberInfo>& members);
  // poll: a read whose completion never came (plain: a line; JSON: {"lost": ...}), with why when
  // the control knows (empty: it heard nothing).
  void LostReply(const std::string& method, const std::string& address, const std::string& errors,
                 const std::string& cause, std::int64_t wallMicros);
  // A plain line even with --json, such as the READY line that scripts wait for.
  void Notice(const std::string& text);

 private:
  bool json_;
  std::ostream& out_;
};

}  // namespace plc::plclink
