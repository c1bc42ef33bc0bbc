#pragma once
// Why RtuLink could not resolve an address, naming the part it did not understand: the
// resolver itself only says no, as hosts expect of it.
#include <string>

#include "frame/TagDatabase.h"

namespace plc::modbus {

// For an address that ResolveAddress refused: "address '' not understood: it is empty".
std::string AddressCause(const std::string& address, TagDatabase& tags);

// The address as a message shows it: quoted, control characters escaped, a long one cut
// with its length.
std::string ShownAddress(const std::string& address);

}  // namespace plc::modbus
