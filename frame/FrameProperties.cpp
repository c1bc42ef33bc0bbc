#include "frame/FrameProperties.h"

namespace plc {

std::int16_t UnitAddressOf(std::int32_t address) { return Variant(address).ToInt16(); }

}  // namespace plc
