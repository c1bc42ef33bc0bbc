// The trend picture: a panel per tag with its unit, a step line through the good samples, the
// bad stretches shaded with their text, the failures of each tag's control marked in its panel,
// and text escaped.
#include "logger/TrendSvg.h"

#include <gtest/gtest.h>

#include <vector>

namespace plc::logger {
namespace {

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(TrendSvg, PanelsLinesBadStretchesAndFailures) {
  TrendInput in;
  in.title = "plant <east>";
  HistorySeries temp{"Press.Temp", "Press", "°C", "Platen", {}};
  temp.points = {{0, 20.0, {}}, {1'000'000, 21.0, {}}, {2'000'000, std::nullopt, "no reply & more"},
                 {3'000'000, std::nullopt, "no reply & more"}, {4'000'000, 22.0, {}}};
  HistorySeries count{"Line.Count", "Line", "", "", {}};
  in.series = {temp, count};
  in.failures = {{2'000'000, "failed", "Press", "no reply & more"}, {4'000'000, "recovered", "press", "read again"},
                 {3'000'000, "failed", "Line", "other line"}};
  const std::string svg = TrendSvg(in);
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("plant &lt;east&gt;"), std::string::npos);
  EXPECT_NE(svg.find("Press.Temp [°C]  Platen"), std::string::npos);
  EXPECT_EQ(Occurrences(svg, "<g class=\"tag\""), 2u);
  // Two runs of good samples around one bad stretch (its two bad samples shaded together).
  EXPECT_EQ(Occurrences(svg, "<polyline"), 2u);
  EXPECT_EQ(Occurrences(svg, "class=\"bad\""), 1u);
  EXPECT_NE(svg.find("bad: no reply &amp; more"), std::string::npos);
  // Each control's failures in its own tag's panel only (names compared without regard to case).
  EXPECT_EQ(Occurrences(svg, "class=\"failed\""), 2u);
  EXPECT_EQ(Occurrences(svg, "class=\"recovered\""), 1u);
  EXPECT_NE(svg.find("Line failed: other line"), std::string::npos);
  EXPECT_NE(svg.find("no samples"), std::string::npos) << "an empty series says so";
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

// Each tick of the time axis says the time it stands at: ticks closer than a second apart
// (a short history, or a single sample's one-second span) carry their fractions.
TEST(TrendSvg, TimeTicksNameTheirOwnTimes) {
  const std::string tick = "text-anchor=\"middle\" fill=\"#555\">";
  for (std::int64_t span : {std::int64_t{0}, std::int64_t{2'000'000}, std::int64_t{600'000'000}}) {
    TrendInput in;
    HistorySeries s{"Press.Temp", "Press", "", "", {}};
    s.points = {{1'700'000'000'000'000, 1.0, {}}, {1'700'000'000'000'000 + span, 2.0, {}}};
    in.series = {s};
    const std::string svg = TrendSvg(in);
    std::vector<std::string> labels;
    for (std::size_t at = svg.find(tick); at != std::string::npos; at = svg.find(tick, at + 1)) {
      const std::size_t from = at + tick.size();
      labels.push_back(svg.substr(from, svg.find('<', from) - from));
    }
    ASSERT_GE(labels.size(), 3u) << span;
    for (std::size_t k = 1; k < labels.size(); ++k) EXPECT_NE(labels[k], labels[k - 1]) << span << ": " << svg;
    if (span == 2'000'000) {
      EXPECT_EQ(labels[0], "22:13:20.5");
    }
    if (span == 600'000'000) {
      EXPECT_EQ(labels[0], "22:15:00") << "whole seconds need no fraction";
    }
  }
}

// A history whose samples lie a microsecond apart is drawn with ticks of a microsecond.
TEST(TrendSvg, SamplesAMicrosecondApartAreDrawn) {
  TrendInput in;
  HistorySeries s{"Press.Temp", "Press", "", "", {}};
  s.points = {{1'700'000'000'000'000, 1.0, {}}, {1'700'000'000'000'001, 2.0, {}}};
  in.series = {s};
  const std::string svg = TrendSvg(in);
  EXPECT_EQ(Occurrences(svg, "<polyline"), 1u);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

// A float tag reading memory no one wrote holds values such as 1e20, where adding a tick step
// changes nothing: the value axis still ends, with its ticks and the value's line.
TEST(TrendSvg, HugeValuesGetAFiniteValueAxis) {
  for (const std::vector<double>& values :
       {std::vector<double>{1e20, 1e20}, std::vector<double>{1e20, 1e20 + 16384}, std::vector<double>{-3e38, 3e38}}) {
    TrendInput in;
    HistorySeries s{"Oven.Raw", "Oven", "", "", {}};
    s.points = {{0, values[0], {}}, {1'000'000, values[1], {}}};
    in.series = {s};
    const std::string svg = TrendSvg(in);
    const std::size_t ticks = Occurrences(svg, "stroke=\"#eee\"");
    EXPECT_GE(ticks, 2u) << values[0];
    EXPECT_LE(ticks, 20u) << values[0];
    EXPECT_EQ(svg.find("nan"), std::string::npos) << values[0];
    EXPECT_EQ(Occurrences(svg, "<polyline"), 1u) << values[0];
  }
}

TEST(TrendSvg, XmlEscapeLeavesNoMarkupOrControlBytes) {
  EXPECT_EQ(XmlEscape("a<b>&\"c\"\x01"), "a&lt;b&gt;&amp;&quot;c&quot; ");
}

}  // namespace
}  // namespace plc::logger
