// UdpLink's ECOM requests against a scripted hei_pas: the address road to CCM data types and
// addresses, values stored by IOType, writes, the busy wait, and what the serial modes do.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "ecom/EcomLinkState.h"
#include "ecom/UdpLink.h"
#include "tests/ecom/FakeHeiPas.h"
#include "tests/support/LinkTestBench.h"

namespace plc {
namespace {

struct EcomRig {
  std::shared_ptr<ecom::test::FakeModules> m = std::make_shared<ecom::test::FakeModules>();
  test::LinkTestBench<UdpLink> b;
  std::vector<std::string> events;

  explicit EcomRig(std::vector<std::uint8_t> ids = {1}) {
    ecom::EcomLink().Reset();
    ecom::EcomLink().Loader = ecom::test::FakeLoader(m);
    m->ids = std::move(ids);
    b.New();
    b.link->SetEventSink([this](const std::string& name, std::vector<Variant>&) { events.push_back(name); });
    b.link->SetPortOpen(true);
  }
  ~EcomRig() { ecom::EcomLink().Reset(); }
  std::string LastCall() const { return m->log.back(); }
};

TEST(UdpLinkEcom, AddressesBecomeCcmRequests) {
  EcomRig r({1, 2});
  ASSERT_TRUE(r.b.link->EcomOpen());
  Variant address("V,2000"), value;
  EXPECT_EQ(r.b.link->ReadPLC(address, value, {}, {}, {}), ResultOk);
  EXPECT_EQ(r.LastCall(), "CCM r 1 49 1025 2");

  address = Variant("X,17");
  std::int16_t ioType = 0;
  std::int32_t ioIdx = 0;
  r.m->replyBytes = {0x80};
  EXPECT_EQ(r.b.link->ReadPLC(address, value, {}, ioType, ioIdx), ResultOk);
  EXPECT_EQ(r.LastCall(), "CCM r 1 50 258 1");
  EXPECT_EQ(ioType, 18);
  EXPECT_EQ(ioIdx, 7);
  EXPECT_EQ(value.ToInt32(), 1);

  // The station before ";", the type in either case, a plain number as octal V-memory.
  const std::vector<std::pair<Variant, std::string>> cases = {
      {Variant("2;ct,10"), "CCM r 2 51 802 1"},  {Variant("2;SP,0"), "CCM r 2 50 385 1"},
      {Variant("GY,177"), "CCM r 1 51 16 1"},    {Variant(std::int32_t{100}), "CCM r 1 49 65 2"},
      {Variant("1;V, 7 "), "CCM r 1 49 8 2"},    {Variant("T,7"), "CCM r 1 51 769 1"},
  };
  for (const auto& [a, call] : cases) {
    Variant addr = a, v;
    EXPECT_EQ(r.b.link->ReadPLC(addr, v, {}, {}, {}), ResultOk) << a.ToString();
    EXPECT_EQ(r.LastCall(), call) << a.ToString();
  }

  // Nothing is sent for an address that does not resolve or a module that is not there.
  const auto calls = r.m->log.size();
  for (const char* bad : {"V,19", "1;2000", "nosuchtag", "V,", "5;V,0", "300;V,0"}) {
    Variant addr(bad), v;
    EXPECT_EQ(r.b.link->ReadPLC(addr, v, {}, {}, {}), ResultFailed) << bad;
    EXPECT_FALSE(r.b.link->CurrentErrors().empty()) << bad;
  }
  EXPECT_EQ(r.m->log.size(), calls);
  Variant five("5;V,0"), v;
  r.b.link->ReadPLC(five, v, {}, {}, {});
  EXPECT_EQ(r.b.link->CurrentErrors(), "Error: invalid device address 5");
}

TEST(UdpLinkEcom, ValuesStoredByIoType) {
  EcomRig r;
  r.m->replyBytes = {0x34, 0x12, 0x00, 0x01, 0xFF, 0xFF};
  Variant address("V,0");
  Variant words(VariantArray(1, 3));
  Variant size(std::int32_t{3});
  EXPECT_EQ(r.b.link->ReadPLC(address, words, size, {}, {}), ResultOk);
  EXPECT_EQ(words.Array().Get(1).ToInt32(), 0x1234);
  EXPECT_EQ(words.Array().Get(2).ToInt32(), 0x0100);
  EXPECT_EQ(words.Array().Get(3).ToInt32(), 0xFFFF);
  std::int16_t idx = 3;
  EXPECT_EQ(r.b.link->ReadData(idx).ToInt32(), 0xFFFF);

  // ioFloat: two words per value, whole + ten-thousandths.
  r.m->replyBytes = {12, 0, 0x80, 0x0D};  // 12, 3456
  Variant scalar;
  EXPECT_EQ(r.b.link->ReadPLC(address, scalar, Variant(std::int32_t{1}), std::int16_t{2}, {}), ResultOk);
  EXPECT_EQ(r.LastCall(), "CCM r 1 49 1 4");
  EXPECT_DOUBLE_EQ(scalar.ToDouble(), 12.3456);

  // A bit walk from X6: bits 6 and 7 of the first byte, then bits 0 and 1 of the next.
  r.m->replyBytes = {0b0100'0000, 0b0000'0010, 0, 0};
  Variant bits(VariantArray(1, 4));
  Variant x6("X,6");
  EXPECT_EQ(r.b.link->ReadPLC(x6, bits, Variant(std::int32_t{4}), {}, {}), ResultOk);
  EXPECT_EQ(r.LastCall(), "CCM r 1 50 257 2") << "the two bytes the points lie in";
  std::vector<std::int32_t> got;
  for (std::int32_t k = 1; k <= 4; ++k) got.push_back(bits.Array().Get(k).ToInt32());
  EXPECT_EQ(got, (std::vector<std::int32_t>{1, 0, 0, 1}));
}

VariantArray Words(std::initializer_list<Variant> values) {
  VariantArray a(1, static_cast<std::int32_t>(values.size()));
  std::int32_t k = 1;
  for (const Variant& v : values) a.Set(k++, v);
  return a;
}

TEST(UdpLinkEcom, WritesSendTheWordsAsGiven) {
  EcomRig r;
  Variant address("V,2000"), abValue(Words({std::int32_t{258}, std::int32_t{1}}));
  std::int16_t ioType = 7;
  EXPECT_EQ(r.b.link->WritePLC(address, abValue, std::int16_t{2}, ioType, {}), ResultOk);
  EXPECT_EQ(r.LastCall(), "CCM w 1 49 1025 4");
  EXPECT_EQ(r.m->written, (std::vector<std::uint8_t>{2, 1, 1, 0}));
  EXPECT_EQ(ioType, 7);

  // ioFloat: the caller's WriteSize doubled, the words sent as they are (12 and 3456, not a
  // pair made of each).
  Variant v2100("V,2100"), pair(Words({std::int32_t{12}, std::int32_t{3456}}));
  std::int16_t size = 1, io = ioFloat;
  EXPECT_EQ(r.b.link->WritePLC(v2100, pair, size, io, {}), ResultOk);
  EXPECT_EQ(size, 2);
  EXPECT_EQ(r.LastCall(), "CCM w 1 49 1089 4");
  EXPECT_EQ(r.m->written, (std::vector<std::uint8_t>{12, 0, 0x80, 0x0D}));
  // A numeric address turns IOType to 0 for the caller; the size was doubled before.
  Variant octal(std::int32_t{2000});
  size = 1;
  io = ioFloat;
  EXPECT_EQ(r.b.link->WritePLC(octal, pair, size, io, {}), ResultOk);
  EXPECT_EQ(io, 0);
  EXPECT_EQ(size, 2);
  EXPECT_EQ(r.LastCall(), "CCM w 1 49 1025 4");
  EXPECT_EQ(r.m->written, (std::vector<std::uint8_t>{12, 0, 0x80, 0x0D}));

  // What cannot be sent as given is refused with nothing sent: one value for two words, a
  // negative, a fraction, a value over 16 bits.
  const auto calls = r.m->log.size();
  Variant fixed(12.3456);
  EXPECT_EQ(r.b.link->WritePLC(v2100, fixed, std::int16_t{1}, std::int16_t{ioFloat}, {}), ResultFailed);
  EXPECT_EQ(r.b.link->FailureCause(), "Error: 2 values to write but only one given");
  for (const auto& [value, shown] : std::vector<std::pair<Variant, std::string>>{
           {Variant(std::int32_t{-1}), "-1"}, {Variant(1.5), "1.5"}, {Variant(std::int32_t{65536}), "65536"}}) {
    Variant v = value;
    EXPECT_EQ(r.b.link->WritePLC(address, v, {}, {}, {}), ResultFailed) << shown;
    EXPECT_EQ(r.b.link->CurrentErrors(),
              "Error: value 1 (" + shown + ") does not fit a register (a whole number 0..65535)");
    EXPECT_EQ(r.b.link->FailureCause(), r.b.link->CurrentErrors());
  }
  for (std::size_t i = calls; i < r.m->log.size(); ++i) EXPECT_EQ(r.m->log[i].rfind("CCM", 0), std::string::npos);
  EXPECT_EQ(r.b.link->CommBusy(), Variant(false));
}

TEST(UdpLinkEcom, SingleBitWritesAreRefusedWithNothingSent) {
  EcomRig r;
  const auto calls = r.m->log.size();
  // A bit-type address: IOType 18 and the bit for the caller, then the refusal.
  Variant y3("Y,3"), one(std::int32_t{1});
  std::int16_t ioType = 0;
  std::int32_t ioIdx = 0;
  EXPECT_EQ(r.b.link->WritePLC(y3, one, {}, ioType, ioIdx), ResultFailed);
  EXPECT_EQ(ioType, 18);
  EXPECT_EQ(ioIdx, 3);
  EXPECT_EQ(r.b.link->CurrentErrors(), "Error: a write to the bit address Y,3 is not available in ECOM mode");
  EXPECT_EQ(r.b.link->FailureCause(),
            "a write to the bit address 'Y,3' is not available in ECOM mode: a CCM write sends whole bytes, so it "
            "would set Y0..Y7 all at once");
  Variant c17("C,17");
  EXPECT_EQ(r.b.link->WritePLC(c17, one, {}, {}, {}), ResultFailed);
  EXPECT_NE(r.b.link->FailureCause().find("C10..C17"), std::string::npos) << r.b.link->FailureCause();

  // An address with a "b": the classic road would write the whole word at V2000.
  Variant vb("V,2000b3");
  ioType = 0;
  EXPECT_EQ(r.b.link->WritePLC(vb, one, {}, ioType, {}), ResultFailed);
  EXPECT_EQ(ioType, 1);
  EXPECT_EQ(r.b.link->CurrentErrors(), "Error: the single-bit write V,2000b3 is not available in ECOM mode");
  EXPECT_EQ(r.b.link->WritePLCBit(y3, one, {}, {}, {}), ResultFailed);
  EXPECT_EQ(r.b.link->CurrentErrors(), "Error: WritePLCBit is not available in ECOM mode");
  EXPECT_FALSE(r.b.link->FailureCause().empty());
  EXPECT_EQ(r.m->log.size(), calls);
  EXPECT_EQ(r.b.link->CommBusy(), Variant(false));

  // A tag name is looked up whole, "b" and all.
  Tags().AddTag(1, Variant("Tumbler"), Variant("V,100"));
  Variant tag("Tumbler");
  EXPECT_EQ(r.b.link->WritePLC(tag, one, {}, {}, {}), ResultOk);
  EXPECT_EQ(r.LastCall(), "CCM w 1 49 65 2");
  Tags().Clear();

  // A mistyped tag is no tag, whatever its "b"; a "b" that ends no address and a type that is
  // no memory type are refused, where "Vb,2000" and "YY,5" wrote V2000 and V5.
  const std::size_t before = r.m->log.size();
  const struct {
    const char* address;
    const char* cause;
  } refused[] = {
      {"Tumbler", "address 'Tumbler' not understood: no tag of that name, nor a number or TYPE,number"},
      {"Tumb", "address 'Tumb' not understood: no tag of that name, nor a number or TYPE,number"},
      {"Vb,2000", "address 'Vb,2000' not understood: a \"b\" marks a bit at the end of an address (V,2000b3, C,10b), "
                  "and ',2000' follows it here"},
      {"YY,5", "address 'YY,5' not understood: 'YY' is no memory type a write goes to (V; other letters are read as "
               "V-memory, never written)"},
  };
  for (const auto& row : refused) {
    Variant a(row.address);
    EXPECT_EQ(r.b.link->WritePLC(a, one, {}, {}, {}), ResultFailed) << row.address;
    EXPECT_EQ(r.b.link->FailureCause(), row.cause);
    EXPECT_EQ(r.b.link->CurrentErrors(), Variant("Error: " + std::string(row.cause)));
  }
  EXPECT_EQ(r.m->log.size(), before);
}

TEST(UdpLinkEcom, ReadsKeepTheCallersSizesAndRefuseWhatDoesNotFit) {
  EcomRig r;
  // ioFloat into an array: each pair in order, the caller's ReadSize doubled.
  r.m->replyBytes = {12, 0, 0x80, 0x0D, 7, 0, 5, 0};  // 12, 3456, 7, 5
  Variant address("V,0"), values(VariantArray(1, 2)), size(std::int32_t{2});
  EXPECT_EQ(r.b.link->ReadPLC(address, values, size, std::int16_t{ioFloat}, {}), ResultOk);
  EXPECT_EQ(r.LastCall(), "CCM r 1 49 1 8");
  EXPECT_EQ(size, Variant(std::int32_t{4}));
  EXPECT_DOUBLE_EQ(values.Array().Get(1).ToDouble(), 12.3456);
  EXPECT_DOUBLE_EQ(values.Array().Get(2).ToDouble(), 7.0005);

  // An array with no room for every value: 0, and the text says so.
  Variant small(VariantArray(1, 2));
  EXPECT_EQ(r.b.link->ReadPLC(address, small, Variant(std::int32_t{4}), {}, {}), ResultFailed);
  EXPECT_EQ(r.b.link->CurrentErrors(), "Error: ReadValue has no room for the 4 values read");
  EXPECT_EQ(r.b.link->FailureCause(),
            "ReadValue has no room for the 4 values read (an array from index 1 to at least 4 takes them)");
  Variant bits(VariantArray(1, 3)), x0("X,0");
  EXPECT_EQ(r.b.link->ReadPLC(x0, bits, Variant(std::int32_t{4}), {}, {}), ResultFailed);

  // ReadErrors is the engine's text, as the classic control gives it; CurrentErrors and the
  // cause carry the ECOM failure.
  EXPECT_EQ(r.b.link->ReadErrors(), Variant(""));
  Variant v19("V,19");
  EXPECT_EQ(r.b.link->ReadPLC(v19, small, {}, {}, {}), ResultFailed);
  EXPECT_EQ(r.b.link->FailureCause(), "address 'V,19' not understood: 9 is not an octal digit");
  EXPECT_EQ(r.b.link->CurrentErrors(), "Error: address 'V,19' not understood: 9 is not an octal digit");
  EXPECT_EQ(r.b.link->ReadErrors(), Variant(""));

  Variant notANumber("many");
  EXPECT_EQ(r.b.link->ReadPLC(address, small, notANumber, {}, {}), ResultFailed);
  EXPECT_EQ(r.b.link->FailureCause(), "ReadSize many is not a number");
  r.m->ccmResults = {7, 7};
  r.m->detail = "no answer from module 1 at 127.0.0.1:28784 to 4 attempts of 55 ms";
  EXPECT_EQ(r.b.link->ReadPLC(address, small, {}, {}, {}), ResultFailed);
  EXPECT_EQ(r.b.link->FailureCause(), "Error 2 performing PASCAL_HEICCMRequest: rc= 7 (" + r.m->detail + ")");
  EXPECT_EQ(r.b.link->ReadPLC(address, small, {}, {}, {}), ResultOk);
  EXPECT_EQ(r.b.link->FailureCause(), "");

  ecom::EcomLink().Line.WriteCallActive = true;
  EXPECT_EQ(r.b.link->ReadPLC(address, small, {}, {}, {}), ResultFailed);
  EXPECT_NE(r.b.link->FailureCause().find("write call"), std::string::npos);
  ecom::EcomLink().Line.WriteCallActive = false;

  r.b.link->SetPortOpen(false);
  EXPECT_EQ(r.b.link->ReadPLC(address, small, {}, {}, {}), ResultEcomNotOpen);
  EXPECT_EQ(r.b.link->FailureCause(), "ECOM is not open: PortOpen was set to False");
  EXPECT_EQ(r.b.link->ReadPLCNW(address, small, {}, {}), ResultFailed);
  EXPECT_EQ(r.b.link->FailureCause(), "ECOM is not open: PortOpen was set to False");
  Variant one(std::int32_t{1});
  EXPECT_EQ(r.b.link->WritePLC(address, one, {}, {}, {}), ResultFailed);
  EXPECT_EQ(r.b.link->FailureCause(), "Error: invalid device address 1 (the ECOM transport is not open (PortOpen))");
  // ReadPLCValue reads nothing (it only names the station), and says so.
  Variant plain("V,2000"), response;
  EXPECT_EQ(r.b.link->ReadPLCValue(plain, response, {}, {}, {}), ResultFailed);
  EXPECT_EQ(plain, Variant("1;V,2000"));
  EXPECT_NE(r.b.link->FailureCause().find("reads nothing"), std::string::npos);
  r.m->openTransportResult = 6;
  r.m->detail = "the module list /dev/zero is not a regular file";
  r.b.link->SetPortOpen(true);
  EXPECT_EQ(r.b.link->ReadPLC(address, small, {}, {}, {}), ResultEcomNotOpen);
  EXPECT_EQ(r.b.link->FailureCause(),
            "ECOM is not open: Unable to Open Winsock Transport: rc= 6 (the module list /dev/zero is not a regular "
            "file)");
}

TEST(UdpLinkEcom, ProtocolAndDeviceTimeOutAreTheThreads) {
  EcomRig r;
  auto second = r.b.Make();
  second->InitProperties();
  // Set on one control, the next open by the other uses them: the transport is the thread's.
  second->SetCommProtocol(udp::IPX);
  second->SetDeviceTimeOut(20);
  r.b.link->SetPortOpen(true);
  EXPECT_EQ(r.m->protocolSeen, 2);
  EXPECT_EQ(r.m->timeoutSeen, 20);
  EXPECT_EQ(r.b.link->CommProtocol(), udp::UDP_IP);  // each control still shows its own
  r.b.link->SetDeviceTimeOut(30);
  EXPECT_FALSE(r.m->traced);
  r.b.host.SetSerialTrace([](TraceDirection, const std::uint8_t*, std::size_t, std::int64_t) {});
  second->SetPortOpen(true);
  EXPECT_EQ(r.m->timeoutSeen, 30);
  EXPECT_TRUE(r.m->traced);  // the host's trace hook reached the library
}

TEST(UdpLinkEcom, NonWaitingReadRaisesCommCompleteOnlyWhenDone) {
  EcomRig r;
  r.m->replyBytes = {0x34, 0x12};
  Variant address("V,0"), unused;
  EXPECT_EQ(r.b.link->ReadPLCNW(address, unused, {}, {}), ResultOk);
  EXPECT_EQ(r.events, (std::vector<std::string>{"CommComplete"}));
  std::int16_t idx = 1;
  EXPECT_EQ(r.b.link->ReadData(idx).ToInt32(), 0x1234);

  r.m->ccmResults = {7, 7};
  EXPECT_EQ(r.b.link->ReadPLCNW(address, unused, {}, {}), ResultFailed);
  EXPECT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.b.link->CurrentErrors(), "Error 2 performing PASCAL_HEICCMRequest: rc= 7");
}


// A host that polls by reading the next word from CommComplete: the read it starts there raises
// its CommComplete from the loop, after that handler has returned, as on the serial path, with
// its own words in ReadData. Raised inside the call, every read nested one handler deeper, and a
// host that kept polling so ran out of stack.
TEST(UdpLinkEcom, AReadStartedFromCommCompleteCompletesFromTheLoop) {
  EcomRig r;
  constexpr int kReads = 50;
  int depth = 0, deepest = 0, started = 1;
  std::vector<std::int32_t> seen;
  std::vector<Result> results;
  r.b.link->SetEventSink([&](const std::string& name, std::vector<Variant>&) {
    if (name != "CommComplete") return;
    deepest = std::max(deepest, ++depth);
    std::int16_t idx = 1;
    seen.push_back(r.b.link->ReadData(idx).ToInt32());
    if (started < kReads) {
      ++started;
      r.m->replyBytes = {static_cast<std::uint8_t>(started), 0};
      Variant address("V,0"), unused;
      results.push_back(r.b.link->ReadPLCNW(address, unused, {}, {}));
    }
    --depth;
  });
  r.m->replyBytes = {1, 0};
  Variant address("V,0"), unused;
  EXPECT_EQ(r.b.link->ReadPLCNW(address, unused, {}, {}), ResultOk);
  EXPECT_EQ(seen, std::vector<std::int32_t>{1}) << "the next read's CommComplete waits for the loop";
  r.b.loop.RunFor(1000);
  EXPECT_EQ(deepest, 1);
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kReads));
  for (int k = 0; k < kReads; ++k) EXPECT_EQ(seen[static_cast<std::size_t>(k)], k + 1) << "read " << k + 1;
  EXPECT_EQ(results, std::vector<Result>(kReads - 1, ResultOk));

  // Two reads started by one handler: each CommComplete finds its own read's words.
  seen.clear();
  bool twice = true;
  r.b.link->SetEventSink([&](const std::string& name, std::vector<Variant>&) {
    if (name != "CommComplete") return;
    std::int16_t idx = 1;
    seen.push_back(r.b.link->ReadData(idx).ToInt32());
    if (!std::exchange(twice, false)) return;
    for (std::uint8_t word : {20, 21}) {
      r.m->replyBytes = {word, 0};
      Variant a("V,0"), u;
      EXPECT_EQ(r.b.link->ReadPLCNW(a, u, {}, {}), ResultOk);
    }
  });
  r.m->replyBytes = {10, 0};
  EXPECT_EQ(r.b.link->ReadPLCNW(address, unused, {}, {}), ResultOk);
  r.b.loop.RunFor(1000);
  EXPECT_EQ(seen, (std::vector<std::int32_t>{10, 20, 21}));
}

TEST(UdpLinkEcom, ABusyFlagLeftSetIsClearedAfterTwoSeconds) {
  EcomRig r;
  ecom::EcomLink().EcomBusy = true;
  // A serial read left hanging too: the reset frees its markers as well.
  ecom::EcomLink().Line.ReadBusy = true;
  ecom::EcomLink().Line.ReadIdle = false;
  EXPECT_EQ(r.b.link->CommBusy(), Variant(true));
  const auto start = r.b.clock.WallSeconds();
  Variant address("V,0"), value;
  EXPECT_EQ(r.b.link->ReadPLC(address, value, {}, {}, {}), ResultOk);
  EXPECT_EQ(r.b.clock.WallSeconds() - start, 2);
  EXPECT_EQ(r.b.link->CommBusy(), Variant(false));

  // A read while a write call runs (an event handler inside it) is refused at once.
  ecom::EcomLink().Line.WriteCallActive = true;
  const auto calls = r.m->log.size();
  EXPECT_EQ(r.b.link->ReadPLC(address, value, {}, {}, {}), ResultFailed);
  EXPECT_EQ(r.m->log.size(), calls);

  ecom::EcomLink().EcomBusy = true;
  r.b.link->SetCommBusy(Variant(false));
  EXPECT_EQ(r.b.link->CommBusy(), Variant(false));
}

TEST(UdpLinkEcom, OpenCloseAndTheSerialModes) {
  EcomRig r;
  EXPECT_EQ(r.m->openCount, 1);
  r.b.link->SetPortOpen(true);  // again: the first open is closed, not leaked
  EXPECT_EQ(r.m->closeCount, 1);
  r.b.link->SetPortOpen(false);
  EXPECT_EQ(r.m->closeCount, 2);
  EXPECT_FALSE(r.b.link->EcomOpen());
  Variant address("V,0"), value;
  EXPECT_EQ(r.b.link->ReadPLC(address, value, {}, {}, {}), ResultEcomNotOpen);

  // IPX reaches the transport record as protocol 2.
  r.b.link->SetCommProtocol(udp::IPX);
  r.b.link->SetDeviceTimeOut(20);
  r.b.link->SetPortOpen(true);
  EXPECT_EQ(r.m->protocolSeen, 2);
  EXPECT_EQ(r.m->timeoutSeen, 20);

  // The serial modes never answer 301: they take the serial path whatever the ECOM state.
  r.b.link->SetPortOpen(false);
  r.b.link->SetCommMode(udp::KSeq);
  EXPECT_EQ(r.b.link->ReadPLC(address, value, {}, {}, {}), ResultFailed);

  // The last UdpLink of the thread closes the transport when it goes away.
  r.b.link->SetCommMode(udp::ECOM);
  r.b.link->SetPortOpen(true);
  const int closes = r.m->closeCount;
  r.b.link.reset();
  EXPECT_EQ(r.m->closeCount, closes + 1);
}

// CommMode may change while a path is open; PortOpen = False then closes what this control
// opened in either mode, so that the flag never reads False over a line still held.
TEST(UdpLinkEcom, PortOpenFalseClosesWhatTheControlOpenedBeforeAModeChange) {
  EcomRig r;
  r.b.link->SetCommMode(udp::KSeq);
  r.b.link->SetPortOpen(true);
  ASSERT_TRUE(r.b.port->PortOpen());
  r.b.link->SetCommMode(udp::ECOM);
  r.b.link->SetPortOpen(false);
  EXPECT_FALSE(r.b.link->PortOpen());
  EXPECT_FALSE(r.b.port->PortOpen()) << "the serial device stayed held with PortOpen False";
  EXPECT_FALSE(r.b.link->EcomOpen());
  r.b.link->SetCommMode(udp::KSeq);
  EXPECT_NO_THROW(r.b.link->SetPortOpen(true)) << "reopening in the serial mode";
  EXPECT_TRUE(r.b.port->PortOpen());
  r.b.link->SetPortOpen(false);

  // The other way: the transport opened in ECOM mode goes with a PortOpen = False in a serial
  // mode; an ECOM read no longer finds it open.
  r.b.link->SetCommMode(udp::ECOM);
  r.b.link->SetPortOpen(true);
  ASSERT_TRUE(r.b.link->EcomOpen());
  const int closes = r.m->closeCount;
  r.b.link->SetCommMode(udp::KSeq);
  r.b.link->SetPortOpen(false);
  EXPECT_EQ(r.m->closeCount, closes + 1);
  EXPECT_FALSE(r.b.link->EcomOpen());
  r.b.link->SetCommMode(udp::ECOM);
  Variant address("V,0"), value;
  EXPECT_EQ(r.b.link->ReadPLC(address, value, {}, {}, {}), ResultEcomNotOpen);

  // A transport another control opened is not this one's to close from a serial mode.
  test::LinkTestBench<UdpLink>& b = r.b;
  auto other = b.Make();
  other->InitProperties();
  other->SetPortOpen(true);
  ASSERT_TRUE(other->EcomOpen());
  auto serial = b.Make();
  serial->InitProperties();
  serial->SetCommMode(udp::KSeq);
  serial->SetPortOpen(true);
  serial->SetPortOpen(false);
  EXPECT_TRUE(other->EcomOpen());
}

TEST(UdpLinkEcom, ABitOfAWordReadNamesABitOfTheWordsRead) {
  EcomRig r;
  // Two words read: the second, 0010h, stays in the word array.
  r.m->replyBytes = {0x00, 0x00, 0x10, 0x00};
  Variant address("V,0"), words(VariantArray(1, 2));
  ASSERT_EQ(r.b.link->ReadPLC(address, words, Variant(std::int32_t{2}), {}, {}), ResultOk);
  // ioIdx 20 of a one-word read would be bit 4 of a word this read never asked for.
  r.m->replyBytes = {0x00, 0x00};
  const auto calls = r.m->log.size();
  for (const std::int32_t bad : {20, 16, -1}) {
    Variant value(std::int32_t{7});
    EXPECT_EQ(r.b.link->ReadPLC(address, value, Variant(std::int32_t{1}), std::int16_t{18}, bad), ResultFailed)
        << bad;
    EXPECT_EQ(value, Variant(std::int32_t{7})) << bad;
    EXPECT_EQ(r.b.link->FailureCause(), "ioIdx " + std::to_string(bad) + " names no bit of a 16-bit word (0 to 15)");
    EXPECT_EQ(r.b.link->CurrentErrors(), "Error: " + r.b.link->FailureCause());
  }
  EXPECT_EQ(r.m->log.size(), calls) << "nothing sent";
  // Bit 15 is the word's own.
  r.m->replyBytes = {0x00, 0x80};
  Variant value;
  EXPECT_EQ(r.b.link->ReadPLC(address, value, Variant(std::int32_t{1}), std::int16_t{18}, 15), ResultOk);
  EXPECT_EQ(value, Variant(std::int32_t{1}));
}

TEST(UdpLinkEcom, CnvOctToDecReadsDigitByDigit) {
  EcomRig r;
  for (const auto& [text, value] : std::vector<std::pair<std::string, std::int32_t>>{{"17", 15}, {"19", 17}, {"17 ", 120}}) {
    std::string t = text;
    EXPECT_EQ(r.b.link->CnvOctToDec(t), value) << "'" << text << "'";
  }
}

}  // namespace
}  // namespace plc
