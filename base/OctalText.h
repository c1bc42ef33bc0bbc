#pragma once
// Octal text: a number written in octal digits, and CnvOctToDec, octal text to a number.
// SeqLink and UdpLink read the text differently and hosts depend on each reading, so each
// control has its own CnvOctToDec.
#include <cstdint>
#include <optional>
#include <string>

namespace plc {

// n (not negative) in octal digits: 1024 gives "2000".
std::string OctalDigits(std::int64_t n);
// Octal digits alone (1 to 10 of 0..7) as their number: "2000" gives 1024; nullopt for anything
// else.
std::optional<std::int64_t> OctalValue(const std::string& digits);

namespace seq {
// Trims spaces from both ends and reads the rest as an octal number: "17" gives 15, " 17 "
// gives 15. Empty text or any character other than 0..7 is a type mismatch (13); a value above
// 2147483647 is an overflow (6).
std::int32_t CnvOctToDec(const std::string& Oct);
}  // namespace seq

namespace udp {
// Digit by digit from the right: each character's value times 8^k, k its distance from the last
// character. A character that is not a digit counts 0 and 8 and 9 count as themselves; nothing
// is trimmed, so "17 " gives 120. Empty text gives 0. Text of 11 or more characters is an
// overflow (6).
std::int32_t CnvOctToDec(const std::string& Oct);
}  // namespace udp

}  // namespace plc
