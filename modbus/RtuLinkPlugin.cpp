// The plug-in entry points of librtulink.so.
#include <memory>

#include "modbus/RtuLink.h"

extern "C" plc::Control* PlcCreateControl() { return std::make_unique<plc::RtuLink>().release(); }

extern "C" void PlcDestroyControl(plc::Control* control) { std::unique_ptr<plc::Control> owned(control); }
