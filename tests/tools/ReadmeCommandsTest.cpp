// Every shell block of the README, pasted into bash as a reader would, against the simulators:
// each command must succeed (the block runs under `set -e`). A block whose commands need a PLC
// on a serial device says so in the comment line before it,
//   <!-- paste-test: sim=modbus@/dev/ttyUSB0 sim=df1@/dev/ttyUSB1 -->   a simulated PLC there
//   <!-- paste-test: master=/dev/ttyUSB0 -->    a Modbus master sending requests there
//   <!-- paste-test: skip=REASON -->            not run (builds, installs, long benchmarks)
// and the device is replaced by one end of a pseudo-terminal line whose other end has it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "modbus/Frame.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"

namespace plc::test {
namespace {

struct Block {
  int line = 0;            // of the opening fence, 1-based
  std::string marker;      // what follows "paste-test:", or empty
  std::string text;
};

std::vector<Block> ShellBlocks(const std::string& path) {
  std::ifstream in(path);
  std::vector<Block> blocks;
  std::string line, previous;
  int number = 0;
  bool inside = false, shell = false;
  Block current;
  while (std::getline(in, line)) {
    ++number;
    if (!inside && line.rfind("```", 0) == 0) {
      inside = true;
      shell = line == "```sh";
      current = Block{number, {}, {}};
      const std::string tag = "<!-- paste-test:";
      if (previous.rfind(tag, 0) == 0) {
        current.marker = previous.substr(tag.size(), previous.rfind("-->") - tag.size());
      }
    } else if (inside && line.rfind("```", 0) == 0) {
      inside = false;
      if (shell) blocks.push_back(current);
    } else if (inside) {
      current.text += line + "\n";
    }
    previous = line;
  }
  return blocks;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// A Modbus master on a device: sends a read of 40001 every 300 ms until `wanted` replies came
// (a slave that has not opened its port yet drops what came before).
class RequestingMaster {
 public:
  RequestingMaster(Pty& pty, int wanted)
      : thread_([this, &pty, wanted] {
          const modbus::Bytes request = modbus::BuildFrame(modbus::Adu{1, 3, {0, 0, 0, 1}}, modbus::Framing::Rtu);
          auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
          while (replies_ < wanted && !stop_ && std::chrono::steady_clock::now() < deadline) {
            pty.Write(request);
            if (pty.Read(7, std::chrono::milliseconds(300)).size() == 7) ++replies_;
          }
        }) {}
  ~RequestingMaster() {
    stop_ = true;
    thread_.join();
  }
  int Replies() const { return replies_; }

 private:
  std::atomic<int> replies_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(ReadmeCommands, EveryShellBlockRunsWhenPasted) {
  const std::string readme = std::string(PLC_SOURCE_DIR) + "/README.md";
  std::vector<Block> blocks = ShellBlocks(readme);
  ASSERT_GE(blocks.size(), 8u) << "the README's shell blocks were not found";
  LocateProgram("socat", "install socat (scripts/deps.sh does)");
  int ran = 0;
  for (const Block& block : blocks) {
    std::vector<std::string> words = Words(block.marker);
    bool skip = false;
    std::string script = "set -e\nexport PATH=\"" + std::string(PLC_BINARY_DIR) + "/bin:$PATH\"\n" +
                         "cd \"$(mktemp -d)\"\ntrap 'set +e; jobs -p | xargs -r kill 2>/dev/null; wait 2>/dev/null; true' EXIT\n";
    std::string text = block.text;
    std::vector<std::unique_ptr<PtyLink>> lines;
    std::unique_ptr<Pty> masterLine;
    std::unique_ptr<RequestingMaster> master;
    std::string ready;
    for (const std::string& w : words) {
      if (w.rfind("skip=", 0) == 0) skip = true;
      if (w.rfind("sim=", 0) == 0) {
        std::size_t at = w.find('@');
        std::string kind = w.substr(4, at - 4), device = w.substr(at + 1);
        lines.push_back(std::make_unique<PtyLink>());
        const std::string a = lines.back()->PathA();
        std::string start = kind == "modbus"         ? "plcsim modbus --port " + a + " --set 40001=101 --set 40002=202"
                            : kind == "modbus-ascii" ? "plcsim modbus --mode ascii --port " + a
                            : kind == "directnet"    ? "plcsim directnet --port " + a + " --station 1 --set 0400=12"
                            : kind == "df1"          ? "plcsim df1 --port " + a
                                                     : "";
        ASSERT_FALSE(start.empty()) << "README line " << block.line << ": no simulator '" << kind << "'";
        // Each simulator says "serving" once its port is open; the block waits for that, not
        // for a fixed time, which a loaded machine outlasts.
        const std::string log = "sim" + std::to_string(lines.size()) + ".log";
        script += start + " >" + log + " 2>&1 &\n";
        ready += "for i in $(seq 300); do grep -q serving " + log + " && break; sleep 0.05; done\n";
        ReplaceAll(text, device, lines.back()->PathB());
      }
      if (w.rfind("master=", 0) == 0) {
        masterLine = std::make_unique<Pty>();
        ReplaceAll(text, w.substr(7), masterLine->DevicePath());
      }
    }
    if (skip) continue;
    script += ready;
    if (masterLine) master = std::make_unique<RequestingMaster>(*masterLine, 3);
    script += "set -x\n" + text;
    RunResult r = RunProgram(PeerCommand{"/bin/bash", {"-c", script}, "bash"}, std::chrono::seconds(90));
    EXPECT_EQ(r.exitCode, 0) << "README line " << block.line << ":\n" << block.text << "--- stdout:\n"
                             << r.out << "--- stderr:\n" << r.err;
    ++ran;
  }
  EXPECT_GE(ran, 6);
}

}  // namespace
}  // namespace plc::test
