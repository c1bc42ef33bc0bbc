// The documents the product keeps survive a writer killed at any moment: a child process
// rewrites a document over and over and is killed with SIGKILL after a random pause, again and
// again; every time, the file holds exactly one whole generation of it, the one there before or
// one written after, never a torn mix, and the rest of the file stays byte for byte.
#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "base/RuntimeError.h"
#include "base/Variant.h"
#include "platform/IniPropertyBag.h"
#include "platform/ProfileFile.h"
#include "tests/platform/TempFolder.h"

namespace plc {
namespace {

using testing::FileSizeLimit;
using testing::ReadRaw;
using testing::TempFolder;
using testing::WriteRaw;
using SteadyClock = std::chrono::steady_clock;

// What surrounds the rewritten part: comments and other sections a writer must keep.
const std::string kHead = "; plant settings, kept by hand\n[DatabasePath]\npDatabasePath=/srv/tags\n\n";
const std::string kTail = "\n; the other panel\n[Other]\nCommPort=4\nSettings=\"19200,e,8,1\"\n";

// A value whose length and letters follow its generation, so that a file holding the start of
// one generation and the end of another matches neither.
std::string Body(long generation) {
  std::string s = "g" + std::to_string(generation) + ":";
  const std::size_t blocks = 300 + static_cast<std::size_t>(generation * 7919 % 300);
  s.reserve(64 * blocks + 16);
  for (std::size_t i = 0; i < blocks; ++i) s.append(64, static_cast<char>('a' + (generation + i) % 26));
  return s + ":end";
}

// One kind of document: how a writer writes a generation, and the exact bytes it gives.
struct Document {
  const char* name;
  std::function<std::string(long)> expected;
  std::function<void(const std::string& path, long generation)> write;  // exits 3 on failure
};

std::vector<Document> Documents() {
  auto qvl = [](long g) { return kHead + "[IOType]\nIODevice=" + Body(g) + "\n" + kTail; };
  auto bag = [](long g) {
    return kHead + "[Panel1]\nGeneration=" + std::to_string(g) + "&\nBody=\"" + Body(g) + "\"\n" + kTail;
  };
  return {
      {"a document replaced whole", Body,
       [](const std::string& path, long g) {
         if (!WriteFileAtomically(path, Body(g))) _exit(3);
       }},
      {"QVL.INI", qvl,
       [](const std::string& path, long g) {
         if (!WriteProfileString(path, "IOType", "IODevice", Body(g))) _exit(3);
       }},
      {"a property-bag document", bag,
       [](const std::string& path, long g) {
         try {
           IniPropertyBag bag(path, "Panel1");
           bag.WriteProperty("Generation", Variant(static_cast<std::int32_t>(g)), Variant());
           bag.WriteProperty("Body", Variant(Body(g)), Variant());
           bag.Save();
         } catch (...) {
           _exit(3);
         }
       }},
  };
}

// The generation the file holds, when it is one whole generation; -1 when it is none.
long WholeGeneration(const Document& doc, const std::string& text) {
  auto start = text.find("g");
  while (start != std::string::npos && (start + 1 >= text.size() || !std::isdigit(static_cast<unsigned char>(text[start + 1]))))
    start = text.find("g", start + 1);
  if (start == std::string::npos) return -1;
  long g = std::strtol(text.c_str() + start + 1, nullptr, 10);
  return doc.expected(g) == text ? g : -1;
}

// A child writing generations from `first` on, `count` of them (0: until killed). Returns once
// the child is running.
pid_t StartWriter(const Document& doc, const std::string& path, long first, long count) {
  int started[2];
  if (::pipe(started) != 0) return -1;
  pid_t child = ::fork();
  if (child == 0) {
    ::close(started[0]);
    (void)!::write(started[1], "s", 1);
    for (long g = first; count == 0 || g < first + count; ++g) doc.write(path, g);
    _exit(0);
  }
  ::close(started[1]);
  char byte;
  (void)!::read(started[0], &byte, 1);
  ::close(started[0]);
  return child;
}

// Memory when there is a memory file system: a kill tests a process dying, which the page cache
// outlives, and without a disk's sync in each write the pauses below fall across writes rather
// than into syncs.
std::filesystem::path FastFolder() {
  std::error_code ec;
  if (std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
  return std::filesystem::temp_directory_path();
}

struct KillTally {
  int kills = 0;
  int midWrite = 0;  // kills that left a temporary file: the writer was inside a replace
  int newer = 0;     // kills after which a newer generation was there
};

KillTally KillWritersInALoop(const Document& doc) {
  SCOPED_TRACE(doc.name);
  KillTally tally;
  TempFolder dir(FastFolder());
  EXPECT_FALSE(dir.Path().empty());
  const std::string path = dir.File("doc.ini");
  WriteRaw(path, doc.expected(0));
  EXPECT_EQ(::chmod(path.c_str(), 0640), 0);

  // A few writes' time, so that the pauses before the kills fall across whole writes.
  constexpr long kTimed = 50;
  const auto t0 = SteadyClock::now();
  int status = 0;
  ::waitpid(StartWriter(doc, path, 1, kTimed), &status, 0);
  const auto perWrite = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - t0) / kTimed;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writer failed by itself";
  long last = WholeGeneration(doc, ReadRaw(path));
  EXPECT_EQ(last, kTimed);

  std::mt19937 random(20240611);
  std::uniform_int_distribution<long> pause(0, 4 * perWrite.count());
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(800);
  // On a loaded machine the kills may miss every replace for a while: go on until one hits,
  // within a bound.
  const auto lastChance = SteadyClock::now() + std::chrono::seconds(8);
  auto goOn = [&] {
    const auto now = SteadyClock::now();
    return tally.kills < 20 || (now < deadline && tally.kills < 300) || (tally.midWrite == 0 && now < lastChance);
  };
  while (goOn()) {
    const pid_t child = StartWriter(doc, path, last + 1, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    ++tally.kills;
    if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) {
      ADD_FAILURE() << "the writer failed by itself, status " << status;
      break;
    }
    const std::string text = ReadRaw(path);
    const long found = WholeGeneration(doc, text);
    if (found < last) {
      ADD_FAILURE() << "after kill " << tally.kills << " the file is " << (found < 0 ? "torn" : "older") << " ("
                    << text.size() << " bytes)";
      break;
    }
    tally.newer += found > last;
    tally.midWrite += dir.Count() > 1;
    last = found;
    struct stat st {};
    EXPECT_TRUE(::stat(path.c_str(), &st) == 0 && (st.st_mode & 07777) == 0640) << "the mode survives every rewrite";
  }
  // The next write clears what the killed writers left behind.
  doc.write(path, last + 1);
  EXPECT_EQ(dir.Count(), 1u);
  EXPECT_EQ(WholeGeneration(doc, ReadRaw(path)), last + 1);
  return tally;
}

TEST(AtomicFile, AKilledWriterLeavesTheOldOrTheNewDocumentNeverATornOne) {
  KillTally all;
  for (const Document& doc : Documents()) {
    KillTally t = KillWritersInALoop(doc);
    RecordProperty(std::string(doc.name) + ": kills, during a replace, after a newer write",
                   std::to_string(t.kills) + ", " + std::to_string(t.midWrite) + ", " + std::to_string(t.newer));
    all.kills += t.kills;
    all.midWrite += t.midWrite;
    all.newer += t.newer;
    // Writes must have completed between the kills, or the loop proved nothing.
    EXPECT_GT(t.newer, 0) << doc.name << ": " << t.kills << " kills, no write ever completed";
  }
  // And kills must have hit replaces in progress.
  EXPECT_GT(all.midWrite, 0) << all.kills << " kills, none during a replace";
}

TEST(AtomicFile, OnlyTheTemporaryFilesOfWritersThatAreGoneAreRemoved) {
  TempFolder dir;
  const std::string path = dir.File("QVL.INI");
  pid_t gone = ::fork();
  if (gone == 0) _exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string prefix = AtomicTempPrefix("QVL.INI");
  EXPECT_EQ(prefix, ".QVL.INI.tmp");
  const std::string deadTemp = dir.File(prefix + std::to_string(gone) + "-17");
  const std::string liveTemp = dir.File(prefix + std::to_string(::getppid()) + "-17");
  const std::string otherFile = dir.File(".QVL.INI.tmpnotes");
  // Tagged names: the id of a writer on another host or in another container says nothing here.
  const std::string tag = AtomicTempWriterTag();
  ASSERT_EQ(tag.size(), 8u);
  const std::string deadTagged = dir.File(prefix + std::to_string(gone) + "@" + tag + "-17");
  const std::string foreignTagged = dir.File(prefix + std::to_string(gone) + "@" + (tag == "00000000" ? "00000001" : "00000000") + "-17");
  for (const auto& p : {deadTemp, liveTemp, otherFile, deadTagged, foreignTagged}) WriteRaw(p, "half a docu");
  ASSERT_TRUE(WriteFileAtomically(path, "[IOType]\nIODevice=Modbus\n"));
  EXPECT_FALSE(std::filesystem::exists(deadTemp));
  EXPECT_FALSE(std::filesystem::exists(deadTagged));
  EXPECT_TRUE(std::filesystem::exists(foreignTagged)) << "another namespace's writer may be running";
  EXPECT_TRUE(std::filesystem::exists(liveTemp)) << "its writer may still rename it";
  EXPECT_TRUE(std::filesystem::exists(otherFile));
  EXPECT_EQ(ReadRaw(path), "[IOType]\nIODevice=Modbus\n");
}

TEST(AtomicFile, AFailedWriteSaysWhyAndLeavesNothingBehind) {
  TempFolder dir;
  const std::string path = dir.File("form.ini");
  WriteRaw(path, "[A]\nx=1\n");
  errno = 0;
  bool written = true;
  {
    FileSizeLimit limit(4);
    written = WriteFileAtomically(path, "[A]\nx=2\n");
  }
  const int why = errno;
  EXPECT_FALSE(written);
  EXPECT_EQ(why, EFBIG);
  EXPECT_EQ(ReadRaw(path), "[A]\nx=1\n");
  EXPECT_EQ(dir.Count(), 1u);

  // The property bag passes the reason on to its caller.
  IniPropertyBag bag(path, "A");
  bag.WriteProperty("x", Variant(std::int16_t{2}), Variant());
  std::string text;
  {
    FileSizeLimit limit(4);
    try {
      bag.Save();
    } catch (const RuntimeError& e) {
      text = e.what();
    }
  }
  EXPECT_NE(text.find(std::strerror(EFBIG)), std::string::npos) << text;

  ASSERT_EQ(::mkdir(dir.File("folder").c_str(), 0755), 0);
  EXPECT_FALSE(WriteFileAtomically(dir.File("folder"), "x"));
  EXPECT_EQ(errno, EINVAL);
}

}  // namespace
}  // namespace plc
