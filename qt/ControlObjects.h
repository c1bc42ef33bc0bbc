#pragma once
// The generated wrapper of a control chosen by its class, for a host that knows its control
// only at run time (a panel opened on any of the four).
#include <memory>

#include "qt/ControlObject.h"

namespace plc::qt {

// RtuLinkObject, SeqLinkObject, DfLinkObject or UdpLinkObject around control (which must
// outlive it); throws std::invalid_argument for a class without a wrapper.
std::unique_ptr<ControlObject> WrapControl(Control& control, QtComponentHost* host = nullptr, QObject* parent = nullptr);

}  // namespace plc::qt
