// The write queue: drained in order, a failed write retried at later drains before anything
// behind it, dropped and reported after its tries, and a full queue refusing with a text.
#include "frame/WriteQueue.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace plc {
namespace {

struct QueueRig {
  WriteQueue queue;
  std::vector<std::string> attempts;  // "address=value" in the order written
  std::vector<WriteQueue::Report> reports;
  int failuresLeft = 0;  // the next this many attempts fail
  std::int16_t retries = 2;

  QueueRig() {
    queue.Write = [this](const Variant& address, std::int32_t value, std::optional<std::int16_t>) {
      attempts.push_back(address.ToString() + "=" + std::to_string(value));
      if (failuresLeft > 0) {
        --failuresLeft;
        return WriteQueue::Attempt{false, "no reply from station 2 within 2 s"};
      }
      return WriteQueue::Attempt{true, {}};
    };
    queue.Retries = [this] { return retries; };
    queue.OnDone = [this](WriteQueue::Report& r) { reports.push_back(r); };
  }
};

TEST(WriteQueue, DrainsInOrder) {
  QueueRig rig;
  EXPECT_EQ(rig.queue.Force(Variant("V,2000"), 1), "");
  EXPECT_EQ(rig.queue.Force(Variant(std::int32_t{40001}), 2), "");
  EXPECT_EQ(rig.queue.Force(Variant("Tank"), 3), "");
  rig.queue.WriteQueData();
  EXPECT_EQ(rig.attempts, (std::vector<std::string>{"V,2000=1", "40001=2", "Tank=3"}));
  ASSERT_EQ(rig.reports.size(), 3u);
  EXPECT_TRUE(rig.reports[2].written);
  EXPECT_EQ(rig.reports[2].tries, 1);
  EXPECT_EQ(rig.queue.Size(), 0u);
}

TEST(WriteQueue, AFailedWriteIsRetriedFirstThenDroppedAndReported) {
  QueueRig rig;
  rig.queue.Force(Variant("V,2000"), 1);
  rig.queue.Force(Variant("V,2001"), 2);
  rig.failuresLeft = 1;
  rig.queue.WriteQueData();  // the first fails and stays first; the second waits behind it
  EXPECT_EQ(rig.attempts, (std::vector<std::string>{"V,2000=1"}));
  EXPECT_TRUE(rig.reports.empty());
  rig.queue.WriteQueData();  // its second try succeeds, then the second goes
  EXPECT_EQ(rig.attempts, (std::vector<std::string>{"V,2000=1", "V,2000=1", "V,2001=2"}));
  ASSERT_EQ(rig.reports.size(), 2u);
  EXPECT_EQ(rig.reports[0].tries, 2);

  // NumOfWriteRetries 2: three tries, then the write is dropped with its reason.
  rig.queue.Force(Variant("V,2002"), 3);
  rig.queue.Force(Variant("V,2003"), 4);
  rig.failuresLeft = 3;
  for (int drain = 0; drain < 3; ++drain) rig.queue.WriteQueData();
  ASSERT_EQ(rig.reports.size(), 4u);
  EXPECT_FALSE(rig.reports[2].written);
  EXPECT_EQ(rig.reports[2].tries, 3);
  EXPECT_EQ(rig.reports[2].error, "V,2002 = 3 not written after 3 tries: no reply from station 2 within 2 s");
  EXPECT_TRUE(rig.reports[3].written) << "the write behind it goes in the same drain";
  EXPECT_EQ(rig.reports[3].address, Variant("V,2003"));

  // No retries at all: one try.
  rig.retries = 0;
  rig.queue.Force(Variant("V,2004"), 5);
  rig.failuresLeft = 1;
  rig.queue.WriteQueData();
  EXPECT_EQ(rig.reports.back().error, "V,2004 = 5 not written after 1 try: no reply from station 2 within 2 s");
}

TEST(WriteQueue, AFullQueueRefusesWithAText) {
  QueueRig rig;
  for (std::size_t i = 0; i < WriteQueue::kCapacity; ++i) EXPECT_EQ(rig.queue.Force(Variant("V,2000"), 7), "");
  const std::string refusal = rig.queue.Force(Variant("V,2001"), 8);
  EXPECT_EQ(refusal, "write queue full (256 writes waiting): V,2001 = 8 not queued");
  ASSERT_EQ(rig.reports.size(), 1u);
  EXPECT_FALSE(rig.reports[0].written);
  EXPECT_EQ(rig.reports[0].error, refusal);
  EXPECT_EQ(rig.queue.Size(), WriteQueue::kCapacity);
  rig.queue.WriteQueData();
  EXPECT_EQ(rig.queue.Size(), 0u);
  EXPECT_EQ(rig.queue.Force(Variant("V,2001"), 8), "") << "room again once drained";
}

TEST(WriteQueue, ADrainFromInsideAWriteReturnsAtOnce) {
  QueueRig rig;
  auto write = rig.queue.Write;
  rig.queue.Write = [&](const Variant& a, std::int32_t v, std::optional<std::int16_t> station) {
    rig.queue.WriteQueData();  // a handler that runs during the write
    return write(a, v, station);
  };
  rig.queue.Force(Variant("A"), 1);
  rig.queue.Force(Variant("B"), 2);
  rig.queue.WriteQueData();
  EXPECT_EQ(rig.attempts, (std::vector<std::string>{"A=1", "B=2"}));
}

// A write or a handler that throws something other than the control's own error: the write
// counts as a failed try with the exception's text, and the next drain still runs.
TEST(WriteQueue, AnyExceptionLeavesTheQueueDraining) {
  QueueRig rig;
  rig.retries = 0;
  auto write = rig.queue.Write;
  bool thrown = false;
  rig.queue.Write = [&](const Variant& a, std::int32_t v, std::optional<std::int16_t> station) -> WriteQueue::Attempt {
    if (!thrown) {
      thrown = true;
      throw std::out_of_range("map::at");
    }
    return write(a, v, station);
  };
  rig.queue.Force(Variant("A"), 1);
  rig.queue.WriteQueData();
  ASSERT_EQ(rig.reports.size(), 1u);
  EXPECT_FALSE(rig.reports[0].written);
  EXPECT_EQ(rig.reports[0].error, "A = 1 not written after 1 try: map::at");

  auto done = rig.queue.OnDone;
  rig.queue.OnDone = [&](WriteQueue::Report& r) {
    done(r);
    throw std::bad_alloc();
  };
  rig.queue.Force(Variant("B"), 2);
  EXPECT_THROW(rig.queue.WriteQueData(), std::bad_alloc);
  rig.queue.OnDone = done;
  rig.queue.Force(Variant("C"), 3);
  rig.queue.WriteQueData();
  EXPECT_EQ(rig.attempts, (std::vector<std::string>{"B=2", "C=3"})) << "the drain after the throw ran";
  EXPECT_EQ(rig.queue.Size(), 0u);
}

}  // namespace
}  // namespace plc
