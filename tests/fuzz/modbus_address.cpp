// RtuLink's address road over arbitrary text: what resolves and maps to a request fits the
// request's fields (offset 0..65535, a function of its access), and what does not is refused
// with a text that names the address, or the reference and what references work.
// fuzz-libs: plcmodbus
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "frame/AddressString.h"
#include "base/Enums.h"
#include "frame/TagDatabase.h"
#include "modbus/AddressCause.h"
#include "modbus/MasterCause.h"
#include "modbus/Pdu.h"
#include "modbus/ReferenceMap.h"

namespace {

using namespace plc::modbus;

bool FunctionFits(std::uint8_t f, Access access) {
  switch (access) {
    case Access::Read: return IsRead(f);
    case Access::SingleWrite: return IsSingleWrite(f);
    case Access::MultipleWrite: return IsMultipleWrite(f);
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  plc::TagDatabase tags;
  auto target = plc::ResolveAddress(text, 1, tags);
  if (!target) {
    std::string cause = AddressCause(text, tags);
    if (cause.rfind("address '", 0) != 0 || cause.find("not understood: ") == std::string::npos) std::abort();
    if (cause.size() > 400) std::abort();  // a long address is shown cut
    return 0;
  }
  for (std::int32_t plcType : {plc::rtu::EnStdModbus, plc::rtu::EnType2}) {
    for (Access access : {Access::Read, Access::SingleWrite, Access::MultipleWrite}) {
      auto m = MapReference(plcType, target->reference, access);
      if (!m) {
        std::string cause = UnmappedCause(plcType, target->reference, access);
        if (cause.find("reference " + std::to_string(target->reference)) == std::string::npos) std::abort();
        continue;
      }
      if (m->offset < 0 || m->offset > 65535 || !FunctionFits(m->function, access)) std::abort();
      if (m->startReference != target->reference) std::abort();
    }
  }
  return 0;
}
