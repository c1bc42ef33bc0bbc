#pragma once
// The words behind DfLink's result codes and the processor's status bytes, for the causes a
// failed call leaves (Control::FailureCause) and for programs that print a result.
#include <cstdint>
#include <optional>
#include <string>

#include "base/ResultCodes.h"

namespace plc::df1 {

// DfLink: a non-waiting read whose request did not go out (the port is closed or refused
// the bytes). Its 0 means "sent", so this failure needs a code of its own.
inline constexpr Result ResultNotSent = 93;

// A byte as the texts show it: "41h".
std::string HexByte(unsigned value);

// What a DfLink result code means, in a few words ("no reply in time"); any code has words, a
// byte value among them ("unexpected 41h where DLE ACK belongs"). A failed call's cause starts
// with them.
std::string ResultMeaning(Result code);

// The processor's refusal in a reply: STS, and EXT STS when STS is F0h
// ("STS 50h: addressing problem or memory protect rungs").
std::string StatusMeaning(std::uint8_t sts, std::optional<std::uint8_t> ext);

}  // namespace plc::df1
