// The installed package as a host programmer meets it: installed to a fresh prefix, the two
// examples built there with find_package and run against the libmodbus server, pkg-config
// answering for it, and every installed binary carrying a versioned SONAME where it should and
// no RUNPATH into the build folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"

namespace plc::test {
namespace {

namespace fs = std::filesystem;

RunResult RunTool(const std::string& program, std::vector<std::string> args, int seconds = 120) {
  return RunProgram(PeerCommand{program, std::move(args), "install cmake, binutils and pkg-config"},
                    std::chrono::seconds(seconds));
}

std::string Dynamic(const fs::path& file) {
  RunResult r = RunTool("readelf", {"-d", file.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

class InstalledPackage : public ::testing::Test {
 protected:
  // A failure here fails every test of the suite: GoogleTest would mark them skipped, and CTest
  // would count a package that does not build as a test that did not run.
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/plclink-install-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      setupFailure_ = "cannot make a folder for the install";
      return;
    }
    root_ = pattern;
    setupFailure_ = Installed();
  }
  void SetUp() override {
    if (!setupFailure_.empty()) FAIL() << setupFailure_;
  }
  // Installs the build to a fresh prefix and builds the examples against it; what failed, or "".
  static std::string Installed() {
    RunResult r = RunTool(PLC_CMAKE_COMMAND, {"--install", PLC_BINARY_DIR, "--prefix", Prefix().string()});
    if (r.exitCode != 0) return "the install failed:\n" + r.out + r.err;
    r = RunTool(PLC_CMAKE_COMMAND,
                {"-S", std::string(PLC_SOURCE_DIR) + "/examples", "-B", (root_ / "examples").string(), "-G",
                 PLC_CMAKE_GENERATOR, "-DCMAKE_PREFIX_PATH=" + Prefix().string(),
                 std::string("-DCMAKE_CXX_COMPILER=") + PLC_CXX_COMPILER,
                 std::string("-DCMAKE_CXX_FLAGS=") + PLC_EXAMPLE_FLAGS,
                 std::string("-DCMAKE_EXE_LINKER_FLAGS=") + PLC_EXAMPLE_FLAGS});
    if (r.exitCode != 0) return "configuring the examples against the install failed:\n" + r.out + r.err;
    r = RunTool(PLC_CMAKE_COMMAND, {"--build", (root_ / "examples").string()}, 300);
    if (r.exitCode != 0) return "building the examples against the install failed:\n" + r.out + r.err;
    return "";
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }
  static fs::path Prefix() { return root_ / "prefix"; }
  static fs::path Example(const char* name) { return root_ / "examples" / name; }

  // An example run as a user would: the plug-ins found from the install alone.
  static RunResult RunExample(const char* name, std::vector<std::string> args) {
    args.insert(args.begin(), {"-u", "QVL_PLUGIN_PATH", Example(name).string()});
    return RunTool("env", std::move(args), 30);
  }

  static fs::path root_;
  static std::string setupFailure_;
};

fs::path InstalledPackage::root_;
std::string InstalledPackage::setupFailure_;

TEST_F(InstalledPackage, ExamplesReadTheLibmodbusServerWaitingAndByEvent) {
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  RunResult r = RunExample("read_registers", {line.PathB(), "1", "9600,n,8,1"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "waiting: 101 202 303 404 505 606 707 808 909 1010\n"
            "event: 101 202 303 404 505 606 707 808 909 1010\n");

  r = RunExample("control_by_name", {"rtulink", line.PathB(), "40003", "2"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  ASSERT_EQ(r.OutLines().size(), 2u) << r.out;
  EXPECT_EQ(r.OutLines()[0].rfind("RtuLink from " + (Prefix() / "lib").string(), 0), 0u) << r.out;
  EXPECT_EQ(r.OutLines()[1], "303 404");

  // A failure reaches the host as a result and a text, not as silence.
  r = RunExample("control_by_name", {"rtulink", line.PathB(), "49005"});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.err.find("ReadPLC: result 0"), std::string::npos) << r.err;
}

// A host copies the examples' failure handling: a unit that never answers is a failure with its
// cause, not a bare result code.
TEST_F(InstalledPackage, ExamplesSayWhyAReadOfASilentUnitFailed) {
  PtyLink line;  // nothing answers on the other end
  RunResult r = RunExample("control_by_name", {"rtulink", line.PathB(), "40001", "2"});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.err.find("no reply from unit 1"), std::string::npos) << r.err;
}

// With the Qt component (PLC_QT): find_package(PlcLink COMPONENTS Qt) builds a Qt host that
// runs RtuLink on Qt's loop; without it, the package has no Qt component and nothing of it.
TEST_F(InstalledPackage, TheQtComponentBuildsAQtHostThatReadsOnQtsLoop) {
  const fs::path host = Example("qt_host");
  if (!PLC_INSTALLS_QT) {
    EXPECT_FALSE(fs::exists(host)) << "no Qt component without PLC_QT";
    EXPECT_FALSE(fs::exists(Prefix() / "lib" / "libplcqt.so"));
    return;
  }
  ASSERT_TRUE(fs::exists(host)) << "examples/qt_host was not built against the installed Qt component";
  EXPECT_TRUE(fs::exists(Prefix() / "include" / "plclink" / "qt" / "RtuLinkObject.h"));
  EXPECT_TRUE(fs::exists(Prefix() / "bin" / "plcpanel"));
  PtyLink line;
  PeerProcess server(RtuServerCommand({line.PathA()}));
  RunResult r = RunTool("env", {"-u", "QVL_PLUGIN_PATH", "QT_QPA_PLATFORM=offscreen", host.string(), line.PathB(), "1",
                                "9600,n,8,1", "--once"},
                        30);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "101 202 303 404\n");
}

// qt_host neither aborts on a device that does not open nor waits in silence for a unit that
// does not answer.
TEST_F(InstalledPackage, TheQtHostSaysWhyItCouldNotRead) {
  if (!PLC_INSTALLS_QT) return;  // no qt_host: the test above checks it is absent
  const fs::path host = Example("qt_host");
  ASSERT_TRUE(fs::exists(host));
  auto run = [&](const std::string& device) {
    return RunTool("env", {"-u", "QVL_PLUGIN_PATH", "QT_QPA_PLATFORM=offscreen", host.string(), device, "1",
                           "9600,n,8,1", "--once"},
                   30);
  };
  RunResult r = run("/dev/plclink-no-such-device");
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("cannot open /dev/plclink-no-such-device"), std::string::npos) << r.err;

  PtyLink silent;
  auto start = std::chrono::steady_clock::now();
  r = run(silent.PathB());
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("no reply from unit 1"), std::string::npos) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

TEST_F(InstalledPackage, LibrariesCarryVersionedNamesAndNoBuildFolderPaths) {
  const fs::path lib = Prefix() / "lib";
  EXPECT_TRUE(fs::is_symlink(lib / "libplcbase.so.1"));
  EXPECT_EQ(fs::read_symlink(lib / "libplcbase.so.1"), "libplcbase.so.1.0.0");
  EXPECT_NE(Dynamic(lib / "libplcbase.so.1.0.0").find("Library soname: [libplcbase.so.1]"), std::string::npos);
  // Plug-ins keep the name hosts load them by, beside their versioned file.
  for (const char* plugin : {"rtulink", "seqlink", "DfLink", "udplink"}) {
    std::string name = std::string("lib") + plugin + ".so";
    ASSERT_TRUE(fs::exists(lib / name)) << name;
    EXPECT_NE(Dynamic(lib / name).find("Library soname: [" + name + ".1]"), std::string::npos) << name;
  }
  int binaries = 0;
  for (const fs::path& folder : {Prefix() / "bin", lib}) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (!entry.is_regular_file() || entry.is_symlink() || entry.path().extension() == ".pc") continue;
      std::string dynamic = Dynamic(entry.path());
      EXPECT_EQ(dynamic.find(PLC_BINARY_DIR), std::string::npos) << entry.path() << "\n" << dynamic;
      EXPECT_EQ(dynamic.find("(RPATH)"), std::string::npos) << entry.path() << " uses RPATH, not RUNPATH";
      ++binaries;
    }
  }
  EXPECT_GE(binaries, 7);  // plclink, plcsim, libplcbase and four plug-ins

  RunResult v = RunTool((Prefix() / "bin" / "plclink").string(), {"--version"});
  EXPECT_EQ(v.exitCode, 0) << v.err;
  EXPECT_EQ(v.out, "plclink 1.0.0\n");
}

TEST_F(InstalledPackage, TheInstalledUdpLinkReachesTheEcomSimulatorThroughTheInstalledHeiPas) {
  const fs::path bin = Prefix() / "bin";
  ASSERT_TRUE(fs::exists(Prefix() / "lib" / "libhei_pas.so"));
  PeerProcess sim(PeerCommand{"env", {"-u", "QVL_PLUGIN_PATH", (bin / "plcsim").string(), "ecom", "--module",
                                      "1:PRESS@28797"}, "build plcsim"});
  auto plclink = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"-u", "QVL_PLUGIN_PATH", "-u", "HEI_PAS_LIBRARY", "HEI_PAS_MODULES=127.0.0.1:28797",
                               (bin / "plclink").string(), "udplink", "--mode", "ECOM"});
    return RunTool("env", std::move(args), 30);
  };
  RunResult r = plclink({"write", "V,2000", "12", "345"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  r = plclink({"read", "V,2000", "2"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "12 345\n");
}

TEST_F(InstalledPackage, TypedHeadersOfAllFourServeAHostThatSetsNoCppStandard) {
  // examples/ sets no C++ standard: the imported targets bring C++20.
  RunResult r = RunExample("typed_hosts", {});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "RtuLink unit 7 mode 2 words 16320 0 read 0: port 1 is not open (set PortOpen to True first)\n"
            "SeqLink mode 2 V2000 is 1024\n"
            "DfLink node 3 mode 2\n"
            "UdpLink timeout 100 mode 3\n");

  // SeqLink and UdpLink read with a literal address into a Variant, which comes back filled,
  // from the installed plcsim's DirectNET station and ECOM module.
  const fs::path bin = Prefix() / "bin";
  PtyLink line;
  PeerProcess station(PeerCommand{"env", {"-u", "QVL_PLUGIN_PATH", (bin / "plcsim").string(), "directnet", "--port",
                                          line.PathA(), "--set", "0400=1234"}, "build plcsim"});
  PeerProcess module(PeerCommand{"env", {"-u", "QVL_PLUGIN_PATH", (bin / "plcsim").string(), "ecom", "--module",
                                         "1:PRESS@0"}, "build plcsim"});
  const std::string modules = module.ReadyLine().substr(module.ReadyLine().find("HEI_PAS_MODULES="));
  r = RunTool("env", {"-u", "QVL_PLUGIN_PATH", "-u", "HEI_PAS_LIBRARY", modules, (bin / "plclink").string(), "udplink",
                      "--mode", "ECOM", "write", "V,2000", "4321"},
              30);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  r = RunTool("env", {"-u", "QVL_PLUGIN_PATH", "-u", "HEI_PAS_LIBRARY", modules, Example("typed_hosts").string(),
                      line.PathB()},
              30);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  ASSERT_EQ(r.OutLines().size(), 6u) << r.out;
  EXPECT_EQ(r.OutLines()[2], "SeqLink read -1: V2000 = 1234");
  EXPECT_EQ(r.OutLines()[5], "UdpLink read -1: V2000 = 4321");
  // One include folder, nothing generic on it: base/ and platform/ live under plclink/ and the
  // headers include each other as <plclink/...>.
  const fs::path include = Prefix() / "include";
  EXPECT_FALSE(fs::exists(include / "base"));
  EXPECT_FALSE(fs::exists(include / "platform"));
  for (const char* header : {"RtuLink.h", "SeqLink.h", "DfLink.h", "UdpLink.h", "platform/Control.h", "platform/EventLoop.h"})
    EXPECT_TRUE(fs::exists(include / "plclink" / header)) << header;
  for (const auto& entry : fs::recursive_directory_iterator(include)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("#include \"", 0) != 0) continue;
      EXPECT_EQ(line.rfind("#include \"plclink/", 0), 0u) << entry.path() << ": " << line;
    }
  }
  std::ifstream targets(Prefix() / "lib" / "cmake" / "PlcLink" / "PlcLinkTargets.cmake");
  std::stringstream text;
  text << targets.rdbuf();
  EXPECT_NE(text.str().find("INTERFACE_COMPILE_FEATURES \"cxx_std_20\""), std::string::npos);
  EXPECT_EQ(text.str().find("include/plclink"), std::string::npos) << "no folder under include/ on the path";
}

// A read the host asked for that fails is a failure of the program, its cause not printed as
// the value read.
TEST_F(InstalledPackage, TypedHostsFailsWhenTheStationDoesNotAnswer) {
  PtyLink silent;
  RunResult r = RunExample("typed_hosts", {silent.PathB()});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  ASSERT_EQ(r.OutLines().size(), 5u) << r.out;
  EXPECT_EQ(r.OutLines()[2].rfind("SeqLink read 0", 0), 0u) << r.out;
  EXPECT_EQ(r.OutLines()[2].find("V2000 ="), std::string::npos) << r.out;
  EXPECT_NE(r.OutLines()[2].find("no answer to the enquiry from station 1"), std::string::npos) << r.out;
}

TEST_F(InstalledPackage, PkgConfigGivesTheBaseLibraryAndHeaders) {
  std::string path = "PKG_CONFIG_PATH=" + (Prefix() / "lib" / "pkgconfig").string();
  RunResult r = RunTool("env", {path, "pkg-config", "--libs", "plclink"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("-lplcbase"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("-L" + Prefix().string()), std::string::npos) << r.out;
  r = RunTool("env", {path, "pkg-config", "--modversion", "plclink"});
  EXPECT_EQ(r.out, "1.0.0\n");
  r = RunTool("env", {path, "pkg-config", "--cflags", "plclink"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // The headers a host names are where the flags point.
  EXPECT_NE(r.out.find("-I" + Prefix().string()), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("include/plclink"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(Prefix() / "include" / "plclink" / "PlcLink.h"));
  EXPECT_FALSE(fs::exists(Prefix() / "include" / "plclink" / "modbus")) << "engine headers are not installed";
}

}  // namespace
}  // namespace plc::test
