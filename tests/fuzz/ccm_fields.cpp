// The CCM request window's field checks over arbitrary text. The first byte picks the options
// (protocol, query by ID or name, data type, read or write); the rest is the module ID, name,
// address, size and data fields, one a line. What is accepted keeps the window's limits and
// carries exactly the bytes the size asks for; what is refused names a field.
// fuzz-libs: plcscreens
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "screens/CcmRequestWindow.h"

using plc::screens::CcmDataType;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  std::vector<std::string> lines(5);
  std::size_t line = 0;
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == '\n' && line + 1 < lines.size()) ++line;
    else lines[line] += static_cast<char>(data[i]);
  }
  plc::screens::CcmFields f;
  f.protocol = options & 1 ? plc::screens::CcmProtocol::UseIPX : plc::screens::CcmProtocol::UseIP;
  f.query = options & 2 ? plc::screens::CcmQuery::Name : plc::screens::CcmQuery::ModuleId;
  const CcmDataType types[] = {CcmDataType::Registers, CcmDataType::Inputs, CcmDataType::Outputs,
                               CcmDataType::Registers};
  f.dataType = types[(options >> 2) & 3];
  f.write = options & 16;
  f.moduleId = lines[0];
  f.name = lines[1];
  f.address = lines[2];
  f.size = lines[3];
  f.data = lines[4];

  plc::screens::CcmFieldError error;
  auto r = plc::screens::CheckCcmFields(f, error);
  if (!r) {
    if (error.field.empty() || error.message.rfind(error.field, 0) != 0) std::abort();
    return 0;
  }
  const bool registers = r->dataType == CcmDataType::Registers;
  if (r->address > 0x3FFF || r->size < 1 || r->size > 256) std::abort();
  if (registers && r->size % 2 != 0) std::abort();
  if (r->address + (registers ? r->size / 2 : r->size) - 1 > 0x3FFF) std::abort();
  if (r->write != f.write || (r->write && r->data.size() != r->size) || (!r->write && !r->data.empty())) std::abort();
  if (r->query == plc::screens::CcmQuery::Name && (r->name.empty() || r->name.size() > 32)) std::abort();
  return 0;
}
