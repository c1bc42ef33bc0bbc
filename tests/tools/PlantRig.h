#pragma once
// The simulated plant of examples/plant for tests of the built gateway: the shipped plant
// document and databases copied into a fresh folder (the history is written there), the
// Modbus slave as `plclink rtulink serve` on a pseudo-terminal line, the DirectNET station and
// the DF1 PLC on lines of their own, and the ECOM module on loopback, each holding the values
// the demo gives them. CommPort 1..3 and the module list reach the gateway through the
// environment it inherits.
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "logger/SqliteHistory.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"
#include "tools/plcsim/Df1Simulator.h"
#include "tools/plcsim/DirectNetSimulator.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc::test {

struct PlantRig {
  PlantRig() {
    for (const char* file : {"plant.ini", "tags.csv", "scan.csv"})
      std::filesystem::copy_file(std::string(PLC_SOURCE_DIR) + "/examples/plant/" + file, folder.File(file));
    slave = std::make_unique<PeerProcess>(PlclinkCommand(
        {"rtulink", "--port", modbus.PathA(), "--settings", "19200,n,8,1", "--address", "1", "serve", "--set",
         "40001=215", "--set", "40002=1234", "--set", "40003=220", "--set", "40004=1500", "--set", "00001=1"}));
    line = std::make_unique<sim::DirectNetSimulator>(sim::DirectNetOptions{dnet.PathA(), {1}, "9600,n,8,1"});
    line->SetWord(1, 0x0400, 0x0120);  // Line.Speed 120 (BCD)
    line->SetWord(1, 0x0401, 5000);
    packer = std::make_unique<sim::Df1Simulator>(sim::Df1SimOptions{df1.PathA()});
    packer->Plc().Table().SetWords(7, 0, {42, 17});
    packer->Plc().Table().SetWords(8, 0, {0x0000, 0x4148});  // F8:0 = 12.5
    oven = std::make_unique<sim::EcomModuleSim>(std::vector<sim::EcomModuleConfig>{{1, "OVEN", 0}});
    oven->SetWord(1, 1024, 1805);
    oven->SetWord(1, 1025, 1800);
    oven->SetWord(1, 1026, 65);
    oven->Start();
    ::setenv("QVL_COM1", modbus.PathB().c_str(), 1);
    ::setenv("QVL_COM2", dnet.PathB().c_str(), 1);
    ::setenv("QVL_COM3", df1.PathB().c_str(), 1);
    ::setenv("HEI_PAS_MODULES", oven->ModuleList().c_str(), 1);
  }
  ~PlantRig() {
    for (const char* v : {"QVL_COM1", "QVL_COM2", "QVL_COM3", "HEI_PAS_MODULES"}) ::unsetenv(v);
  }

  // The gateway on this plant, running once it printed READY.
  std::unique_ptr<PeerProcess> Gateway(std::vector<std::string> options = {}) {
    std::vector<std::string> args{"gateway", folder.File("plant.ini")};
    args.insert(args.end(), options.begin(), options.end());
    return std::make_unique<PeerProcess>(PlclinkCommand(args), std::chrono::seconds(20));
  }
  // Ctrl-C, then the summary's last line.
  static std::string Interrupt(PeerProcess& gateway) {
    ::kill(gateway.Pid(), SIGINT);
    const std::string last = gateway.WaitForLine("  database:", std::chrono::seconds(10));
    gateway.Stop();
    return last;
  }

  std::string Db() const { return folder.File("plant.db"); }
  std::int64_t Count(const std::string& sql) const {
    logger::SqliteFile file(Db(), true);
    logger::Statement q(file, sql.c_str());
    return q.Step() ? q.Int(0) : -1;
  }

  testing::TempFolder folder;
  PtyLink modbus, dnet, df1;
  std::unique_ptr<PeerProcess> slave;
  std::unique_ptr<sim::DirectNetSimulator> line;
  std::unique_ptr<sim::Df1Simulator> packer;
  std::unique_ptr<sim::EcomModuleSim> oven;
};

}  // namespace plc::test
