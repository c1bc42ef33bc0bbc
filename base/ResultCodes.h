#pragma once
// The 16-bit result codes that read and write methods return instead of raising errors.
#include <cstdint>

namespace plc {

using Result = std::int16_t;

constexpr Result ResultOk = -1;
constexpr Result ResultFailed = 0;
// RtuLink: ReadPLC refused because a transaction holds the line.
constexpr Result ResultBusy = 966;
// UdpLink: the ECOM transport is not open.
constexpr Result ResultEcomNotOpen = 301;

// DfLink: link and reply statuses.
constexpr Result ResultDleEnq = 5;
constexpr Result ResultDleAck = 6;
constexpr Result ResultDleNak = 21;
constexpr Result ResultCancelled = 88;
constexpr Result ResultNoReply = 92;
constexpr Result ResultBadAddress = 94;
constexpr Result ResultLineBusy = 95;
constexpr Result ResultNoTag = 96;
constexpr Result ResultLinkTimeout = 97;
constexpr Result ResultStatusError = 98;
constexpr Result ResultCheckError = 99;

// Booleans seen as numbers.
constexpr std::int16_t True = -1;
constexpr std::int16_t False = 0;

}  // namespace plc
