// Every one-byte damage of a read reply, in RTU and ASCII, whole and a byte at a time: the read
// takes the slave's own values or fails with a cause, the caller's array untouched and no event;
// the next read works.
#include <gtest/gtest.h>

#include "tests/modbus/MasterRig.h"
#include "tests/support/DamagedReplies.h"

namespace plc::modbus::testing {
namespace {

const double kValues[3] = {0x1234, 0x00FF, 0xABCD};

Bytes GoodReply(bool ascii) {
  const Bytes rtu = MasterRig::Rtu("01 03 06 12 34 00 FF AB CD");
  if (!ascii) return rtu;
  return Chars(":010306123400FFABCD" "39\r\n");
}

// The cause the control gives, or the classic error text where it has none.
std::string WhyFailed(const MasterRig& rig) {
  return rig.master.Cause().empty() ? rig.master.LastErrorText() : rig.master.Cause();
}

// Feeds `reply` to a ReadPLC of 40001..40003 and checks what the host got.
void ExpectValuesOrCause(MasterRig& rig, const Bytes& reply, bool bytewise, const std::string& what,
                         bool mustRead = false) {
  rig.slave = [&rig, reply, bytewise](const Bytes&) {
    if (!bytewise) return reply;
    for (std::size_t i = 0; i < reply.size(); ++i)
      rig.loop.AddTimer(rig.Micros() + 200 * static_cast<std::int64_t>(i + 1),
                        [&rig, b = reply[i]] { rig.port.Inject(Bytes{b}); });
    return Bytes{};
  };
  rig.completions.clear();
  VariantArray v(1, 3, VarType::Double);
  for (std::int32_t i = 1; i <= 3; ++i) v.Set(i, Variant(-7.0));
  const std::int64_t t0 = rig.Micros();
  const Result r = rig.ReadPLC("40001", v, 3);
  if (mustRead) {
    EXPECT_EQ(r, ResultOk) << what << ": " << WhyFailed(rig);
  }
  EXPECT_LE(rig.Micros() - t0, 2'000'000) << what;
  if (r == ResultOk) {
    for (std::int32_t i = 1; i <= 3; ++i) EXPECT_EQ(v.Get(i).ToDouble(), kValues[i - 1]) << what << " value " << i;
  } else {
    EXPECT_EQ(r, ResultFailed) << what;
    EXPECT_NE(WhyFailed(rig), "") << what;
    for (std::int32_t i = 1; i <= 3; ++i) EXPECT_EQ(v.Get(i).ToDouble(), -7) << what << " value " << i;
    EXPECT_TRUE(rig.completions.empty()) << what;
  }
  // Whatever is left of the reply dies out, and the watchdog frees a line still held.
  rig.Silent();
  rig.loop.RunFor(100'000);
  if (rig.master.CommBusy()) rig.master.ReplyWatchdog();
}

void Sweep(bool ascii) {
  MasterRig rig;
  if (ascii) rig.master.SetModBusMode(rtu::Ascii);
  const Bytes good = GoodReply(ascii);
  for (bool bytewise : {false, true}) {
    for (const ::plc::test::DamagedReply& d : ::plc::test::DamagedReplies(good)) {
      const std::string what = d.what + (bytewise ? ", a byte at a time" : ", whole");
      ExpectValuesOrCause(rig, d.bytes, bytewise, what);
      ExpectValuesOrCause(rig, good, bytewise, "the good reply after " + what, true);
      ASSERT_FALSE(::testing::Test::HasFailure()) << what;
    }
  }
}

TEST(MasterDamagedReply, EveryDamagedRtuReplyGivesItsValuesOrACause) { Sweep(false); }

TEST(MasterDamagedReply, EveryDamagedAsciiReplyGivesItsValuesOrACause) { Sweep(true); }

}  // namespace
}  // namespace plc::modbus::testing
