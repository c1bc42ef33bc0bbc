// The plug-in entry points of libDfLink.so.
#include <memory>

#include "df1/DfLink.h"

extern "C" plc::Control* PlcCreateControl() { return std::make_unique<plc::DfLink>().release(); }

extern "C" void PlcDestroyControl(plc::Control* control) { std::unique_ptr<plc::Control> owned(control); }
