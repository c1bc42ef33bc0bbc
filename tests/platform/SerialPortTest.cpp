// The base port's behaviour the controls rely on, on the in-memory port.
#include <gtest/gtest.h>

#include "base/Enums.h"
#include "base/RuntimeError.h"
#include "platform/MemorySerialPort.h"
#include "platform/PollEventLoop.h"

namespace plc {
namespace {

class SerialPortBase : public ::testing::Test {
 protected:
  SerialPortBase() {
    port.OnComm = [this] { events.push_back(port.CommEvent()); };
    port.SetPortOpen(true);
  }
  ManualClock clock;
  PollEventLoop loop{clock};
  MemorySerialPort port{loop};
  std::vector<int> events;
};

TEST_F(SerialPortBase, ReceiveNotificationOnlyOnceThresholdCharactersWait) {
  port.SetRThreshold(3);
  port.Inject("ab");
  loop.DoEvents();
  EXPECT_TRUE(events.empty());
  port.Inject("c");
  loop.DoEvents();
  EXPECT_EQ(events, std::vector<int>{comm::EvReceive});
  port.SetRThreshold(0);
  port.Inject("defg");
  loop.DoEvents();
  EXPECT_EQ(events.size(), 1u) << "threshold 0 raises no receive notification";
  EXPECT_EQ(port.InBufferCount(), 7);
}

TEST_F(SerialPortBase, NullDiscardDropsZeroBytesOnlyWhenOn) {
  port.SetNullDiscard(true);
  port.Inject(Bytes{1, 0, 2, 0});
  loop.DoEvents();
  EXPECT_EQ(port.InputBytes(), (Bytes{1, 2}));
  port.SetNullDiscard(false);
  port.Inject(Bytes{1, 0, 2});
  loop.DoEvents();
  EXPECT_EQ(port.InputBytes(), (Bytes{1, 0, 2}));
}

TEST_F(SerialPortBase, InputIntoTakesWhatInputLenAllowsInPlaceOfTheBuffersContent) {
  Bytes kept{9, 9, 9, 9, 9, 9};
  port.Inject(Bytes{1, 2, 3, 4});
  loop.DoEvents();
  port.SetInputLen(3);
  port.InputInto(kept);
  EXPECT_EQ(kept, (Bytes{1, 2, 3}));
  port.SetInputLen(0);
  port.InputInto(kept);
  EXPECT_EQ(kept, (Bytes{4}));
  EXPECT_EQ(port.InBufferCount(), 0);
  port.InputInto(kept);
  EXPECT_TRUE(kept.empty());
}

TEST_F(SerialPortBase, SendNotificationWhenOutputHasDrainedBelowThreshold) {
  port.HoldOutput(true);
  port.SetSThreshold(1);
  port.Output(Variant("abc"));
  loop.DoEvents();
  EXPECT_TRUE(events.empty()) << "nothing drained yet";
  EXPECT_EQ(port.OutBufferCount(), 3);
  port.DrainOutput();
  EXPECT_EQ(events, std::vector<int>{comm::EvSend});
  port.SetSThreshold(0);
  port.Output(Variant("d"));
  port.DrainOutput();
  EXPECT_EQ(events.size(), 1u) << "threshold 0 raises no send notification";
}

TEST_F(SerialPortBase, TraceSeesEveryChunkWithItsDirection) {
  std::vector<std::pair<TraceDirection, Bytes>> seen;
  port.SetTrace([&](TraceDirection d, const std::uint8_t* p, std::size_t n, std::int64_t) { seen.emplace_back(d, Bytes(p, p + n)); });
  port.SetNullDiscard(true);
  port.Output(Variant("hi"));
  port.Inject(Bytes{7, 0, 8});
  loop.DoEvents();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, TraceDirection::Sent);
  EXPECT_EQ(seen[0].second, (Bytes{'h', 'i'}));
  EXPECT_EQ(seen[1].first, TraceDirection::Received);
  EXPECT_EQ(seen[1].second, (Bytes{7, 0, 8})) << "the trace shows the line, before null discarding";
}

TEST_F(SerialPortBase, FullReceiveBufferReportsOverflowAndKeepsWhatFits) {
  port.Inject(Bytes(40000, 'x'));
  loop.DoEvents();
  EXPECT_EQ(port.InBufferCount(), 32767);
  EXPECT_EQ(events, std::vector<int>{comm::ErRxOver});
}

TEST_F(SerialPortBase, HandlerMayReplaceItselfWhileRunning) {
  // The handler owns state on the heap; replacing OnComm inside it must not free it mid-call.
  std::string seenBy = "first handler, long enough to live on the heap";
  std::string copied;
  port.OnComm = [this, seenBy, &copied] {
    port.OnComm = nullptr;
    copied = seenBy;
  };
  port.SetRThreshold(1);
  port.Inject("a");
  loop.DoEvents();
  EXPECT_EQ(copied, seenBy);
}

}  // namespace
}  // namespace plc
