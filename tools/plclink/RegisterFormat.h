#pragma once
// Register words as mbpoll prints them: signed or unsigned 16-bit, hexadecimal, and pairs of
// registers as an IEEE-754 single or a 32-bit integer in either word order.
#include <optional>
#include <stdexcept>
#include <vector>

#include "base/Variant.h"
#include "tools/plclink/CommandLine.h"

namespace plc::plclink {

// Registers per printed value: 2 for the 32-bit forms, else 1.
int WordsPerValue(RegisterFormat format);

// A value that is no 16-bit register word (a DF1 float, a fraction, a number beyond 16 bits):
// its low 16 bits would print a value the PLC does not hold.
class NotARegisterWord : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The words (-32768..65535, each taken as its low 16 bits) in the format; Control gives them
// back as they are. An odd last word of a 32-bit form is dropped. Hex values are text
// ("0x4148"); a float whose exponent is all ones (infinity, NaN) is Empty. Throws
// NotARegisterWord for a value that is no word.
std::vector<Variant> FormatWords(const std::vector<Variant>& words, RegisterFormat format, WordOrder order);


}  // namespace plc::plclink
