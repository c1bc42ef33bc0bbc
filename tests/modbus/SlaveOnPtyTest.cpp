// RtuLink as a slave on a real tty line: a request cut off by a misbehaving master, followed
// 10 ms later by a good one. The good one is answered at once, in both framings.
#include <gtest/gtest.h>

#include <chrono>

#include "modbus/AsciiFrame.h"
#include "modbus/RtuFrame.h"
#include "tests/modbus/FramingHelpers.h"
#include "tests/peers/SlaveOnLine.h"

namespace plc::test {
namespace {

using modbus::Adu;
using modbus::Bytes;

Adu Message(std::string_view hex) {
  Bytes m = modbus::testing::Hex(hex);
  return Adu{m[0], m[1], Bytes(m.begin() + 2, m.end())};
}

void GoodRequestAfterTruncatedOneIsAnswered(rtu::EnModBusMode mode) {
  const bool ascii = mode == rtu::SlaveAscii;
  auto frame = [ascii](std::string_view hex) {
    return ascii ? modbus::BuildAsciiFrame(Message(hex)) : modbus::BuildRtuFrame(Message(hex));
  };
  Pty pty;
  SlaveOnLine slave(pty.DevicePath(), mode, ascii ? "9600,e,7,1" : "9600,e,8,1");
  EventLoop& loop = EventLoop::Current();

  Bytes cut = frame("01 10 00 00 00 02 04 00 01 00 02");
  cut.resize(cut.size() / 2);
  Bytes good = frame("01 06 00 01 00 07");
  Bytes expected = good;

  auto start = std::chrono::steady_clock::now();
  pty.Write(cut);
  loop.RunFor(10'000);
  pty.Write(good);
  loop.WaitUntil([&] { return slave.functions.size() >= 2; }, loop.Now() + 1'000'000);
  Bytes answer = pty.Read(expected.size(), std::chrono::milliseconds(500));
  auto took = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(answer, expected);
  EXPECT_EQ(slave.functions, (std::vector<std::int32_t>{-2, 6}));
  EXPECT_EQ(slave.Image(40002), 7);
  // Answered as it arrived, not after a wait for the broken request.
  EXPECT_LT(took, std::chrono::milliseconds(500));

  // And the line goes on working.
  pty.Write(frame("01 03 00 01 00 01"));
  loop.WaitUntil([&] { return slave.functions.size() >= 3; }, loop.Now() + 1'000'000);
  EXPECT_EQ(pty.Read(expected.size() - (ascii ? 2 : 1)), frame("01 03 02 00 07"));
}

TEST(SlaveOnPty, RtuAnswersAGoodRequestSent10msAfterATruncatedOne) {
  GoodRequestAfterTruncatedOneIsAnswered(rtu::SlaveRtu);
}

TEST(SlaveOnPty, AsciiAnswersAGoodRequestSent10msAfterATruncatedOne) {
  GoodRequestAfterTruncatedOneIsAnswered(rtu::SlaveAscii);
}

}  // namespace
}  // namespace plc::test
