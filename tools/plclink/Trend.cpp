#include "tools/plclink/Trend.h"

#include <filesystem>
#include <iostream>
#include <set>

#include "logger/SqliteHistory.h"
#include "logger/TrendSvg.h"
#include "platform/ProfileFile.h"

namespace plc::plclink {

namespace {
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
}  // namespace

std::string TrendUsage() {
  return R"(usage: plclink trend DB TAG... --svg FILE [--title TEXT]

Draws the values the gateway logged in the history DB for each TAG (one panel each, in its
unit) over time into an SVG picture; bad stretches are shaded and the failures of the tags'
controls marked. (SVG rather than PNG: it needs no library and opens in any browser.)
)";
}

int RunTrend(const std::vector<std::string>& args) {
  std::string database, svg, title;
  std::vector<std::string> tags;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a == "--svg" || a == "--title") && i + 1 < args.size()) {
      (a == "--svg" ? svg : title) = args[++i];
    } else if (a == "--png") {
      std::cerr << "plclink trend: the picture is SVG (no image library needed): use --svg FILE\n" << TrendUsage();
      return kExitUsage;
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << "plclink trend: unknown option or missing value: " << a << "\n" << TrendUsage();
      return kExitUsage;
    } else if (database.empty()) {
      database = a;
    } else {
      tags.push_back(a);
    }
  }
  if (database.empty() || tags.empty() || svg.empty()) {
    std::cerr << "plclink trend: needs the database, at least one tag and --svg FILE\n" << TrendUsage();
    return kExitUsage;
  }
  try {
    logger::HistoryReader history(database);
    logger::TrendInput input;
    input.title = title.empty() ? std::filesystem::path(database).filename().string() : title;
    std::set<std::string> controls;
    for (const std::string& tag : tags) {
      input.series.push_back(history.Series(tag));
      controls.insert(history.ControlOf(tag));
    }
    input.failures = history.Failures(std::vector<std::string>(controls.begin(), controls.end()));
    if (!WriteFileAtomically(svg, logger::TrendSvg(input))) {
      std::cerr << "plclink trend: " << svg << ": cannot be written\n";
      return kExitFailed;
    }
    std::size_t points = 0;
    for (const auto& s : input.series) points += s.points.size();
    std::cout << "trend: " << tags.size() << " tag" << (tags.size() == 1 ? "" : "s") << ", " << points
              << " samples, " << input.failures.size() << " failures marked: "
              << std::filesystem::absolute(svg).string() << "\n";
    return 0;
  } catch (const logger::SinkError& e) {
    std::cerr << "plclink trend: " << e.what() << "\n";
    return kExitFailed;
  }
}

}  // namespace plc::plclink
