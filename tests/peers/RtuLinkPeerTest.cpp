// RtuLink as a master on a real tty line against servers this project did not write: the
// libmodbus RTU server (reads of every table, writes checked with DUMP, fixed-point pairs,
// EnType2 longs and floats, a lost reply and a broken one) and the pymodbus ASCII server.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "modbus/RtuLink.h"
#include "platform/ComponentHost.h"
#include "tests/peers/PeerMap.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"

namespace plc::test {
namespace {

constexpr int kCommPort = 41;

std::vector<long> Dump(PeerProcess& server, const std::string& table, int start, int count) {
  std::string prefix = table + " " + std::to_string(start) + ":";
  std::istringstream in(
      server.Request("DUMP " + table + " " + std::to_string(start) + " " + std::to_string(count), prefix));
  std::vector<long> values;
  std::string word;
  in >> word >> word;  // "<table> <start>:"
  for (long v; in >> v;) values.push_back(v);
  return values;
}

// RtuLink on the termios port, opened on one end of a linked pair of pseudo-terminals.
struct LinkedRtuLink {
  LinkedRtuLink(const std::string& path, rtu::EnModBusMode mode) : mapping(kCommPort, path) {
    link.SetHost(&host);
    link.Initialize();
    link.InitProperties();
    link.SetCommPort(kCommPort);
    link.SetSettings("9600,n,8,1");
    link.SetAddress(1);
    link.SetModBusMode(mode);
    link.SetPortOpen(true);
  }
  ~LinkedRtuLink() { link.SetPortOpen(false); }

  Result Read(std::string address, VariantArray& values, std::int16_t size, std::int16_t ioType = 0) {
    Variant s(size);
    return link.ReadPLC(address, values, Opt<Variant>(s), Opt<std::int16_t>(ioType));
  }
  Result Write(std::string address, const std::vector<double>& values, std::int16_t ioType = 0) {
    VariantArray arr(1, static_cast<std::int32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) arr.Set(static_cast<std::int32_t>(i + 1), Variant(values[i]));
    return link.WritePLC(address, arr, Opt<std::int16_t>(static_cast<std::int16_t>(values.size())),
                         Opt<std::int16_t>(ioType));
  }
  std::vector<long> ReadWords(const std::string& address, std::int16_t size) {
    VariantArray values(1, 200);
    std::vector<long> out;
    if (Read(address, values, size) != ResultOk) return out;
    for (std::int32_t i = 1; i <= size; ++i) out.push_back(static_cast<long>(values.Get(i).ToDouble()));
    return out;
  }

  ScopedCommPort mapping;
  StandaloneHost host;
  RtuLink link;
};

std::vector<long> Expected(const std::uint16_t* values, int count) { return {values, values + count}; }

// Every table of the map read through the same control, as each framing gives it.
void ExpectMapReads(LinkedRtuLink& c) {
  EXPECT_EQ(c.ReadWords("00001", 16), Expected(kPeerCoilValues, 16));
  EXPECT_EQ(c.ReadWords("10001", 16), Expected(kPeerDiscreteInputValues, 16));
  EXPECT_EQ(c.ReadWords("30001", 10), Expected(kPeerInputRegisterValues, 10));
  EXPECT_EQ(c.ReadWords("40001", 10), Expected(kPeerWordValues, 10));
  EXPECT_EQ(c.ReadWords("40003", 2), Expected(kPeerWordValues + 2, 2));
}

TEST(RtuLinkPeer, RtuReadsEveryTableOfTheLibmodbusServer) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  LinkedRtuLink c(line.PathB(), rtu::Rtu);
  ExpectMapReads(c);
}

TEST(RtuLinkPeer, RtuWritesSingleAndMultipleRegistersAndCoils) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  LinkedRtuLink c(line.PathB(), rtu::Rtu);
  EXPECT_EQ(c.Write("40101", {4321}), ResultOk);
  EXPECT_EQ(c.Write("40111", {1, 65535, 32768}), ResultOk);
  EXPECT_EQ(c.Write("00101", {1}), ResultOk);
  EXPECT_EQ(c.Write("00111", {1, 0, 1, 1}), ResultOk);
  EXPECT_EQ(Dump(server, "hr", 100, 1), (std::vector<long>{4321}));
  EXPECT_EQ(Dump(server, "hr", 110, 3), (std::vector<long>{1, 65535, 32768}));
  EXPECT_EQ(Dump(server, "coils", 100, 1), (std::vector<long>{1}));
  EXPECT_EQ(Dump(server, "coils", 110, 4), (std::vector<long>{1, 0, 1, 1}));
  // Untouched neighbours stay zero.
  EXPECT_EQ(Dump(server, "hr", 101, 1), (std::vector<long>{0}));
  EXPECT_EQ(Dump(server, "coils", 114, 1), (std::vector<long>{0}));
}

TEST(RtuLinkPeer, FixedPointPairsReadAndWriteAsOneValue) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  LinkedRtuLink c(line.PathB(), rtu::Rtu);
  VariantArray values(1, 10);
  ASSERT_EQ(c.Read("40011", values, 3, 2), ResultOk);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(values.Get(i + 1).ToDouble(), kPeerFixedPointDecoded[i], 1e-9) << i;
  EXPECT_EQ(c.Write("40121", {7.5}, 2), ResultOk);
  EXPECT_EQ(Dump(server, "hr", 120, 2), (std::vector<long>{7, 5000}));
}

TEST(RtuLinkPeer, Type2LongsAndFloatsAgainstADeviceCountingValues) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA(), "--type2"}));
  LinkedRtuLink c(line.PathB(), rtu::Rtu);
  c.link.SetPLCType(rtu::EnType2);
  VariantArray values(1, 10);
  ASSERT_EQ(c.Read("5000", values, 3), ResultOk);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(values.Get(i + 1).ToDouble(), kPeerType2LongsDecoded[i]) << i;
  ASSERT_EQ(c.Read("7000", values, 3), ResultOk);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(values.Get(i + 1).ToDouble(), kPeerType2FloatsDecoded[i]) << i;
  EXPECT_EQ(c.Write("5100", {-2}), ResultOk);
  EXPECT_EQ(c.Write("7100", {1.5}), ResultOk);
  EXPECT_EQ(Dump(server, "hr", 5100, 2), (std::vector<long>{0xFFFF, 0xFFFE}));
  EXPECT_EQ(Dump(server, "hr", 7100, 2), (std::vector<long>{0x3FC0, 0}));
}

TEST(RtuLinkPeer, LostAndBrokenRepliesFailTheReadAndTheNextReadWorks) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  LinkedRtuLink c(line.PathB(), rtu::Rtu);
  for (int fault : {kPeerFaultNone, kPeerFaultBadCrc, kPeerFaultException}) {
    VariantArray values(1, 10);
    EXPECT_EQ(c.Read("4" + std::to_string(10001 + fault).substr(1), values, 1), ResultFailed) << fault;
    server.WaitForLine("FAULT", std::chrono::milliseconds(5000));
    // The host frees the line the failed read may leave pending (the watchdog does not run at
    // design time).
    c.link.SetCommBusy(Variant(false));
    EXPECT_EQ(c.ReadWords("40001", 2), Expected(kPeerWordValues, 2)) << "after fault " << fault;
  }
}

// The peer answers from unit 2 where unit 1 was asked: the read fails in its time and says
// which unit answered, and the next read works.
TEST(RtuLinkPeer, AReplyFromAnotherUnitIsNamedInTheFailure) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  LinkedRtuLink c(line.PathB(), rtu::Rtu);
  VariantArray values(1, 10);
  values.Set(1, Variant(-1.0));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(c.Read("4" + std::to_string(10001 + kPeerFaultWrongUnit).substr(1), values, 1), ResultFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  server.WaitForLine("FAULT", std::chrono::milliseconds(5000));
  EXPECT_EQ(c.link.FailureCause(),
            "no reply from unit 1 within 2 s; a reply to it came from unit 2 (is the slave set to unit 1?)");
  EXPECT_EQ(values.Get(1).ToDouble(), -1);
  c.link.SetCommBusy(Variant(false));
  EXPECT_EQ(c.ReadWords("40001", 2), Expected(kPeerWordValues, 2));
}

TEST(RtuLinkPeer, AsciiReadsAndWritesThePymodbusServer) {
  PtyLink line;
  PeerProcess server(AsciiServerCommand({line.PathA()}));
  LinkedRtuLink c(line.PathB(), rtu::Ascii);
  ExpectMapReads(c);
  EXPECT_EQ(c.Write("40101", {1234}), ResultOk);
  EXPECT_EQ(c.Write("40111", {5, 6, 7}), ResultOk);
  EXPECT_EQ(Dump(server, "hr", 100, 1), (std::vector<long>{1234}));
  EXPECT_EQ(Dump(server, "hr", 110, 3), (std::vector<long>{5, 6, 7}));
  EXPECT_EQ(c.ReadWords("40111", 3), (std::vector<long>{5, 6, 7}));
}

}  // namespace
}  // namespace plc::test
