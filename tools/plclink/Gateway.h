#pragma once
// plclink gateway PLANT.ini: every control of a plant document scanning its groups on one
// thread, each completed read mapped to its tags' values, the values logged to SQLite and, with
// --mqtt, published to a broker, whose PREFIX/TAG/set messages write writable tags through the
// controls' write queues. A live status line while it runs; Ctrl-C (or --seconds) ends it with
// a summary.
#include <optional>
#include <string>
#include <vector>

namespace plc::plclink {

struct GatewayOptions {
  std::string plant;
  std::optional<std::string> database;  // --db
  std::optional<std::string> mqtt;      // --mqtt HOST[:PORT]
  std::optional<std::string> topic;     // --topic
  std::optional<double> seconds;        // --seconds
  std::optional<int> commitMs;          // --commit-ms
  bool verbose = false;                 // --verbose: each committed batch on standard output
};

// Throws UsageError.
GatewayOptions ParseGatewayArguments(const std::vector<std::string>& args);
std::string GatewayUsage();

// Exit status: 0 after a run ended by Ctrl-C or --seconds, 1 when it could not start or a sink
// failed, 2 a usage error.
int RunGateway(const std::vector<std::string>& args);

}  // namespace plc::plclink
