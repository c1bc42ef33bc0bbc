// A write's acknowledgement, in RTU and in ASCII, with each of its bytes flipped a bit at a
// time or dropped, lost whole, or arriving after the master gave up: a write reported done is in
// the slave's registers, a failed one says why, and the line is free for the next write and
// read, which take their own answers.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "modbus/AsciiFrame.h"
#include "tests/modbus/MasterRig.h"
#include "tests/support/AnswerMishaps.h"

namespace plc::modbus::testing {
namespace {

using plc::test::Harm;
using plc::test::Mishap;

// A slave of holding registers and coils that carries out what reaches it intact and answers;
// its first answer meets the mishap.
struct Slave {
  bool ascii = false;
  std::map<int, int> regs;
  std::map<int, int> coils;
  std::optional<Mishap> mishap;

  Bytes Frame(const Adu& adu) const { return ascii ? BuildAsciiFrame(adu) : BuildRtuFrame(adu); }

  Bytes Serve(const Bytes& request) {
    const ParsedFrame f = ascii ? ParseAsciiFrame(ByteView(request)) : ParseRtuFrame(ByteView(request));
    if (!f) return {};
    const Bytes& d = f.adu.data;
    const int start = d[0] << 8 | d[1];
    const int n = d[2] << 8 | d[3];
    switch (f.adu.function) {
      case 3: {
        Bytes out{static_cast<std::uint8_t>(2 * n)};
        for (int i = 0; i < n; ++i) {
          out.push_back(static_cast<std::uint8_t>(regs[start + i] >> 8));
          out.push_back(static_cast<std::uint8_t>(regs[start + i] & 0xFF));
        }
        return Frame(Adu{f.adu.unit, 3, out});
      }
      case 5: coils[start] = n == 0xFF00; break;
      case 6: regs[start] = n; break;
      case 15:
        for (int i = 0; i < n; ++i) coils[start + i] = d[5 + i / 8] >> (i % 8) & 1;
        break;
      case 16:
        for (int i = 0; i < n; ++i) regs[start + i] = d[5 + 2 * i] << 8 | d[6 + 2 * i];
        break;
      default: return {};
    }
    return Frame(Adu{f.adu.unit, f.adu.function, Bytes(d.begin(), d.begin() + 4)});
  }
};

void Wire(MasterRig& rig, Slave& slave) {
  rig.port.OnSent = [&rig, &slave](const Bytes& chunk) {
    rig.requests.push_back(chunk);
    Bytes reply = slave.Serve(chunk);
    if (reply.empty()) return;
    if (const auto m = std::exchange(slave.mishap, std::nullopt)) {
      switch (m->harm) {
        case Harm::Flip: reply[m->at] ^= static_cast<std::uint8_t>(1u << m->bit); break;
        case Harm::Drop: reply.erase(reply.begin() + static_cast<std::ptrdiff_t>(m->at)); break;
        case Harm::Lose: return;
        case Harm::Late: rig.port.InjectAt(rig.loop.Now() + 2'500'000, reply); return;
      }
    }
    rig.port.Inject(reply);
  };
}

struct Write {
  const char* what;
  const char* address;
  std::vector<double> values;
  std::vector<double> next;  // a second write there, of other values
};

TEST(MasterAckSweep, AWriteReportedDoneIsCarriedOutAndAFailedOneSaysWhy) {
  const std::vector<Write> writes = {
      {"one register", "40011", {42}, {43}},
      {"registers", "40011", {1, 2, 3}, {4, 5, 6}},
      {"one coil", "00011", {1}, {0}},
      {"coils", "00011", {1, 0, 1}, {0, 1, 0}},
  };
  for (bool ascii : {false, true}) {
    for (const Write& w : writes) {
      Slave probe;
      probe.ascii = ascii;
      const std::size_t size = probe.Frame(Adu{1, 6, Bytes(4)}).size();
      const bool coils = w.address[0] == '0';
      for (const Mishap& m : plc::test::MishapsOf({size})) {
        SCOPED_TRACE(std::string(ascii ? "ASCII " : "RTU ") + w.what + ": " + m.Name());
        MasterRig rig;
        if (ascii) rig.master.SetModBusMode(rtu::Ascii);
        Slave slave;
        slave.ascii = ascii;
        slave.mishap = m;
        Wire(rig, slave);
        auto held = [&](const std::vector<double>& values) {
          for (std::size_t i = 0; i < values.size(); ++i) {
            const int at = 10 + static_cast<int>(i);
            if ((coils ? slave.coils[at] : slave.regs[at]) != static_cast<int>(values[i])) return false;
          }
          return true;
        };
        if (rig.WritePLC(w.address, w.values) == ResultOk) {
          EXPECT_TRUE(held(w.values));
        } else {
          EXPECT_NE(rig.master.Cause(), "");
        }
        rig.loop.RunFor(3'000'000);
        rig.master.ReplyWatchdog();
        rig.loop.RunFor(1'100'000);
        EXPECT_FALSE(rig.master.CommBusy());
        EXPECT_EQ(rig.WritePLC(w.address, w.next), ResultOk) << rig.master.Cause();
        EXPECT_TRUE(held(w.next));
        slave.regs[0] = 77;
        VariantArray v(1, 1, VarType::Double);
        EXPECT_EQ(rig.ReadPLC("40001", v, 1), ResultOk) << rig.master.Cause();
        EXPECT_EQ(v.Get(1).ToInt32(), 77);
      }
    }
  }
}

}  // namespace
}  // namespace plc::modbus::testing
