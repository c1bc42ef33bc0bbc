#include "logger/TrendSvg.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <sstream>

#include "base/Dispatch.h"
#include "logger/TimeText.h"

namespace plc::logger {

namespace {

constexpr double kLeft = 80;    // room for the value labels
constexpr double kRight = 24;
constexpr double kWidth = kLeft + kTrendColumns + kRight;
constexpr double kTop = 48;     // the title
constexpr double kPanel = 170;  // one tag's panel, its heading included
constexpr double kHeading = 26;
constexpr double kBottom = 40;  // the time labels

std::string Num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// A value label with as many decimals as the span between ticks needs.
std::string Label(double v, double step) {
  const int decimals = step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step))));
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// "HH:MM:SS" of a time (UTC).
std::string Clock(std::int64_t us) { return IsoTimeUtc(us).substr(11, 8); }

// Round tick steps: 1, 2 or 5 times a power of ten, about `count` of them over the span.
double NiceStep(double span, int count) {
  if (!(span > 0)) return 1;
  const double raw = span / count;
  const double power = std::pow(10, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * power) return m * power;
  return 10 * power;
}

// The length of the character XML takes that starts at text[at], or 0 when none does there: a
// byte that is no UTF-8 (a tags.csv a spreadsheet saved in Latin-1) would make the whole picture
// one no browser opens.
std::size_t XmlCharLength(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  const std::size_t n = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (n == 0 || at + n > text.size()) return 0;
  std::uint32_t c = lead & (0x7Fu >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(at + k) & 0x3Fu);
  }
  const bool overlong = (n == 3 && c < 0x800) || (n == 4 && c < 0x10000);
  if (overlong || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) return 0;
  return n;
}

// At most `limit` bytes of text, cut before a character rather than inside it, "..." when cut.
std::string Shortened(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit - 3;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "...";
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (static_cast<unsigned char>(c) >= 0x80) {
      const std::size_t n = XmlCharLength(text, at);
      // Shown as U+FFFD, as the MQTT payloads show it.
      if (n == 0) out += "\xEF\xBF\xBD";
      else out.append(text, at, n);
      at += n == 0 ? 0 : n - 1;
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters are not allowed in XML 1.0 text.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') out += ' ';
        else out += c;
    }
  }
  return out;
}

std::string TrendSvg(const TrendInput& input) {
  std::int64_t t0 = std::numeric_limits<std::int64_t>::max(), t1 = std::numeric_limits<std::int64_t>::min();
  for (const HistorySeries& s : input.series)
    for (const HistoryPoint& p : s.points) {
      t0 = std::min(t0, p.timeUs);
      t1 = std::max(t1, p.timeUs);
    }
  for (const HistoryFailure& f : input.failures) {
    t0 = std::min(t0, f.timeUs);
    t1 = std::max(t1, f.timeUs);
  }
  if (t0 > t1) t0 = t1 = 0;
  if (t1 == t0) t1 = t0 + 1'000'000;
  const double plotWidth = kWidth - kLeft - kRight;
  const double height = kTop + kPanel * static_cast<double>(std::max<std::size_t>(input.series.size(), 1)) + kBottom;
  auto x = [&](std::int64_t t) { return kLeft + plotWidth * static_cast<double>(t - t0) / static_cast<double>(t1 - t0); };

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" << Num(kWidth) << "\" height=\""
      << Num(height) << "\" viewBox=\"0 0 " << Num(kWidth) << " " << Num(height)
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << Num(kLeft) << "\" y=\"28\" font-size=\"16\" font-weight=\"bold\">" << XmlEscape(input.title)
      << "</text>\n"
      << "<text x=\"" << Num(kWidth - kRight) << "\" y=\"28\" text-anchor=\"end\" fill=\"#555\">"
      << XmlEscape(IsoTimeUtc(t0).substr(0, 19) + " to " + IsoTimeUtc(t1).substr(0, 19) + " UTC") << "</text>\n";

  for (std::size_t k = 0; k < input.series.size(); ++k) {
    const HistorySeries& s = input.series[k];
    const double top = kTop + kPanel * static_cast<double>(k) + kHeading;
    const double bottom = kTop + kPanel * static_cast<double>(k + 1) - 12;
    double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
    for (const HistoryPoint& p : s.points)
      if (p.value) {
        lo = std::min(lo, *p.value);
        hi = std::max(hi, *p.value);
      }
    if (lo > hi) lo = hi = 0;
    // A flat line gets room around it; with values as large as 1e20 (a float no one wrote) that
    // room must be large enough to change them.
    const double magnitude = std::max(std::abs(lo), std::abs(hi));
    if (hi - lo < std::max(1e-9, magnitude * 1e-12)) {
      const double room = std::max(1.0, magnitude * 1e-6);
      lo -= room;
      hi += room;
    }
    const double step = NiceStep(hi - lo, 4);
    lo = std::floor(lo / step) * step;
    hi = std::ceil(hi / step) * step;
    auto y = [&](double v) { return bottom - (bottom - top) * (v - lo) / (hi - lo); };

    std::string heading = s.tag + (s.unit.empty() ? "" : " [" + s.unit + "]");
    if (!s.description.empty()) heading += "  " + s.description;
    svg << "<g class=\"tag\" id=\"" << XmlEscape(s.tag) << "\">\n"
        << "<text x=\"" << Num(kLeft) << "\" y=\"" << Num(top - 8) << "\" font-weight=\"bold\">" << XmlEscape(heading)
        << "</text>\n"
        << "<rect x=\"" << Num(kLeft) << "\" y=\"" << Num(top) << "\" width=\"" << Num(plotWidth) << "\" height=\""
        << Num(bottom - top) << "\" fill=\"none\" stroke=\"#999\"/>\n";
    // Counted, not summed: a step below the values' resolution would never reach hi.
    for (int i = 0; i <= 20 && lo + step * i <= hi + step / 2; ++i) {
      const double v = lo + step * i;
      svg << "<line x1=\"" << Num(kLeft) << "\" x2=\"" << Num(kLeft + plotWidth) << "\" y1=\"" << Num(y(v))
          << "\" y2=\"" << Num(y(v)) << "\" stroke=\"#eee\"/>"
          << "<text x=\"" << Num(kLeft - 6) << "\" y=\"" << Num(y(v) + 4) << "\" text-anchor=\"end\">"
          << XmlEscape(Label(v, step)) << "</text>\n";
    }
    if (s.points.empty()) {
      svg << "<text x=\"" << Num(kLeft + plotWidth / 2) << "\" y=\"" << Num((top + bottom) / 2)
          << "\" text-anchor=\"middle\" fill=\"#999\">no samples</text>\n";
    }
    // The step line, in runs of good samples; each bad stretch shaded until the next good one.
    std::string run;
    double held = 0;  // the value the line holds while run is not empty
    for (std::size_t i = 0; i < s.points.size(); ++i) {
      const HistoryPoint& p = s.points[i];
      if (p.value) {
        if (run.empty()) run = Num(x(p.timeUs)) + "," + Num(y(*p.value));
        else run += " " + Num(x(p.timeUs)) + "," + Num(y(held)) + " " + Num(x(p.timeUs)) + "," + Num(y(*p.value));
        held = *p.value;
        continue;
      }
      if (!run.empty()) {
        run += " " + Num(x(p.timeUs)) + "," + Num(y(held));
        svg << "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\" points=\"" << run << "\"/>\n";
        run.clear();
      }
      std::size_t next = i + 1;
      while (next < s.points.size() && !s.points[next].value) ++next;
      const std::int64_t end = next < s.points.size() ? s.points[next].timeUs : t1;
      svg << "<rect class=\"bad\" x=\"" << Num(x(p.timeUs)) << "\" y=\"" << Num(top) << "\" width=\""
          << Num(std::max(1.0, x(end) - x(p.timeUs))) << "\" height=\"" << Num(bottom - top)
          << "\" fill=\"#d33\" fill-opacity=\"0.18\"><title>" << XmlEscape(Clock(p.timeUs) + " bad: " + p.error)
          << "</title></rect>\n"
          << "<text x=\"" << Num(x(p.timeUs) + 3) << "\" y=\"" << Num(top + 14) << "\" fill=\"#b22\">"
          << XmlEscape(Shortened(p.error, 60)) << "</text>\n";
      i = next - 1;
    }
    if (!run.empty()) {
      run += " " + Num(x(t1)) + "," + Num(y(held));
      svg << "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\" points=\"" << run << "\"/>\n";
    }
    // The failures and recoveries of this tag's control.
    for (const HistoryFailure& f : input.failures) {
      if (!NamesEqual(f.control, s.control)) continue;
      const bool back = f.kind == "recovered";
      svg << "<line class=\"" << (back ? "recovered" : "failed") << "\" x1=\"" << Num(x(f.timeUs)) << "\" x2=\""
          << Num(x(f.timeUs)) << "\" y1=\"" << Num(top) << "\" y2=\"" << Num(bottom) << "\" stroke=\""
          << (back ? "#2a2" : "#d33") << "\" stroke-dasharray=\"4 3\"><title>"
          << XmlEscape(Clock(f.timeUs) + " " + f.control + " " + f.kind + ": " + f.text) << "</title></line>\n";
    }
    svg << "</g>\n";
  }

  const double axis = height - kBottom + 16;
  const std::int64_t span = t1 - t0;
  const double stepSeconds = NiceStep(static_cast<double>(span) / 1e6, 6);
  // At least a microsecond, the history's resolution: a span of 1 us rounds its step to 0.
  const auto stepUs = std::max<std::int64_t>(1, std::llround(stepSeconds * 1e6));
  // Ticks less than a second apart carry the fraction that tells them apart.
  const std::size_t decimals =
      stepUs % 1'000'000 == 0 ? 0 : static_cast<std::size_t>(std::min(6.0, std::ceil(-std::log10(stepSeconds))));
  for (std::int64_t t = (t0 / stepUs + 1) * stepUs; t <= t1 && stepUs > 0; t += stepUs) {
    svg << "<text x=\"" << Num(x(t)) << "\" y=\"" << Num(axis) << "\" text-anchor=\"middle\" fill=\"#555\">"
        << IsoTimeUtc(t).substr(11, decimals == 0 ? 8 : 9 + decimals) << "</text>\n";
  }
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace plc::logger
