// The ECOM transport against a scripted hei_pas: what each library call receives, the station
// map, the byte packing, the one retry and the failure texts.
#include <gtest/gtest.h>

#include "base/RuntimeError.h"
#include "ecom/CcmForm.h"
#include "tests/ecom/FakeHeiPas.h"

namespace plc::ecom {
namespace {

using test::FakeModules;

struct Rig {
  std::shared_ptr<FakeModules> m = std::make_shared<FakeModules>();
  CcmWordArray words{};
  CcmForm form{words, test::FakeLoader(m)};
  std::string error;
  void Open(std::vector<std::uint8_t> ids, std::int16_t protocol = 3) {
    m->ids = std::move(ids);
    form.EtherCCMOpen(error, protocol, 55);
  }
  std::vector<std::string> CallsSince(std::size_t from) const {
    return std::vector<std::string>(m->log.begin() + static_cast<std::ptrdiff_t>(from), m->log.end());
  }
};

TEST(CcmFormOpen, CallOrderArgumentsAndStationMap) {
  Rig r;
  r.Open({7, 3});
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.m->log, (std::vector<std::string>{"Open 2", "OpenTransport 4 3", "QueryDevices room 20",
                                                "OpenDevice 7 55 3", "OpenDevice 3 55 3", "ReadSetupData 32 4",
                                                "ReadSetupData 32 4"}));
  EXPECT_EQ(r.form.DeviceCount, 2);
  EXPECT_EQ(r.form.StationMap[7], 1);
  EXPECT_EQ(r.form.StationMap[3], 2);
  EXPECT_EQ(r.form.StationMap[5], 0);
}

TEST(CcmFormOpen, NoModuleAndFailuresGiveTheirTexts) {
  Rig r;
  r.Open({});
  EXPECT_EQ(r.error, "No ECOM Devices: rc= 0");
  EXPECT_EQ(std::count(r.form.StationMap.begin(), r.form.StationMap.end(), 0), 256);

  Rig ipx;
  ipx.m->openTransportResult = 3;
  ipx.Open({1}, 2);
  EXPECT_EQ(ipx.m->protocolSeen, 2);
  EXPECT_EQ(ipx.error, "Unable to Open Winsock Transport: rc= 3");

  Rig missing;
  CcmForm noLibrary(missing.words, [](std::string& why) -> std::unique_ptr<HeiPasApi> {
    why = "libhei_pas.so: cannot open shared object file";
    return nullptr;
  });
  noLibrary.EtherCCMOpen(missing.error, 3, 55);
  EXPECT_EQ(missing.error, "Unable to Initialize the driver: rc= -1 (libhei_pas.so: cannot open shared object file)");
  noLibrary.EtherCCMRead(1, 0, 1, Variant(), 0x31, false, missing.error);
  EXPECT_EQ(missing.error, "Error: invalid device address 1");
}

TEST(CcmFormOpen, AFailedQueryKeepsItsOwnTextAndOpensNoDevice) {
  Rig r;
  r.m->queryResult = 6;
  r.m->detail = "the module list /dev/zero is not a regular file";
  r.Open({1, 2});
  // The library left the count at the room offered; nothing is opened on that.
  EXPECT_EQ(r.error, "Error Querying the Network: rc= 6");
  EXPECT_EQ(r.form.FailureDetail(), "the module list /dev/zero is not a regular file");
  EXPECT_EQ(r.form.DeviceCount, 0);
  for (const std::string& call : r.m->log) EXPECT_EQ(call.rfind("OpenDevice", 0), std::string::npos) << call;
  EXPECT_EQ(std::count(r.form.StationMap.begin(), r.form.StationMap.end(), 0), 256);
  // A station the open did not find: the detail names the IDs it did.
  r.m->queryResult = 0;
  r.Open({1, 2});
  r.form.EtherCCMRead(5, 0, 1, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.error, "Error: invalid device address 5");
  EXPECT_EQ(r.form.FailureDetail(), "no module with ID 5 answered when the port was opened (IDs found: 1, 2)");
  r.m->ccmResults = {7, 7};
  r.m->detail = "no answer from module 1";
  r.form.EtherCCMRead(1, 0, 1, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.form.FailureDetail(), "no answer from module 1");
  r.form.EtherCCMRead(1, 0, 1, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.form.FailureDetail(), "");
}

TEST(CcmFormOpen, ARepeatedOpenClosesWhatTheFirstOpened) {
  Rig r;
  r.Open({1, 2});
  const auto before = r.m->log.size();
  r.Open({1});
  const auto calls = r.CallsSince(before);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
            (std::vector<std::string>{"CloseDevice 1", "CloseDevice 2", "CloseTransport", "Close"}));
  EXPECT_EQ(r.form.StationMap[2], 0);
  EXPECT_EQ(r.form.EtherCCMClose(), "Closed  rc= 0");
  EXPECT_EQ(r.m->openCount, r.m->closeCount);
}

TEST(CcmFormRead, RegisterAddressLengthAndWords) {
  Rig r;
  r.Open({1});
  r.m->replyBytes = {0x34, 0x12, 0x00, 0x01, 0xFF, 0xFF};
  auto from = r.m->log.size();
  r.form.EtherCCMRead(1, 0, 3, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.CallsSince(from), (std::vector<std::string>{"ReadDeviceDef 42", "CCM r 1 49 1 6"}));
  EXPECT_EQ(r.form.CcmWords[1], 0x1234);
  EXPECT_EQ(r.form.CcmWords[2], 0x0100);
  EXPECT_EQ(r.form.CcmWords[3], 0xFFFF);

  from = r.m->log.size();
  r.form.EtherCCMRead(1, 32767, 1, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.CallsSince(from).back(), "CCM r 1 49 -32768 2");
  // Inputs and outputs: the address as given, one byte per value asked.
  from = r.m->log.size();
  r.form.EtherCCMRead(1, 0x102, 3, Variant(), 0x32, false, r.error);
  EXPECT_EQ(r.CallsSince(from).back(), "CCM r 1 50 258 3");
  EXPECT_EQ(r.form.CcmWords[1], 0x1234);
  EXPECT_EQ(r.form.CcmWords[2], 0x00);  // the byte past the length counts 0
}

TEST(CcmFormRead, StationWithoutModuleAndNonEcomDevice) {
  Rig r;
  r.Open({1});
  const auto from = r.m->log.size();
  r.form.EtherCCMRead(5, 0, 1, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.error, "Error: invalid device address 5");
  EXPECT_TRUE(r.CallsSince(from).empty());
  EXPECT_THROW(r.form.EtherCCMRead(256, 0, 1, Variant(), 0x31, false, r.error), RuntimeError);

  r.m->deviceType = 0;
  r.form.EtherCCMRead(1, 0, 1, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.error, "This device is not an ECOM, cannot continue!");
}

TEST(CcmFormRead, OneRetryThenTheSecondFailureText) {
  Rig r;
  r.Open({1});
  r.m->ccmResults = {7};
  r.form.EtherCCMRead(1, 0, 1, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(std::count(r.m->log.begin(), r.m->log.end(), "CCM r 1 49 1 2"), 2);

  r.m->ccmResults = {7, 9};
  r.form.EtherCCMRead(1, 0, 1, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.error, "Error 2 performing PASCAL_HEICCMRequest: rc= 9");
  EXPECT_EQ(std::count(r.m->log.begin(), r.m->log.end(), "CCM r 1 49 1 2"), 4);
}

TEST(CcmFormWrite, PackingAndRefusedValues) {
  Rig r;
  r.Open({1});
  VariantArray values(1, 3);
  values.Set(1, Variant(std::int32_t{0x1234}));
  values.Set(2, Variant(std::int32_t{0}));
  values.Set(3, Variant(std::int32_t{65535}));
  r.form.EtherCCMRead(1, 0, 3, Variant(values), 0x31, true, r.error);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.m->written, (std::vector<std::uint8_t>{0x34, 0x12, 0x00, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(r.m->log.back(), "CCM w 1 49 1 6");

  // Outputs take one byte per value: two values, two bytes, neither lost.
  VariantArray bits(1, 2);
  bits.Set(1, Variant(std::int32_t{5}));
  bits.Set(2, Variant(std::int32_t{0x81}));
  r.form.EtherCCMRead(1, 0x101, 2, Variant(bits), 0x33, true, r.error);
  EXPECT_EQ(r.m->written, (std::vector<std::uint8_t>{0x05, 0x81}));

  const auto from = r.m->log.size();
  // A value that does not fit is refused: never wrapped (-1 is not 65535) nor rounded.
  r.form.EtherCCMRead(1, 0, 1, Variant(std::int32_t{70000}), 0x31, true, r.error);
  EXPECT_EQ(r.error, "Error: value 1 (70000) does not fit a register (a whole number 0..65535)");
  r.form.EtherCCMRead(1, 0, 1, Variant(std::int32_t{-1}), 0x31, true, r.error);
  EXPECT_EQ(r.error, "Error: value 1 (-1) does not fit a register (a whole number 0..65535)");
  r.form.EtherCCMRead(1, 0, 1, Variant(1.5), 0x31, true, r.error);
  EXPECT_EQ(r.error, "Error: value 1 (1.5) does not fit a register (a whole number 0..65535)");
  r.form.EtherCCMRead(1, 0x101, 1, Variant(std::int32_t{256}), 0x33, true, r.error);
  EXPECT_EQ(r.error, "Error: value 1 (256) does not fit a byte (a whole number 0..255)");
  r.form.EtherCCMRead(1, 0, 2, Variant(std::int32_t{1}), 0x31, true, r.error);
  EXPECT_EQ(r.error, "Error: 2 values to write but only one given");
  r.form.EtherCCMRead(1, 0, 501, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.error, "Error: CCM request length 1002 outside 1..1001 bytes");
  r.form.EtherCCMRead(1, 0x101, 1002, Variant(), 0x32, false, r.error);
  EXPECT_EQ(r.error, "Error: CCM request length 1002 outside 1..1001 bytes");
  r.form.EtherCCMRead(1, 0, 0, Variant(), 0x32, false, r.error);
  EXPECT_EQ(r.error, "Error: CCM request length 0 outside 1..1001 bytes");
  r.form.EtherCCMRead(1, 65535, 1, Variant(), 0x31, false, r.error);
  EXPECT_EQ(r.error, "Error: CCM address 65536 outside 0..65535");
  for (const auto& call : r.CallsSince(from)) EXPECT_EQ(call.rfind("CCM", 0), std::string::npos) << call;
  // The whole buffer is one request.
  r.form.EtherCCMRead(1, 0x101, 1001, Variant(), 0x32, false, r.error);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.m->log.back(), "CCM r 1 50 257 1001");
}

}  // namespace
}  // namespace plc::ecom
