#include "qt/ControlObjects.h"

#include <stdexcept>

#include "qt/DfLinkObject.h"
#include "qt/RtuLinkObject.h"
#include "qt/SeqLinkObject.h"
#include "qt/UdpLinkObject.h"

namespace plc::qt {

std::unique_ptr<ControlObject> WrapControl(Control& control, QtComponentHost* host, QObject* parent) {
  const std::string name = control.ClassName();
  if (NamesEqual(name, "RtuLink")) return std::make_unique<RtuLinkObject>(control, host, parent);
  if (NamesEqual(name, "SeqLink")) return std::make_unique<SeqLinkObject>(control, host, parent);
  if (NamesEqual(name, "DfLink")) return std::make_unique<DfLinkObject>(control, host, parent);
  if (NamesEqual(name, "UdpLink")) return std::make_unique<UdpLinkObject>(control, host, parent);
  throw std::invalid_argument("no Qt wrapper for a " + name);
}

}  // namespace plc::qt
