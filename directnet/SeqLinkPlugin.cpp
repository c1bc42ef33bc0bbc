// The plug-in entry points of libseqlink.so.
#include <memory>

#include "frame/DatabaseFiles.h"
#include "directnet/SeqLink.h"

extern "C" plc::Control* PlcCreateControl() { return std::make_unique<plc::SeqLink>().release(); }

extern "C" void PlcDestroyControl(plc::Control* control) { std::unique_ptr<plc::Control> owned(control); }

// Fills this plug-in's tag and scan tables of the calling thread from the files in folder.
extern "C" void PlcLoadDatabases(const char* folder, plc::DatabaseLoad* result) {
  plc::PluginLoadDatabases(folder, result);
}
