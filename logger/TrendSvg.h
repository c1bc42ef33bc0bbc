#pragma once
// The picture of a history: one panel per tag over a shared time axis, each with its own value
// axis in the tag's unit. A value holds until the next sample (a step line); the time a tag
// was bad is shaded red with its failure's text as the shading's tooltip, and the failures and
// recoveries of each tag's control are marked as dashed lines across its panel. SVG 1.1
// text, so that the picture needs no library and opens in any browser.
#include <string>
#include <vector>

#include "logger/SqliteHistory.h"

namespace plc::logger {

// The columns of the plot (its width in pixels): a history read for the picture needs no more
// points than a few per column.
inline constexpr int kTrendColumns = 856;

struct TrendInput {
  std::string title;
  std::vector<HistorySeries> series;
  std::vector<HistoryFailure> failures;
};

std::string TrendSvg(const TrendInput& input);

// Text as it may stand in SVG text and attributes; a byte that is no UTF-8 becomes U+FFFD.
std::string XmlEscape(const std::string& text);

}  // namespace plc::logger
