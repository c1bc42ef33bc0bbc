// The plug-in entry points of libudplink.so.
#include <memory>

#include "ecom/UdpLink.h"

extern "C" plc::Control* PlcCreateControl() { return std::make_unique<plc::UdpLink>().release(); }

extern "C" void PlcDestroyControl(plc::Control* control) { std::unique_ptr<plc::Control> owned(control); }
