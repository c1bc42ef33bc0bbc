#pragma once
// A plant document: the property-bag document of several controls (one section each, as
// IniPropertyBag keeps them) with a Control key naming each section's control, and a Gateway
// section for the gateway itself:
//
//   [Gateway]
//   Databases="."          ; folder of tags.csv and scan.csv, beside this document by default
//   History="plant.db"     ; the SQLite history (default: the document's name with .db)
//   Topic="plant"          ; the MQTT topic prefix
//   CommitMs=1000          ; how often a batch of samples is committed
//
//   [Press]
//   Control="RtuLink"      ; RtuLink, SeqLink, DfLink or UdpLink
//   CommPort=1
//   ...                    ; the control's own keys
//
// Relative paths are taken from the document's folder.
#include <string>
#include <vector>

namespace plc::plclink {

struct PlantControl {
  std::string section;   // the control's name in the plant
  std::string library;   // its plug-in: rtulink, seqlink, DfLink, udplink
};

struct PlantDocument {
  std::string path;
  std::vector<PlantControl> controls;
  std::string databases;
  std::string history;
  std::string topic = "plant";
  int commitMs = 1000;
};

// Throws std::runtime_error naming the file (and line) when it cannot be read, is no profile,
// names an unknown control, or has no control section.
PlantDocument ReadPlantDocument(const std::string& path);

// path taken from folder when relative.
std::string FromFolder(const std::string& folder, const std::string& path);

}  // namespace plc::plclink
