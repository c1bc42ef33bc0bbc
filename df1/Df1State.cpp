#include "df1/Df1State.h"

namespace plc::df1 {

Df1State& TheDf1State() {
  thread_local Df1State state;
  return state;
}

}  // namespace plc::df1
