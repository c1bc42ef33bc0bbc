#include "platform/SharedLibrary.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "base/RuntimeError.h"
#include "tests/platform/TempFolder.h"

namespace plc {
namespace {

// Sets QVL_PLUGIN_PATH for one test and puts the old value back.
class PluginPath {
 public:
  explicit PluginPath(const std::string& value) {
    if (const char* old = std::getenv("QVL_PLUGIN_PATH")) saved_ = old;
    ::setenv("QVL_PLUGIN_PATH", value.c_str(), 1);
  }
  ~PluginPath() {
    if (saved_) ::setenv("QVL_PLUGIN_PATH", saved_->c_str(), 1);
    else ::unsetenv("QVL_PLUGIN_PATH");
  }

 private:
  std::optional<std::string> saved_;
};

const std::string kBuiltProbe = std::string(PLC_BINARY_DIR) + "/lib/libplcprobe.so";

TEST(SharedLibrary, ABareNameIsFoundThroughThePluginPathFirst) {
  ASSERT_TRUE(std::filesystem::exists(kBuiltProbe)) << "build the plcprobe target";
  testing::TempFolder first, second;
  std::filesystem::copy_file(kBuiltProbe, second.File("libprobecopy.so"));
  // An empty entry and a folder without the library are passed over.
  PluginPath path("::" + first.Path() + ":" + second.Path());

  SharedLibrary lib = SharedLibrary::Open("probecopy");  // lib<name>.so is tried too
  EXPECT_EQ(lib.Path(), second.File("libprobecopy.so"));
  auto add = lib.Function<int(int, int)>("plc_probe_add");
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add(40, 2), 42);
  EXPECT_EQ(lib.Symbol("no_such_function"), nullptr);

  SharedLibrary moved = std::move(lib);
  EXPECT_FALSE(lib.IsOpen());
  EXPECT_EQ(lib.Symbol("plc_probe_add"), nullptr);
  ASSERT_TRUE(moved.IsOpen());
  EXPECT_EQ(moved.Function<int(int, int)>("plc_probe_add")(1, 2), 3);
}

TEST(SharedLibrary, TheBuiltLibraryIsFoundByNameAndByPath) {
  PluginPath path(std::string(PLC_BINARY_DIR) + "/lib");
  SharedLibrary byName = SharedLibrary::Open("libplcprobe.so");
  EXPECT_EQ(byName.Path(), kBuiltProbe);
  SharedLibrary byPath = SharedLibrary::Open(kBuiltProbe);
  auto name = byPath.Function<const char*()>("plc_probe_name");
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name(), "plcprobe");
}

TEST(SharedLibrary, AMissingLibraryIsError53NamingIt) {
  testing::TempFolder empty;
  PluginPath path(empty.Path());
  for (const std::string name : {"hei_pas_not_installed", "/no/such/dir/libhei_pas.so"}) {
    try {
      SharedLibrary::Open(name);
      ADD_FAILURE() << name << " opened";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.Number(), err::FileNotFound);
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
}

TEST(SharedLibrary, AFileThatIsNoLibraryGivesTheLoadersReason) {
  testing::TempFolder dir;
  testing::WriteRaw(dir.File("libbroken.so"), "not an ELF file");
  PluginPath path(dir.Path());
  try {
    SharedLibrary::Open("broken");
    ADD_FAILURE() << "a text file loaded";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::FileNotFound);
    EXPECT_NE(std::string(e.what()).find(dir.File("libbroken.so")), std::string::npos) << e.what();
  }
}

TEST(SharedLibrary, SearchPathIsPluginFoldersThenProgramFolderThenItsLib) {
  PluginPath path("/a:/b");
  auto dirs = LibrarySearchPath();
  ASSERT_EQ(dirs.size(), 4u);
  EXPECT_EQ(dirs[0], "/a");
  EXPECT_EQ(dirs[1], "/b");
  std::string program = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
  EXPECT_EQ(dirs[2], program);
  EXPECT_EQ(dirs[3], (std::filesystem::path(program).parent_path() / "lib").string());
}

}  // namespace
}  // namespace plc
