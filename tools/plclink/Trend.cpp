#include "tools/plclink/Trend.h"

#include <filesystem>
#include <iostream>
#include <set>

#include "logger/SqliteHistory.h"
#include "logger/TimeText.h"
#include "logger/TrendSvg.h"
#include "platform/ProfileFile.h"

namespace plc::plclink {

namespace {
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
}  // namespace

std::string TrendUsage() {
  return R"(usage: plclink trend DB TAG... --svg FILE [--title TEXT] [--from TIME] [--to TIME]

Draws the values the gateway logged in the history DB for each TAG (one panel each, in its
unit) over time into an SVG picture; bad stretches are shaded and the failures of the tags'
controls marked. (SVG rather than PNG: it needs no library and opens in any browser.)
--from and --to (UTC: 2026-05-01, 2026-05-01T12:00, 2026-05-01T12:00:30Z) limit the time
drawn. However long the history, each panel keeps a few samples per pixel column (the first,
last, lowest and highest, and the first bad one), so the picture stays small.
)";
}

int RunTrend(const std::vector<std::string>& args) {
  std::string database, svg, title;
  std::vector<std::string> tags;
  logger::HistoryWindow window;
  window.columns = logger::kTrendColumns;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a == "--svg" || a == "--title") && i + 1 < args.size()) {
      (a == "--svg" ? svg : title) = args[++i];
    } else if ((a == "--from" || a == "--to") && i + 1 < args.size()) {
      const std::string& text = args[++i];
      const auto time = logger::ParseIsoTimeUtc(text);
      if (!time) {
        std::cerr << "plclink trend: " << a << " '" << text
                  << "' is no time (UTC, as 2026-05-01, 2026-05-01T12:00 or 2026-05-01T12:00:30Z)\n";
        return kExitUsage;
      }
      (a == "--from" ? window.fromUs : window.toUs) = *time;
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
  if (window.fromUs && window.toUs && *window.fromUs > *window.toUs) {
    std::cerr << "plclink trend: --from is later than --to\n";
    return kExitUsage;
  }
  try {
    logger::HistoryReader history(database);
    logger::TrendInput input;
    input.title = title.empty() ? std::filesystem::path(database).filename().string() : title;
    std::set<std::string> controlSet;
    for (const std::string& tag : tags) controlSet.insert(history.ControlOf(tag));
    const std::vector<std::string> controls(controlSet.begin(), controlSet.end());
    // The span drawn: what is logged within the window; each panel is read for its columns.
    if (const auto span = history.Span(tags, controls, window)) {
      window.fromUs = window.fromUs.value_or(span->first);
      window.toUs = window.toUs.value_or(span->second);
    }
    for (const std::string& tag : tags) input.series.push_back(history.Series(tag, window));
    input.failures = history.Failures(controls, window);
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
