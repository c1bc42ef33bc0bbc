// The trend picture: a panel per tag with its unit, a step line through the good samples, the
// bad stretches shaded with their text, the failures of each tag's control marked in its panel,
// and text escaped.
#include "logger/TrendSvg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
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

// Whether text is UTF-8 an XML parser takes: every sequence whole, none overlong, no surrogate,
// nothing beyond U+10FFFF, and not U+FFFE or U+FFFF.
bool XmlUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = b(at);
    std::size_t n = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                    : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (n == 0 || at + n > text.size()) return false;
    std::uint32_t c = n == 1 ? lead : lead & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      if ((b(at + k) & 0xC0) != 0x80) return false;
      c = (c << 6) | (b(at + k) & 0x3F);
    }
    if ((n == 3 && c < 0x800) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF) ||
        c == 0xFFFE || c == 0xFFFF)
      return false;
    at += n;
  }
  return true;
}

// A tags.csv saved by a spreadsheet in Latin-1 ("\xB0C" for °C) loads, and its texts reach the
// picture as they are: a byte that is no UTF-8 made the whole SVG one no browser opens ("encoding
// error"), where the MQTT payloads show it as U+FFFD. So does a bad stretch's text cut inside a
// character, a control name or a failure's text with such bytes.
TEST(TrendSvg, TextThatIsNoUtf8StillMakesAPictureABrowserOpens) {
  TrendInput in;
  in.title = "Halle S\xFC" "d";
  HistorySeries temp{"Oven.Temp", "Ofen \xE4", "\xB0" "C", "K\xFChlwasser \xED\xA0\x80 \xEF\xBF\xBF", {}};
  temp.points = {{0, 20.0, {}}, {1'000'000, std::nullopt, std::string(56, 'x') + "\xC2\xB0" "C too hot"},
                 {2'000'000, 21.0, {}}};
  in.series = {temp};
  in.failures = {{1'000'000, "failed", "Ofen \xE4", "F\xFChler offen"}};
  const std::string svg = TrendSvg(in);
  EXPECT_TRUE(XmlUtf8(svg));
  EXPECT_NE(svg.find("Oven.Temp [\xEF\xBF\xBD" "C]"), std::string::npos) << "the unit's byte shown as U+FFFD";
  EXPECT_NE(svg.find(std::string(56, 'x') + "..."), std::string::npos) << "cut before the character, not in it";
  EXPECT_EQ(Occurrences(svg, "class=\"failed\""), 1u) << "the failure still marked in its control's panel";
  EXPECT_EQ(XmlEscape("22 \xC2\xB0" "C"), "22 \xC2\xB0" "C") << "UTF-8 kept";
}

}  // namespace
}  // namespace plc::logger
