#pragma once
// plclink trend DB TAG... --svg FILE: the logged values of the tags over time as an SVG
// picture, with units, bad stretches and the failures of their controls marked.
#include <string>
#include <vector>

namespace plc::plclink {

std::string TrendUsage();
// Exit status: 0 written, 1 the database or a tag could not be read or the file written,
// 2 a usage error.
int RunTrend(const std::vector<std::string>& args);

}  // namespace plc::plclink
