// The simulators' argument reader: a value is taken whole and in range, or refused naming the
// option, never read as far as it goes.
#include "tools/plcsim/SimArguments.h"

#include <gtest/gtest.h>

namespace plc::sim {
namespace {

std::string Refusal(const std::function<void()>& read) {
  try {
    read();
  } catch (const ArgumentError& e) {
    return e.what();
  }
  return "(taken)";
}

TEST(SimArguments, NumbersAreTakenWholeAndInRangeOrRefusedNamingTheOption) {
  EXPECT_EQ(DecimalArgument("--station", "223", 0, 223), 223);
  EXPECT_EQ(DecimalArgument("--times", "-1", -1, 5), -1);
  EXPECT_EQ(Refusal([] { DecimalArgument("--station", "abc", 0, 223); }), "--station: 'abc' is not a number");
  EXPECT_EQ(Refusal([] { DecimalArgument("--station", "12x", 0, 223); }), "--station: '12x' is not a number");
  EXPECT_EQ(Refusal([] { DecimalArgument("--station", " 1", 0, 223); }), "--station: ' 1' is not a number");
  EXPECT_EQ(Refusal([] { DecimalArgument("--times", "-3", 1, 100); }), "--times: '-3' is outside 1..100");
  EXPECT_EQ(Refusal([] { DecimalArgument("--baud", "99999999999999999999", 1, 4000000); }),
            "--baud: '99999999999999999999' is outside 1..4000000");

  EXPECT_EQ(HexArgument("--set", "0400", 0xFFFF), 0x400u);
  EXPECT_EQ(HexArgument("--set", "0x00A5", 0xFFFF), 0xA5u);
  EXPECT_EQ(Refusal([] { HexArgument("--set", "70000", 0xFFFF); }), "--set: '70000' is beyond FFFF (hexadecimal)");
  EXPECT_EQ(Refusal([] { HexArgument("--set", "0x", 0xFFFF); }), "--set: '0x' is not a hexadecimal number");
}

TEST(SimArguments, AssignmentsChoicesAndMissingValues) {
  EXPECT_EQ(Assignment("--set", "V2000=1"), (std::pair<std::string, std::string>{"V2000", "1"}));
  EXPECT_EQ(Assignment("--set", "a=b=c").second, "b=c");
  EXPECT_EQ(Refusal([] { Assignment("--set", "0400"); }), "--set: '0400' is not NAME=VALUE");
  EXPECT_EQ(Refusal([] { Assignment("--set", "=5"); }), "--set: '=5' is not NAME=VALUE");

  EXPECT_EQ(ChoiceArgument("--fault", "nak", {"none", "nak"}), 1u);
  EXPECT_EQ(Refusal([] { ChoiceArgument("--fault", "bogus", {"none", "nak"}); }),
            "--fault: 'bogus' is not one of none, nak");

  char protocol[] = "df1", port[] = "--port", path[] = "/dev/pts/9", fault[] = "--fault";
  char* argv[] = {protocol, port, path, fault};
  ArgumentReader reader(4, argv);
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.Option(), "--port");
  EXPECT_EQ(reader.Value(), "/dev/pts/9");
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(Refusal([&] { reader.Value(); }), "--fault needs a value");
  EXPECT_FALSE(reader.Next());
  EXPECT_EQ(RunChecked("df1", [] () -> int { throw ArgumentError("--x: bad"); }), 2);
}

}  // namespace
}  // namespace plc::sim
