#include "platform/Control.h"

namespace plc {

Control::Control() = default;
Control::~Control() = default;

}  // namespace plc
