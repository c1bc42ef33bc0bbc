// serve answers what comes after it opened the line, not requests queued on the line before.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

#include "modbus/Frame.h"
#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"

namespace plc::test {
namespace {

using modbus::Adu;
using modbus::Framing;

TEST(PlclinkServe, RequestsWaitingBeforeTheLineOpenedAreDropped) {
  Pty line;
  // A master that gave up long ago: its write waits in the line's input.
  line.Write(modbus::BuildFrame(Adu{1, 6, {0, 0, 0, 111}}, Framing::Rtu));
  PeerProcess serve(PlclinkCommand({"rtulink", "--port", line.DevicePath(), "--address", "1", "serve", "--times", "1"}));
  EXPECT_TRUE(line.ReadUntilQuiet(std::chrono::milliseconds(300)).empty()) << "the stale request was answered";
  line.Write(modbus::BuildFrame(Adu{1, 3, {0, 0, 0, 1}}, Framing::Rtu));
  PtyBytes reply = line.Read(7);
  EXPECT_EQ(reply, modbus::BuildFrame(Adu{1, 3, {2, 0, 0}}, Framing::Rtu)) << "40001 still holds 0";
  std::string served = serve.WaitForLine("20", std::chrono::seconds(5));
  EXPECT_NE(served.find("holding registers 40001 read: 0"), std::string::npos) << served;
  EXPECT_EQ(serve.Stop() , 0);
}

TEST(PlclinkServe, AShellsServeLineAnswersAsASlaveAndLeavesTheControlAMaster) {
  Pty line;
  PeerProcess shell(PeerCommand{"/bin/sh",
                                {"-c", "exec \"$0\" rtulink --port \"$1\" shell <<END\nserve --times 1\nget ModBusMode\nEND\n",
                                 PLC_PLCLINK, line.DevicePath()},
                                "a POSIX shell"});
  line.Write(modbus::BuildFrame(Adu{1, 3, {0, 0, 0, 1}}, Framing::Rtu));
  PtyBytes reply = line.Read(7);
  EXPECT_EQ(reply, modbus::BuildFrame(Adu{1, 3, {2, 0, 0}}, Framing::Rtu)) << "the shell's serve answered nothing";
  EXPECT_NE(shell.WaitForLine("20", std::chrono::seconds(5)).find("holding registers 40001 read: 0"), std::string::npos);
  EXPECT_EQ(shell.WaitForLine("1", std::chrono::seconds(5)), "1") << "ModBusMode Rtu again for the next lines";
  const int status = shell.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// serve blocks SIGINT and SIGTERM to stop between two events; at the shell's prompt afterwards
// they end the shell as they did before the line, instead of waiting blocked to stop the next
// poll or serve at its start.
TEST(PlclinkServe, AfterAShellsServeLineASignalAtThePromptEndsTheShell) {
  Pty line;
  PeerProcess shell(PeerCommand{"/bin/sh", {"-c", "echo READY; exec \"$0\" rtulink --port \"$1\" shell", PLC_PLCLINK,
                                            line.DevicePath()},
                                "a POSIX shell"});
  shell.SendLine("serve --times 1");
  shell.WaitForLine("READY serving", std::chrono::seconds(5));
  line.Write(modbus::BuildFrame(Adu{1, 3, {0, 0, 0, 1}}, Framing::Rtu));
  EXPECT_EQ(line.Read(7), modbus::BuildFrame(Adu{1, 3, {2, 0, 0}}, Framing::Rtu));
  shell.WaitForLine("20", std::chrono::seconds(5));
  shell.SendLine("get ModBusMode");  // the serve line has ended when this is answered
  EXPECT_EQ(shell.WaitForLine("1", std::chrono::seconds(5)), "1");
  ::kill(shell.Pid(), SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (shell.Running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(shell.Running()) << "SIGTERM at the prompt stayed blocked after serve";
  const int status = shell.Stop();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

}  // namespace
}  // namespace plc::test
