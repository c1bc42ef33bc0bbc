// Each plug-in's control on a real tty line (a pseudo-terminal), through its default termios
// port and dispatch only: PortOpen opens the device mapped to CommPort with the settings
// applied, raw text goes out byte for byte and comes back through ReceiveComm, ClearCommPort
// discards what waits, and a far end that hangs up neither crashes nor hangs the control.
#include <gtest/gtest.h>
#include <termios.h>

#include "platform/PluginControl.h"
#include "platform/ComponentHost.h"
#include "platform/EventLoop.h"
#include "tests/support/Pty.h"

namespace plc {
namespace {

constexpr int kCommPort = 9;

class PluginLine : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    control_->SetHost(&host_);
    control_->InitProperties();
    if (std::string(GetParam()) == "udplink") control_->SetProperty("CommMode", std::int32_t{1});  // serial path
  }

  // Collects ReceiveComm text until `expected` has come or five seconds have passed.
  std::string ReceiveUntil(const std::string& expected) {
    std::string got;
    EventLoop& loop = EventLoop::Current();
    loop.WaitUntil(
        [&] {
          got += control_->Invoke("ReceiveComm", {}).ToString();
          return got.size() >= expected.size();
        },
        loop.Now() + 5'000'000);
    return got;
  }

  test::Pty pty_;
  test::ScopedCommPort mapping_{kCommPort, pty_.DevicePath()};
  StandaloneHost host_;
  PluginControl control_ = PluginControl::Load(GetParam());
};

TEST_P(PluginLine, RawTextOverAPseudoTerminal) {
  control_->SetProperty("CommPort", std::int16_t{kCommPort});
  control_->SetProperty("Settings", "19200,n,8,2");
  control_->SetProperty("PortOpen", true);
  termios line = pty_.DeviceTermios();
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
  EXPECT_TRUE(line.c_cflag & CSTOPB);  // a pty keeps 8 data bits and no parity, whatever is asked

  const std::string hello("hello\0\xff", 7);
  pty_.Write(test::PtyBytes(hello.begin(), hello.end()));
  EXPECT_EQ(ReceiveUntil(hello), hello);

  pty_.Write("junk");
  EventLoop::Current().RunFor(100'000);
  control_->Invoke("ClearCommPort", {});
  pty_.Write("after");
  EXPECT_EQ(ReceiveUntil("after"), "after") << "what waited before ClearCommPort is gone";

  Variant text(std::string("PING\x00\x7f\r\n", 8));
  control_->Invoke("SendToComm", {&text});
  EXPECT_EQ(pty_.ReadText(8), text.ToString());

  pty_.CloseFar();
  EventLoop::Current().RunFor(300'000);
  try {
    control_->Invoke("ReceiveComm", {});
  } catch (const RuntimeError&) {
    // a port that noticed the hang-up may refuse; it must not crash or block
  }
  EXPECT_NO_THROW(control_->SetProperty("PortOpen", false));
}

TEST_P(PluginLine, AMissingDeviceGivesAnErrorAndLeavesThePortClosed) {
  test::ScopedCommPort missing(kCommPort + 1, "/dev/no-such-tty");
  control_->SetProperty("CommPort", std::int16_t{kCommPort + 1});
  EXPECT_THROW(control_->SetProperty("PortOpen", true), RuntimeError);
  EXPECT_EQ(control_->GetProperty("PortOpen").ToBool(), false);
  EXPECT_TRUE(host_.ChangedKeys().back() != "PortOpen");
}

INSTANTIATE_TEST_SUITE_P(Plugins, PluginLine, ::testing::Values("rtulink", "seqlink", "DfLink", "udplink"));

}  // namespace
}  // namespace plc
