#include "directnet/LinkState.h"

namespace plc::dnet {

LinkState& SeqLinkState() {
  thread_local LinkState state;
  return state;
}

}  // namespace plc::dnet
