// The harness that starts the peers: a missing or broken peer fails loudly with what to
// install, a peer that will not stop is still ended within bounded time, and lines are kept
// for the caller that asks for them.
#include "tests/support/PeerProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>

namespace plc::test {
namespace {

using std::chrono::milliseconds;

PeerCommand Shell(const std::string& script, std::string hint = "install a shell") {
  return PeerCommand{"/bin/sh", {"-c", script}, std::move(hint)};
}

std::string ErrorOf(const PeerCommand& command, milliseconds readyTimeout = milliseconds(2000)) {
  try {
    PeerProcess peer(command, readyTimeout);
  } catch (const PeerError& e) {
    return e.what();
  }
  return "";
}

TEST(PeerProcess, MissingOrFailingPeersThrowWithTheirInstallHint) {
  EXPECT_NE(ErrorOf({"no-such-peer-program", {}, "install no-such-package"}).find("install no-such-package"), std::string::npos);
  EXPECT_NE(ErrorOf({"/nonexistent/peer", {}, "install x"}).find("install x"), std::string::npos);
  std::string early = ErrorOf(Shell("echo 'ERROR install python3-pymodbus'; exit 3", "install python3-pymodbus"));
  EXPECT_NE(early.find("ended its output"), std::string::npos) << early;
  EXPECT_NE(early.find("ERROR install python3-pymodbus"), std::string::npos) << early;
  EXPECT_NE(ErrorOf(Shell("exec sleep 5"), milliseconds(200)).find("timed out"), std::string::npos);
  EXPECT_THROW(RunProgram({"no-such-peer-program", {}, "install it"}, milliseconds(1000)), PeerError);
}

TEST(PeerProcess, LinesAreMatchedByPrefixAndTheOthersKeptInOrder) {
  PeerProcess peer(Shell("echo READY now; echo one; echo two; echo FAULT x; while read l; do echo \"got $l\"; done"));
  EXPECT_EQ(peer.ReadyLine(), "READY now");
  EXPECT_EQ(peer.WaitForLine("FAULT", milliseconds(2000)), "FAULT x");
  EXPECT_EQ(peer.ReadLine(milliseconds(2000)), "one");
  EXPECT_EQ(peer.Request("hello", "got"), "got hello");
  EXPECT_EQ(peer.ReadLine(milliseconds(2000)), "two");
  EXPECT_EQ(peer.ReadLine(milliseconds(50)), std::nullopt);
  int status = peer.Stop();  // end of input ends the loop
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(peer.Running());
}

TEST(PeerProcess, StopEndsAPeerThatIgnoresEndOfInputAndSigterm) {
  PeerProcess peer(Shell("trap '' TERM; echo READY; exec sleep 30"));
  EXPECT_TRUE(peer.Running());
  const auto start = std::chrono::steady_clock::now();
  int status = peer.Stop(milliseconds(100));
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(5000));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_THROW(peer.SendLine("late"), PeerError);
}

TEST(PeerProcess, RunProgramCapturesBothStreamsAndKillsOnTimeout) {
  RunResult done = RunProgram(Shell("echo out1; echo err >&2; echo out2; exit 4"), milliseconds(5000));
  EXPECT_EQ(done.exitCode, 4);
  EXPECT_FALSE(done.timedOut);
  EXPECT_EQ(done.OutLines(), (std::vector<std::string>{"out1", "out2"}));
  EXPECT_EQ(done.err, "err\n");

  RunResult hung = RunProgram(Shell("echo started; exec sleep 30"), milliseconds(200));
  EXPECT_TRUE(hung.timedOut);
  EXPECT_EQ(hung.exitCode, -1);
  EXPECT_EQ(hung.out, "started\n");
}

}  // namespace
}  // namespace plc::test
