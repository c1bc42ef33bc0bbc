#pragma once
// One control of a plant as the gateway's source: its plug-in loaded by name, restored from its
// section of the plant document as a host restores it (Initialize, ReadProperties, Show), named
// in its host by the section (so that it scans the groups naming it), its port opened and its
// scan and write queue started. Its scan reads and queued writes come out as callbacks.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frame/DatabaseFiles.h"
#include "platform/PluginControl.h"
#include "logger/TagValues.h"
#include "platform/ComponentHost.h"
#include "platform/IniPropertyBag.h"
#include "tools/plclink/PlantDocument.h"

namespace plc::plclink {

struct QueuedWriteEnd {
  std::string control;
  std::string address;
  std::int32_t value = 0;
  bool written = false;
  std::string error;
};

class PlantSource {
 public:
  // Throws RuntimeError (the plug-in cannot be loaded) or std::runtime_error (the section
  // cannot be read) naming the control.
  PlantSource(const PlantControl& control, const std::string& documentPath);
  ~PlantSource();
  PlantSource(const PlantSource&) = delete;
  PlantSource& operator=(const PlantSource&) = delete;

  const std::string& Name() const { return section_; }
  std::string ClassName() const { return control_->ClassName(); }
  const std::string& Library() const { return library_; }
  Control& Get() { return *control_; }

  // Whether the control reads a bare number as an octal V-memory address (SeqLink, and UdpLink
  // in ECOM mode), not as a register counted in decimal.
  bool NumbersAreOctal();
  // Fills the tables of this control's plug-in from the folder (each plug-in keeps its own).
  DatabaseLoad LoadDatabases(const std::string& folder);
  // Opens the port and starts the scan and the write queue; the text of what failed, or empty.
  std::string Start();
  // Stops the scan and the write queue's timer and frees the line (CommBusy = False), so that
  // no wait for it goes on; the port stays open.
  void StopScan();
  // StopScan, and the port closed.
  void Stop();
  // Queues a write of the control's one value; the refusal, or empty.
  std::string Force(const std::string& address, std::int32_t value);

  std::function<void(logger::ScanResult&)> OnScan;
  std::function<void(QueuedWriteEnd&)> OnWrite;

  std::int64_t Reads() const { return reads_; }
  std::int64_t Failed() const { return failed_; }

 private:
  void Event(const std::string& name, std::vector<Variant>& args);
  bool Has(const char* property) const;

  std::string section_;
  std::string library_;
  StandaloneHost host_;  // outlives the control
  PluginControl control_;
  IniPropertyBag bag_;
  bool opened_ = false;
  std::int64_t reads_ = 0;
  std::int64_t failed_ = 0;
};

}  // namespace plc::plclink
