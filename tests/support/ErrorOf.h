// The run-time error a call raised, by number, or 0 when it raised none: for tests that check
// which error reaches the host.
#pragma once

#include "base/RuntimeError.h"

namespace plc::test {

template <class Call>
int ErrorOf(Call&& call) {
  try {
    call();
  } catch (const RuntimeError& e) {
    return e.Number();
  }
  return 0;
}

}  // namespace plc::test
