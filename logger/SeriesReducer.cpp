#include "logger/SeriesReducer.h"

#include <algorithm>

namespace plc::logger {

SeriesReducer::SeriesReducer(std::int64_t t0, std::int64_t t1, int columns)
    : t0_(t0), t1_(std::max(t1, t0 + 1)), columns_(std::max(columns, 0)) {}

void SeriesReducer::Add(HistoryPoint point) {
  if (columns_ == 0) {
    kept_.push_back(std::move(point));
    return;
  }
  const std::int64_t clamped = std::clamp(point.timeUs, t0_, t1_);
  // In floating point: a span of decades in microseconds times the columns overflows 64 bits;
  // a column is far wider than the rounding.
  const auto index = static_cast<std::int64_t>(static_cast<double>(clamped - t0_) /
                                               static_cast<double>(t1_ - t0_) * columns_);
  if (index != open_.index) {
    Close();
    open_.index = index;
  }
  if (!open_.first) open_.first = point;
  if (point.value) {
    if (!open_.low || *point.value < *open_.low->value) open_.low = point;
    if (!open_.high || *point.value > *open_.high->value) open_.high = point;
  } else if (!open_.bad) {
    open_.bad = point;
  }
  open_.last = std::move(point);
}

void SeriesReducer::Close() {
  if (open_.index < 0) return;
  std::vector<HistoryPoint> column;
  for (std::optional<HistoryPoint>* p : {&open_.first, &open_.low, &open_.high, &open_.bad, &open_.last})
    if (*p) column.push_back(std::move(**p));
  // In time order; the same sample kept for two reasons is kept once.
  std::stable_sort(column.begin(), column.end(),
                   [](const HistoryPoint& a, const HistoryPoint& b) { return a.timeUs < b.timeUs; });
  for (HistoryPoint& p : column) {
    const bool same = !kept_.empty() && kept_.back().timeUs == p.timeUs && kept_.back().value == p.value &&
                      kept_.back().error == p.error;
    if (!same) kept_.push_back(std::move(p));
  }
  open_ = Column{};
}

std::vector<HistoryPoint> SeriesReducer::Take() {
  Close();
  std::vector<HistoryPoint> out = std::move(kept_);
  kept_.clear();
  return out;
}

}  // namespace plc::logger
