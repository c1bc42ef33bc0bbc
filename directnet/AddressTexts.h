#pragma once
// Small text pieces the DirectLOGIC controls (SeqLink, and UdpLink on both of its paths) use to
// read addresses and to word their refusals, kept in one place so that they read and quote an
// address the same way.
#include <cstdint>
#include <string>

#include "base/OctalText.h"

namespace plc::dnet {

using plc::OctalDigits;

// Without the blanks (spaces and tabs) at either end.
std::string Trim(const std::string& text);
// ASCII letters in upper case.
std::string Upper(std::string text);
// A header address as four hexadecimal digits and "h": "0400h".
std::string HexAddress(std::int32_t address);
// Text a refusal quotes, cut after 60 characters ("..." added): a host's text may be long.
std::string Capped(const std::string& text);

}  // namespace plc::dnet
