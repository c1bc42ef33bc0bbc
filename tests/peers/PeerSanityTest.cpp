// The third-party peers proven against each other before RtuLink is tested against them: the
// libmodbus server answers the libmodbus client and mbpoll with the documented map, shows
// writes in DUMP and acts out every fault; the pymodbus ASCII server answers hand-made frames.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/peers/PeerMap.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"

namespace plc::test {
namespace {

using std::chrono::milliseconds;

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::vector<long> Numbers(const std::vector<std::string>& words, std::size_t from) {
  std::vector<long> values;
  for (std::size_t i = from; i < words.size(); ++i) values.push_back(std::stol(words[i]));
  return values;
}

std::vector<long> Expected(const std::uint16_t* values, int count) { return {values, values + count}; }

// The values a DUMP prints, "<table> <start>: v1 ... vn".
std::vector<long> Dump(PeerProcess& server, const std::string& table, int start, int count) {
  std::string prefix = table + " " + std::to_string(start) + ":";
  return Numbers(Words(server.Request("DUMP " + table + " " + std::to_string(start) + " " + std::to_string(count), prefix)), 2);
}

const char* TableName(PeerTable table) {
  switch (table) {
    case kPeerCoils: return "coils";
    case kPeerDiscreteInputs: return "di";
    case kPeerInputRegisters: return "ir";
    case kPeerHoldingRegisters: return "hr";
  }
  return "?";
}

const char* ReadStep(PeerTable table) {
  switch (table) {
    case kPeerCoils: return "r1";
    case kPeerDiscreteInputs: return "r2";
    case kPeerInputRegisters: return "r4";
    case kPeerHoldingRegisters: return "r3";
  }
  return "?";
}

RunResult RunClient(const std::string& device, std::vector<std::string> steps, milliseconds limit = milliseconds(10000)) {
  steps.insert(steps.begin(), device);
  return RunProgram(RtuClientCommand(steps), limit);
}

std::uint16_t Crc16(const PtyBytes& data) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
  }
  return crc;
}

PtyBytes WithCrc(PtyBytes frame) {
  std::uint16_t crc = Crc16(frame);
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

// ":" + hex of the bytes and their LRC + CR LF, built here independently of the product's code.
std::string AsciiFrame(const PtyBytes& body) {
  static const char* hex = "0123456789ABCDEF";
  std::uint8_t sum = 0;
  std::string text = ":";
  auto put = [&](std::uint8_t b) {
    text += hex[b >> 4];
    text += hex[b & 15];
  };
  for (std::uint8_t b : body) {
    sum = static_cast<std::uint8_t>(sum + b);
    put(b);
  }
  put(static_cast<std::uint8_t>(-sum));
  return text + "\r\n";
}

// The bytes of an ASCII reply after a check of its colon, LRC and CR LF.
PtyBytes AsciiBody(const std::string& reply) {
  EXPECT_GE(reply.size(), 5u);
  if (reply.size() < 5 || reply.front() != ':' || reply.substr(reply.size() - 2) != "\r\n") {
    ADD_FAILURE() << "not an ASCII frame: " << reply;
    return {};
  }
  PtyBytes bytes;
  for (std::size_t i = 1; i + 3 < reply.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(reply.substr(i, 2), nullptr, 16)));
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  EXPECT_EQ(sum, 0) << "LRC of " << reply;
  bytes.pop_back();
  return bytes;
}

TEST(PeerSanity, RtuClientReadsEveryBlockOfTheMapFromTheRtuServer) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  std::vector<std::string> steps;
  for (const PeerBlock& block : kPeerMap) {
    steps.push_back(std::string(ReadStep(block.table)) + ":" + std::to_string(block.start) + ":" + std::to_string(block.count));
  }
  RunResult run = RunClient(line.PathB(), steps);
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  std::vector<std::string> lines = run.OutLines();
  ASSERT_EQ(lines.size(), std::size(kPeerMap)) << run.out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const PeerBlock& block = kPeerMap[i];
    std::vector<std::string> w = Words(lines[i]);
    ASSERT_GE(w.size(), 3u) << lines[i];
    EXPECT_EQ(w[0], "OK") << lines[i];
    EXPECT_EQ(Numbers(w, 3), Expected(block.values, block.count)) << TableName(block.table) << " at " << block.start;
  }
}

TEST(PeerSanity, WritesOfTheClientShowInDumpAndSetValuesAreRead) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  RunResult run = RunClient(line.PathB(), {"w6:100:4660", "w16:101:1,-2,65535", "w5:100:1", "w15:101:0,1,1", "w16:5100:1,2"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(run.OutLines(), (std::vector<std::string>{"OK w6 100 1", "OK w16 101 3", "OK w5 100 1", "OK w15 101 3", "OK w16 5100 2"}));
  EXPECT_EQ(Dump(server, "hr", 100, 5), (std::vector<long>{4660, 1, 65534, 65535, 0}));
  EXPECT_EQ(Dump(server, "coils", 100, 5), (std::vector<long>{1, 0, 1, 1, 0}));
  EXPECT_EQ(Dump(server, "hr", 5100, 2), (std::vector<long>{1, 2}));

  EXPECT_EQ(server.Request("SET hr 150 7 -1", "OK"), "OK");
  EXPECT_EQ(server.Request("SET ir 5 42", "OK"), "OK");
  EXPECT_EQ(server.Request("SET coils 150 1 1", "OK"), "OK");
  EXPECT_EQ(server.Request("SET hr 9999 1 2", "ERROR"), "ERROR too many values");
  EXPECT_EQ(server.Request("DUMP xx 0 1", "ERROR").rfind("ERROR usage", 0), 0u);
  RunResult back = RunClient(line.PathB(), {"r3:150:2", "r4:5:1", "r1:150:3"});
  EXPECT_EQ(back.OutLines(), (std::vector<std::string>{"OK r3 150 7 65535", "OK r4 5 42", "OK r1 150 1 1 0"}));
}

TEST(PeerSanity, EveryFaultAddressBehavesAsDocumentedAndTheNextRequestWorks) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA(), "--late-ms", "150", "--gap-ms", "5"}));
  struct Case {
    int offset;
    const char* fault;
    const char* reply;  // the client's line for it: its start, or the whole line when OK
  };
  const Case cases[] = {
      {kPeerFaultLate, "late", "OK r3 9000 9000 9001"},
      {kPeerFaultWrongUnit, "wrong-unit", "ERR r3 9001 EMBBADSLAVE"},
      {kPeerFaultBadCrc, "bad-crc", "ERR r3 9002 EMBBADCRC"},
      {kPeerFaultShort, "short", "ERR r3 9003 ETIMEDOUT"},
      {kPeerFaultNone, "none", "ERR r3 9004 ETIMEDOUT"},
      {kPeerFaultSplit, "split", "OK r3 9005 9005 9006"},
      {kPeerFaultNoise, "noise", "ERR r3 9006 "},
      {kPeerFaultException, "exception", "ERR r3 9007 EMBX4"},
  };
  std::vector<std::string> steps{"timeout:400"};
  for (const Case& c : cases) {
    steps.push_back("r3:" + std::to_string(c.offset) + ":2");
    steps.push_back("r3:0:1");  // the line recovered
  }
  // Last: a master that gives up before the late reply comes.
  steps.push_back("timeout:50");
  steps.push_back("r3:9000:1");
  RunResult run = RunClient(line.PathB(), steps);
  std::vector<std::string> lines = run.OutLines();
  ASSERT_EQ(lines.size(), 2 * std::size(cases) + 1) << run.out << run.err;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(lines[2 * i].rfind(c.reply, 0), 0u) << "fault " << c.fault << ": " << lines[2 * i];
    EXPECT_EQ(lines[2 * i + 1], "OK r3 0 101") << "after fault " << c.fault;
    EXPECT_EQ(server.WaitForLine("FAULT", milliseconds(2000)), std::string("FAULT ") + c.fault + " " + std::to_string(c.offset));
  }
  EXPECT_EQ(lines.back().rfind("ERR r3 9000 ETIMEDOUT", 0), 0u) << lines.back();
  EXPECT_EQ(server.WaitForLine("FAULT", milliseconds(2000)), "FAULT late 9000");
}

TEST(PeerSanity, RequestForAnotherUnitGetsNoReplyAndDoesNotSwallowTheNext) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA(), "--unit", "7"}));
  RunResult run = RunClient(line.PathB(), {"--unit", "7", "timeout:200", "unit:8", "r3:0:1", "unit:7", "r3:0:1", "w6:100:5", "r3:100:1"});
  std::vector<std::string> lines = run.OutLines();
  ASSERT_EQ(lines.size(), 4u) << run.out << run.err;
  EXPECT_EQ(lines[0].rfind("ERR r3 0 ETIMEDOUT", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "OK r3 0 101");
  EXPECT_EQ(lines[3], "OK r3 100 5");
}

TEST(PeerSanity, Type2ServerAnswersTwoRegistersPerValueInWideRanges) {
  Pty pty;
  PeerProcess server(RtuServerCommand({pty.DevicePath(), "--type2"}));
  struct Case {
    std::uint16_t offset;
    std::uint16_t count;
    std::size_t registers;
    const std::uint16_t* values;
  };
  const Case cases[] = {
      {kPeerType2LongsAt, 3, 6, kPeerType2LongWords},
      {kPeerType2FloatsAt, 1, 2, kPeerType2FloatWords},
      {kPeerType2WordsAt, 2, 2, kPeerType2WordValues},  // words stay one register each
  };
  for (const Case& c : cases) {
    pty.Write(WithCrc({1, 3, static_cast<std::uint8_t>(c.offset >> 8), static_cast<std::uint8_t>(c.offset & 0xFF), 0,
                       static_cast<std::uint8_t>(c.count)}));
    PtyBytes reply = pty.Read(5 + 2 * c.registers, milliseconds(2000));
    ASSERT_EQ(reply.size(), 5 + 2 * c.registers) << "offset " << c.offset;
    EXPECT_EQ(reply[2], 2 * c.registers);
    PtyBytes body(reply.begin(), reply.end() - 2);
    EXPECT_EQ(WithCrc(body), reply);
    for (std::size_t i = 0; i < c.registers; ++i) EXPECT_EQ(reply[3 + 2 * i] << 8 | reply[4 + 2 * i], c.values[i]);
  }
}

std::vector<std::string> MbpollValues(const RunResult& run) {
  std::vector<std::string> values;
  for (const std::string& l : run.OutLines()) {
    if (l.empty() || l[0] != '[') continue;
    std::vector<std::string> w = Words(l.substr(l.find(':') + 1));
    if (!w.empty()) values.push_back(w[0]);
  }
  return values;
}

TEST(PeerSanity, MbpollReadsTheMapFromTheRtuServer) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  const std::vector<std::string> common{"-m", "rtu", "-b", "9600", "-P", "none", "-a", "1", "-1", "-o", "1"};
  auto poll = [&](std::vector<std::string> args) {
    args.insert(args.begin(), common.begin(), common.end());
    args.push_back(line.PathB());
    RunResult run = RunProgram(MbpollCommand(args), milliseconds(10000));
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    return MbpollValues(run);
  };
  EXPECT_EQ(poll({"-r", "1", "-c", "10"}),
            (std::vector<std::string>{"101", "202", "303", "404", "505", "606", "707", "808", "909", "1010"}));
  // An independent decoder of the 32-bit layouts, high word first.
  EXPECT_EQ(poll({"-t", "4:int", "-B", "-r", "5001", "-c", "3"}), (std::vector<std::string>{"65538", "-2", "1234567"}));
  std::vector<std::string> floats = poll({"-t", "4:float", "-B", "-r", "7001", "-c", "3"});
  ASSERT_EQ(floats.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(std::stod(floats[i]), kPeerType2FloatsDecoded[i], 0.01);  // printed rounded
}

TEST(PeerSanity, PymodbusAsciiServerAnswersHandMadeFramesAndServesTheSameMap) {
  Pty pty;
  PeerProcess server(AsciiServerCommand({pty.DevicePath()}));

  pty.Write(AsciiFrame({1, 3, 0, 0, 0, 2}));
  std::string reply = pty.ReadText(AsciiFrame({1, 3, 4, 0, 101, 0, 202}).size(), milliseconds(3000));
  EXPECT_EQ(AsciiBody(reply), (PtyBytes{1, 3, 4, 0, 101, 0, 202}));

  pty.Write(AsciiFrame({1, 6, 0, 100, 0x12, 0x34}));
  EXPECT_EQ(AsciiBody(pty.ReadText(17, milliseconds(3000))), (PtyBytes{1, 6, 0, 100, 0x12, 0x34}));
  EXPECT_EQ(Dump(server, "hr", 100, 1), (std::vector<long>{0x1234}));

  pty.Write(AsciiFrame({2, 3, 0, 0, 0, 1}));  // another unit: no reply
  EXPECT_TRUE(pty.ReadUntilQuiet(milliseconds(200)).empty());

  for (const PeerBlock& block : kPeerMap) {
    EXPECT_EQ(Dump(server, TableName(block.table), block.start, block.count), Expected(block.values, block.count))
        << TableName(block.table) << " at " << block.start;
  }
}

TEST(PeerSanity, PymodbusType2ReadAnswersTwoRegistersPerValue) {
  Pty pty;
  PeerProcess server(AsciiServerCommand({pty.DevicePath(), "--type2"}));
  pty.Write(AsciiFrame({1, 3, 0x13, 0x88, 0, 2}));  // 5000, two 32-bit values
  PtyBytes expected{1, 3, 8, 0x00, 0x01, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 0xFE};
  EXPECT_EQ(AsciiBody(pty.ReadText(AsciiFrame(expected).size(), milliseconds(3000))), expected);
}

}  // namespace
}  // namespace plc::test
