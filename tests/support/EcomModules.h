#pragma once
// Points this process's hei_pas at the built library and at simulated ECOM modules: the
// library, the query time (short, so that a test's open takes a fraction of a second) and the
// module list come from the environment, which the library reads at its open.
#include <stdlib.h>

#include <string>

#include "tools/plcsim/EcomModuleSim.h"

namespace plc::test {

// Starts the modules and names them to the library that the next open loads.
inline void ServeEcomModules(sim::EcomModuleSim& modules, const char* queryMs = "300") {
  setenv("HEI_PAS_LIBRARY", PLC_BINARY_DIR "/lib/libhei_pas.so", 1);
  setenv("HEI_PAS_QUERY_MS", queryMs, 1);
  modules.Start();
  setenv("HEI_PAS_MODULES", modules.ModuleList().c_str(), 1);
}

}  // namespace plc::test
