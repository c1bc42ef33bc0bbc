// Pseudo-random host text thrown at the parsers of address and octal text: they return, or
// raise only the run-time errors their rules name, and what they return keeps their invariants.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "frame/AddressString.h"
#include "base/OctalText.h"
#include "base/RuntimeError.h"
#include "frame/TagDatabase.h"

namespace plc {
namespace {

std::string RandomText(std::mt19937& rng) {
  static const std::string kBiased = "0123456789;;;  ,xX-+&HhOo.eE\t";
  const std::size_t length = rng() % 24;
  std::string s;
  for (std::size_t i = 0; i < length; ++i) {
    if (rng() % 4 == 0) s += static_cast<char>(rng() % 256);
    else s += kBiased[rng() % kBiased.size()];
  }
  return s;
}

bool AllowedError(int number) { return number == err::TypeMismatch || number == err::Overflow; }

TEST(AddressTextFuzz, ParsersOnlyReturnOrRaiseTheirErrors) {
  TagDatabase db;
  ASSERT_TRUE(db.AddTag(1, Variant("x"), Variant("1;2;3")));
  ASSERT_TRUE(db.AddTag(2, Variant("X;"), Variant(";;")));
  std::mt19937 rng(7);
  for (int n = 0; n < 5000; ++n) {
    const std::string text = RandomText(rng);
    AddressFields f;
    bool ok = false;
    ASSERT_NO_THROW(ok = ParseAddressString(text, f)) << text;
    if (ok && text.find(';') != std::string::npos) {
      EXPECT_GE(f.unit, 0) << text;
      for (std::int16_t field : f.more) EXPECT_GE(field, 0) << text;
    }
    std::optional<AddressFields> resolved;
    ASSERT_NO_THROW(resolved = ResolveAddress(text, 5, db)) << text;
    // Only a text with ";" or a tag can name a unit; the tag "x" names unit 1.
    if (resolved && text.find(';') == std::string::npos && text != "x" && text != "X") {
      EXPECT_EQ(resolved->unit, 5) << text;
    }
    ASSERT_NO_THROW(TagAddressFromName(Variant(text), db));
    ASSERT_NO_THROW(TagNameFromAddress(Variant(text), db));

    for (auto convert : {&seq::CnvOctToDec, &udp::CnvOctToDec}) {
      try {
        EXPECT_GE(convert(text), 0) << text;
      } catch (const RuntimeError& e) {
        EXPECT_TRUE(AllowedError(e.Number())) << text << ": " << e.Number();
      }
    }
  }
}

}  // namespace
}  // namespace plc
