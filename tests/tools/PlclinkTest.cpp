// plclink as a process, without a line: what it says about input it cannot use, the members
// and enumerations it lists, call arguments in and out, options set as properties by name,
// and a property-bag document restored and saved back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/platform/TempFolder.h"
#include "tests/support/PlclinkCommand.h"

namespace plc::test {
namespace {

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// A document plant.ini in folder holding text; its path.
std::string PlantDocument(const plc::testing::TempFolder& folder, const std::string& text) {
  const std::string path = folder.File("plant.ini");
  std::ofstream(path) << text;
  return path;
}

TEST(Plclink, InputItCannotUseGivesOneLineNamingItAndItsStatus) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{}, 2, "no control given"},
      {{"plc5", "members"}, 2, "unknown control 'plc5'"},
      {{"read", "rtulink", "40001"}, 2, "the control comes first, before read"},
      {{"rtulink", "--colour", "red", "members"}, 2, "--colour"},
      {{"rtulink", "frobnicate"}, 2, "frobnicate"},
      {{"rtulink", "call", "ReadPLX"}, 2, "RtuLink has no method named ReadPLX"},
      {{"rtulink", "get", "Baud"}, 2, "RtuLink has no property named Baud"},
      {{"seqlink", "--node", "3", "members"}, 2, "--node: SeqLink has no property Node"},
      {{"rtulink", "--prop", "Colour=1", "members"}, 2, "--prop Colour: RtuLink has no property Colour"},
      {{"rtulink", "--prop", "Address", "members"}, 2, "NAME=VALUE"},
      {{"rtulink", "--address", "one", "members"}, 2, "--address wants a unit from 0 to 255, not 'one'"},
      // What would quietly be taken for something else is refused.
      {{"rtulink", "-p", "", "read", "40001"}, 2, "--port wants a port number or a device path, not ''"},
      {{"rtulink", "-a", "-1", "read", "40001"}, 2, "--address wants a unit from 0 to 255, not '-1'"},
      {{"DfLink", "--node", "256", "read", "N7:0"}, 2, "--node wants a node from 0 to 255, not '256'"},
      {{"rtulink", "--bag", "/tmp/plclink-no-such-bag.ini", "get", "Address"}, 2,
       "--bag: there is no document /tmp/plclink-no-such-bag.ini"},
      {{"rtulink", "--section", "RtuLink2", "get", "Address"}, 2, "--section names a section of the --bag document"},
      {{"rtulink", "--settings", "9600,x,8,1", "read", "40001"}, 2, "--settings: Settings refuses 9600,x,8,1"},
      {{"rtulink", "--baud", "9600", "--settings", "9600,e,9,1", "members"}, 2, "Settings refuses"},
      // A field option does not hide a --settings text the port would refuse: the line would
      // run at n,8,1 where the text meant even parity.
      {{"rtulink", "--baud", "19200", "--settings", "9600 e 8 1", "members"}, 2, "--settings: Settings refuses 9600 e 8 1"},
      {{"rtulink", "-P", "odd", "--settings", "9600,e,8,1,5", "members"}, 2, "--settings: Settings refuses"},
      {{"rtulink", "--mode", "Turbo", "members"}, 2, "'Turbo' is not one of Rtu, Ascii, SlaveRtu, SlaveAscii"},
      {{"rtulink", "read", "40001", "many"}, 2, "COUNT"},
      {{"rtulink", "call", "LongFloatToDec", "1"}, 2, "wants its argument dlong2"},
      {{"rtulink", "call", "LongFloatToDec", "1", "2", "3"}, 2, "takes 2 argument(s), not 3"},
      {{"rtulink", "call", "LongToByte", "1", "[1,2", "0"}, 2, "'[1,2' is not a JSON array"},
      {{"DfLink", "--io-type", "ioFloat", "read", "N7:0"}, 2, "ReadPLC of this control takes no ioType"},
      {{"seqlink", "serve"}, 2, "serve is for rtulink only"},
      {{"rtulink", "set", "CDHolding", "True"}, 2, "CDHolding is read-only"},
      // A number the property's type cannot hold names the type's range, not the bare 'Overflow'.
      {{"rtulink", "set", "NumOfReadRetries", "99999"}, 2,
       "NumOfReadRetries: 99999 is out of range (an Integer holds -32768..32767)"},
      {{"udplink", "--prop", "DeviceTimeOut=40000", "members"}, 2,
       "40000 is out of range (an Integer holds -32768..32767)"},
      {{"rtulink", "--io-type", "70000", "read", "40001"}, 2,
       "--io-type: 70000 is out of range (an Integer holds -32768..32767)"},
      {{"rtulink", "--port", "/dev/plclink-no-such-tty", "read", "40001"}, 1,
       "cannot open port 1 (/dev/plclink-no-such-tty)"},
      {{"rtulink", "--bag", "/proc/self/mem", "get", "Address"}, 1, "/proc/self/mem"},
  };
  for (const Case& c : cases) {
    RunResult r = RunPlclink(c.args);
    std::string shown = ::testing::PrintToString(c.args);
    EXPECT_FALSE(r.timedOut) << shown;
    EXPECT_EQ(r.exitCode, c.status) << shown << "\n" << r.err;
    EXPECT_NE(FirstLine(r.err).find(c.message), std::string::npos) << shown << "\n" << r.err;
    EXPECT_EQ(r.err.find("usage:") != std::string::npos, c.status == 2) << shown << "\n" << r.err;
    EXPECT_EQ(r.out, "") << shown;
  }
}

TEST(Plclink, MembersListKindsParametersAndEnumerationsAsJson) {
  RunResult r = RunPlclink({"RTULINK", "--json", "members"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, nlohmann::json> byName;
  for (const nlohmann::json& m : JsonLines(r)) byName[m["member"].get<std::string>()] = m;
  const nlohmann::json& mode = byName.at("ModBusMode");
  EXPECT_EQ(mode["kind"], "property");
  EXPECT_EQ(mode["enum"]["name"], "EnModBusMode");
  EXPECT_EQ(mode["enum"]["values"], (nlohmann::json{{"Rtu", 1}, {"Ascii", 2}, {"SlaveRtu", 3}, {"SlaveAscii", 4}}));
  const nlohmann::json& read = byName.at("ReadPLC");
  EXPECT_EQ(read["kind"], "method");
  ASSERT_EQ(read["params"].size(), 4u);
  EXPECT_EQ(read["params"][3]["name"], "ioType");
  EXPECT_EQ(read["params"][3]["enum"], "enIODataType");
  EXPECT_TRUE(read["params"][3]["optional"].get<bool>());
  EXPECT_EQ(byName.at("CommCompleteEx")["kind"], "event");
  EXPECT_FALSE(byName.at("CDHolding")["writable"].get<bool>());
}

TEST(Plclink, CallPassesNumbersArraysAndOmittedArgumentsAndShowsWhatCameBack) {
  // 1.5 as an IEEE single is 0x3FC00000: the two by-reference Longs come back filled.
  RunResult r = RunPlclink({"rtulink", "--json", "call", "DecToLongFloat", "1.5", "0", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonLines(r).at(0)["args"], (nlohmann::json{1.5, 0x3FC0, 0}));

  // An array comes back as the control filled it, counted from its own lower bound: the same
  // bytes from index 1 of a 1-based array as from index 0 of a 0-based one.
  r = RunPlclink({"rtulink", "--json", "call", "LongToByte", "258", "[9,9,9,9]", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  nlohmann::json zeroBased = JsonLines(r).at(0)["args"][1];
  EXPECT_NE(zeroBased, (nlohmann::json{9, 9, 9, 9}));
  r = RunPlclink({"rtulink", "--json", "call", "LongToByte", "258", "1:[9,9,9,9]", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonLines(r).at(0)["args"][1], zeroBased);
  r = RunPlclink({"rtulink", "--json", "call", "LongToByte", "258", "1:[9,9,9,9]", "0"});
  EXPECT_EQ(r.exitCode, 1) << "index 0 is outside an array from 1: " << r.out;
  EXPECT_NE(r.err.find("error 9"), std::string::npos) << r.err;

  // A given NumOfReg of 0 is written back as 1; an omitted one stays omitted (null).
  r = RunPlclink({"rtulink", "--json", "call", "ReadModData", "1", "2", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonLines(r).at(0)["args"], (nlohmann::json{1, 2, 1}));
  r = RunPlclink({"rtulink", "--json", "call", "ReadModData", "1", "2", "-"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonLines(r).at(0)["args"], (nlohmann::json{1, 2, nullptr}));

  // A String parameter takes its text as written, leading zeros and all.
  r = RunPlclink({"rtulink", "call", "MakeLRC", "00001"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.OutLines().at(1), "arg 1: 00001");
}

TEST(Plclink, OptionsSetTheControlsPropertiesByLabelOrNumber) {
  auto value = [](std::vector<std::string> args) {
    RunResult r = RunPlclink(std::move(args));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.exitCode == 0 ? JsonLines(r).at(0)["value"] : nlohmann::json();
  };
  EXPECT_EQ(value({"rtulink", "--mode", "slaveascii", "--json", "get", "ModBusMode"}), 4);
  EXPECT_EQ(value({"rtulink", "--mode", "2", "--json", "get", "ModBusMode"}), 2);
  EXPECT_EQ(value({"rtulink", "--plc-type", "EnType2", "--json", "get", "PLCType"}), 2);
  EXPECT_EQ(value({"rtulink", "--rs485", "DTR", "--json", "get", "RS485Mode"}), 2);
  EXPECT_EQ(value({"rtulink", "--address", "17", "--json", "get", "Address"}), 17);
  EXPECT_EQ(value({"rtulink", "--prop", "Settings=9600,e,8,1", "--json", "get", "Settings"}), "9600,e,8,1");
  EXPECT_EQ(value({"rtulink", "--prop", "DTREnable=true", "--json", "get", "DTREnable"}), true);
  EXPECT_EQ(value({"DfLink", "--mode", "EnCRC", "--json", "get", "Mode"}), 2);
  EXPECT_EQ(value({"seqlink", "--mode", "DIrectNet", "--json", "get", "CommMode"}), 2);
  EXPECT_EQ(value({"udplink", "--prop", "CommProtocol=IPX", "--json", "get", "CommProtocol"}), 2);
}

TEST(Plclink, ABagDocumentIsRestoredFirstAndSavedBackAfterASet) {
  plc::testing::TempFolder folder;
  const std::string path = PlantDocument(folder, "[Other]\nKeep=\"me\"\n[RtuLink1]\nAddress=5&\nModBusMode=2\n");
  RunResult r = RunPlclink({"rtulink", "--bag", path, "--json", "get", "ModBusMode"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonLines(r).at(0), (nlohmann::json{{"name", "ModBusMode"}, {"value", 2}}));

  r = RunPlclink({"rtulink", "--bag", path, "set", "Address", "17"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = RunPlclink({"rtulink", "--bag", path, "get", "Address"});
  EXPECT_EQ(r.out, "17\n");
  r = RunPlclink({"rtulink", "--bag", path, "get", "ModBusMode"});
  EXPECT_EQ(r.out, "2\n") << "what the set did not touch was saved as it was restored";
  std::ifstream doc(path);
  std::stringstream text;
  text << doc.rdbuf();
  EXPECT_NE(text.str().find("[Other]\nKeep=\"me\"\n"), std::string::npos) << text.str();

  // A section the document does not have is refused, naming those it has; set starts one.
  r = RunPlclink({"rtulink", "--bag", path, "--section", "RtuLink2", "get", "Address"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("has no section [RtuLink2] (it has Other, RtuLink1)"), std::string::npos) << r.err;
  r = RunPlclink({"rtulink", "--bag", path, "--section", "RtuLink2", "set", "Address", "5"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = RunPlclink({"rtulink", "--bag", path, "--section", "RtuLink2", "get", "Address"});
  EXPECT_EQ(r.out, "5\n");
}

// A plant document's section holds the plant's own keys beside the control's: a set saved back
// keeps them, so the section is still a control of the plant.
TEST(Plclink, ASetSavedToAPlantSectionKeepsThePlantsOwnKeys) {
  plc::testing::TempFolder folder;
  const std::string path =
      PlantDocument(folder, "[Packer]\nControl=\"DfLink\"\nAddress=1&\nScanReadIOTimerInterval=250&\n");
  RunResult r = RunPlclink({"DfLink", "--bag", path, "--section", "Packer", "set", "Address", "3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::ifstream doc(path);
  std::stringstream text;
  text << doc.rdbuf();
  EXPECT_EQ(text.str(), "[Packer]\nControl=\"DfLink\"\nAddress=3\nScanReadIOTimerInterval=250&\n");
}

// A stored control whose every value is at its default leaves an empty section behind; loading
// it must restore those defaults, not start a new control with the serial child's own line.
TEST(Plclink, ASectionSavedWithEveryValueAtItsDefaultLoadsBackTheSame) {
  plc::testing::TempFolder folder;
  const std::string path = PlantDocument(folder, "[SeqLink1]\nSettings=\"19200,n,8,1\"\n");
  RunResult r = RunPlclink({"seqlink", "--bag", path, "set", "Settings", "9600,e,8,1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const auto& [property, saved] : std::vector<std::pair<std::string, std::string>>{
           {"Settings", "9600,e,8,1"}, {"DTREnable", "True"}, {"ScanWriteIOTimerInterval", "55"}}) {
    r = RunPlclink({"seqlink", "--bag", path, "get", property});
    EXPECT_EQ(r.out, saved + "\n") << property << ": " << r.err;
  }
}

// set --bag leaves nothing but the document behind: a value the document does not keep was
// not set, and a set that reported it as done would be found out at the next restore.
TEST(Plclink, ASetTheDocumentDoesNotKeepFails) {
  plc::testing::TempFolder folder;
  const std::string path = folder.File("plant.ini");
  RunResult r = RunPlclink({"DfLink", "--bag", path, "set", "NumOfReadRetries", "3"});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.err.find("keeps no NumOfReadRetries of DfLink: a control restored from it has 0, not 3"),
            std::string::npos)
      << r.err;
  r = RunPlclink({"DfLink", "--bag", path, "set", "Mode", "2"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = RunPlclink({"DfLink", "--bag", path, "set", "PortOpen", "False"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

// --port PATH points this run's port number at the device; a set saved back to a plant
// document keeps the number the document had, so the plant's own host still finds its line.
TEST(Plclink, ASetRunOnADevicePathKeepsTheDocumentsPortNumber) {
  plc::testing::TempFolder folder;
  const std::string path = PlantDocument(folder, "[Press]\nControl=\"RtuLink\"\nCommPort=3\nAddress=5&\n");
  RunResult r = RunPlclink(
      {"rtulink", "--bag", path, "--section", "Press", "--port", folder.File("ttyUSB0"), "set", "Address", "9"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = RunPlclink({"rtulink", "--bag", path, "--section", "Press", "get", "CommPort"});
  EXPECT_EQ(r.out, "3\n") << r.err;
  r = RunPlclink({"rtulink", "--bag", path, "--section", "Press", "get", "Address"});
  EXPECT_EQ(r.out, "9\n") << r.err;
}

// call opens no port of itself (DecToLongFloat needs none), so a read called without --port
// fails on a closed port; its text says how plclink opens one, not only that PortOpen is False.
TEST(Plclink, ACallThatFailsOnAClosedPortSaysHowToOpenIt) {
  for (std::vector<std::string> args : {std::vector<std::string>{"rtulink", "call", "ReadPLC", "40001", "[0]", "1"},
                                        {"seqlink", "call", "ReadPLC", "V,2000", "[0]", "1"},
                                        {"DfLink", "call", "ReadPLC", "N7:0", "1:[0]", "1"},
                                        {"udplink", "-m", "3", "call", "ReadPLC", "V,2000", "[0]", "1"}}) {
    RunResult r = RunPlclink(args);
    EXPECT_EQ(r.exitCode, 1) << args[0] << ": " << r.out;
    EXPECT_NE(r.err.find("--port"), std::string::npos) << args[0] << ": " << r.err;
  }
}

// A document saved while the port was open keeps PortOpen=True; restoring it opens nothing, so
// reading or changing a property must neither need the device nor take the line.
TEST(Plclink, GetAndSetOnADocumentSavedWithThePortOpenLeaveTheLineAlone) {
  plc::testing::TempFolder folder;
  const std::string path = PlantDocument(folder, "[RtuLink1]\nCommPort=7\nPortOpen=True\nAddress=5&\n");
  ::setenv("QVL_COM7", folder.File("no-such-tty").c_str(), 1);
  RunResult r = RunPlclink({"rtulink", "--bag", path, "get", "Address"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "5\n");
  r = RunPlclink({"rtulink", "--bag", path, "set", "Address", "9"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = RunPlclink({"rtulink", "--bag", path, "get", "PortOpen"});
  EXPECT_EQ(r.out, "True\n") << "the stored flag is kept as it was restored: " << r.err;
  r = RunPlclink({"rtulink", "--bag", path, "get", "Address"});
  EXPECT_EQ(r.out, "9\n") << r.err;
  ::unsetenv("QVL_COM7");
}

}  // namespace
}  // namespace plc::test
