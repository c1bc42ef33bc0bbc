// The plug-in entry points of libseqlink.so.
#include <memory>

#include "directnet/SeqLink.h"

extern "C" plc::Control* PlcCreateControl() { return std::make_unique<plc::SeqLink>().release(); }

extern "C" void PlcDestroyControl(plc::Control* control) { std::unique_ptr<plc::Control> owned(control); }
