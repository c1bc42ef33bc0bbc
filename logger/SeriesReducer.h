#pragma once
// A tag's samples brought down to what a picture can show: over [t0, t1] cut into `columns`
// columns (one a pixel wide), each column keeps its first sample, its lowest and highest good
// values, its first bad sample and its last sample, in time order. A step line through them
// reaches every extreme and shows every bad stretch at the picture's resolution, while a year of
// one-second samples costs no more than a minute's worth. Samples are taken one at a time, in
// time order, so that the whole series is never held.
#include <cstdint>
#include <optional>
#include <vector>

#include "logger/SqliteHistory.h"

namespace plc::logger {

class SeriesReducer {
 public:
  // columns 0: every sample is kept.
  SeriesReducer(std::int64_t t0, std::int64_t t1, int columns);

  void Add(HistoryPoint point);
  // The points kept, in time order; the reducer is empty after.
  std::vector<HistoryPoint> Take();

 private:
  struct Column {
    std::int64_t index = -1;
    std::optional<HistoryPoint> first, low, high, bad, last;
  };
  void Close();

  std::int64_t t0_;
  std::int64_t t1_;
  int columns_;
  Column open_;
  std::vector<HistoryPoint> kept_;
};

}  // namespace plc::logger
