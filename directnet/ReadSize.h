#pragma once
// The ReadSize argument of the DirectLOGIC controls' reads, read one way by SeqLink and UdpLink:
// omitted or Empty it is 1 (an Empty one is written back as 1, as the classic controls did);
// anything else must be a number.
#include <cstdint>
#include <optional>
#include <string>

#include "base/Opt.h"
#include "base/Variant.h"

namespace plc::dnet {

// The count ReadSize asks for; nullopt when it is no number.
std::optional<std::int32_t> ReadSizeArgument(Opt<Variant>& ReadSize);

// "ReadSize many is not a number".
std::string ReadSizeRefusal(const Opt<Variant>& ReadSize);

}  // namespace plc::dnet
