#pragma once
// What the process holds in memory: resident pages, and bytes handed out by malloc.
#include <malloc.h>
#include <unistd.h>

#include <cstdio>

namespace plc::faults {

inline long ResidentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

inline long HeapBytes() { return static_cast<long>(::mallinfo2().uordblks); }

}  // namespace plc::faults
