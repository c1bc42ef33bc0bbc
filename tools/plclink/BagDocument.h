#pragma once
// --bag and --section as a user means them: the document and the section a control is restored
// from must be there, or the run would quietly start from a new control's defaults. Only `set`
// may start a document or a section, since it saves the control there.
#include <string>

namespace plc::plclink {

// Throws UsageError naming the file or the section (and the sections the file has) when the
// control cannot be restored from them; creates is true for a command that saves the control.
void CheckBagDocument(const std::string& path, const std::string& section, bool creates);

}  // namespace plc::plclink
