// The built `plclink gateway` on the simulated plant of examples/plant: values of all four
// controls on their MQTT topics and in SQLite, writes through the write queue, a broker killed
// and restarted, a line that goes silent, and a gateway killed mid-run. Each runs the gateway
// for a few seconds of real time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "logger/TimeText.h"
#include "tests/support/MqttBroker.h"
#include "tests/tools/PlantRig.h"

namespace plc::test {
namespace {

using namespace std::chrono_literals;

// The value of the latest message on the tag's topic, waited for up to the limit.
std::optional<nlohmann::json> Latest(MqttTestClient& client, const std::string& tag, std::chrono::milliseconds limit,
                                     const std::function<bool(const nlohmann::json&)>& wanted = nullptr) {
  std::optional<nlohmann::json> found;
  client.Wait(
      [&] {
        for (auto it = client.Locked().rbegin(); it != client.Locked().rend(); ++it) {
          if (it->topic != "plant/" + tag) continue;
          auto j = nlohmann::json::parse(it->payload);
          if (!wanted || wanted(j)) found = j;
          break;
        }
        return found.has_value();
      },
      limit);
  return found;
}

TEST(Gateway, ValuesOfAllFourControlsArriveOnTheirTopicsAndInTheHistory) {
  PlantRig plant;
  MqttBroker broker;
  MqttTestClient client(broker.Port(), "plant/#");
  auto gateway = plant.Gateway({"--mqtt", broker.Address()});
  struct Want {
    const char* tag;
    double value;
    const char* unit;
  };
  for (const Want& w : {Want{"Press.Pressure", 12.34, "bar"}, Want{"Press.Running", 1, ""},
                        Want{"Line.Speed", 120, "m/min"}, Want{"Packer.Boxes", 42, ""},
                        Want{"Packer.Weight", 12.5, "kg"}, Want{"Oven.Temperature", 180.5, "°C"}}) {
    const auto got = Latest(client, w.tag, 10s);
    ASSERT_TRUE(got) << w.tag << " never arrived";
    EXPECT_NEAR((*got)["value"].get<double>(), w.value, 1e-9) << w.tag;
    EXPECT_EQ((*got)["unit"], w.unit) << w.tag;
    EXPECT_EQ((*got)["quality"], "good") << w.tag;
  }
  PlantRig::Interrupt(*gateway);
  for (const char* tag : {"Press.Pressure", "Line.Count", "Packer.Rate", "Oven.Fan"}) {
    EXPECT_GT(plant.Count(std::string("SELECT count(*) FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.name='") +
                          tag + "' AND s.quality='good'"),
              0)
        << tag;
  }
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures"), 0);
}

TEST(Gateway, ASetWritesAWritableTagAndARefusedOneIsLogged) {
  PlantRig plant;
  MqttBroker broker;
  MqttTestClient client(broker.Port(), "plant/#");
  // Left on the broker by an earlier client: replayed at the gateway's subscription, never written.
  client.Publish("plant/Press.Setpoint/set", "55", /*retain=*/true);
  auto gateway = plant.Gateway({"--mqtt", broker.Address()});
  ASSERT_TRUE(Latest(client, "Line.Speed", 10s)) << "the gateway is publishing";
  client.Publish("plant/Line.Speed/set", "150");
  client.Publish("plant/Line.Count/set", "{\"value\": 7}");
  client.Publish("plant/Packer.Boxes/set", "{\"value\": 99}");
  client.Publish("plant/Oven.Setpoint/set", "oops");
  client.Publish("plant/Line.Speed/set", std::string(300, '1'));
  client.Publish("plant/No.Tag/set", "\x1b]0;x\x07");
  const auto speed = Latest(client, "Line.Speed", 10s, [](const nlohmann::json& j) { return j["value"] == 150; });
  ASSERT_TRUE(speed) << "the station's new value read back";
  EXPECT_EQ(plant.line->Word(1, 0x0400), 0x0150) << "written as BCD";
  EXPECT_EQ(plant.line->Word(1, 0x0401), 5000) << "a read-only tag is not written";
  ASSERT_TRUE(Latest(client, "Packer.Boxes", 10s, [](const nlohmann::json& j) { return j["value"] == 99; }));
  EXPECT_EQ(plant.packer->Plc().Table().Word(7, 0), 99);
  const auto setpoint = Latest(client, "Press.Setpoint", 10s);
  ASSERT_TRUE(setpoint);
  EXPECT_NEAR((*setpoint)["value"].get<double>(), 22.0, 1e-9) << "the retained set was not written";
  PlantRig::Interrupt(*gateway);
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='refused' AND text LIKE "
                        "'set of Press.Setpoint to ''55'' refused: retained set ignored%'"),
            1);
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='refused' AND text LIKE "
                        "'set of Line.Count to ''{\"value\": 7}'' refused: Line.Count is not writable'"),
            1);
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='refused' AND text LIKE "
                        "'set of Oven.Setpoint%the payload is no number%'"),
            1);
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='refused' AND text = 'set of Line.Speed to ''" +
                        std::string(40, '1') + "...'' refused: the payload has 300 bytes, more than the 256 a set may have'"),
            1);
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='refused' AND text = "
                        "'set of No.Tag to ''\\x1B]0;x\\x07'' refused: no such tag'"),
            1)
      << "control bytes shown, never stored raw";
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE instr(text, char(27)) > 0"), 0);
}

// A gateway publishing to a broker, its first value of Line.Speed seen, and then the Line's
// station silent: the sets that follow are never acknowledged.
struct SilentLineGateway {
  PlantRig plant;
  MqttBroker broker;
  MqttTestClient client{broker.Port(), "plant/#"};
  std::unique_ptr<PeerProcess> gateway = plant.Gateway({"--mqtt", broker.Address(), "--commit-ms", "200"});

  bool Start() {
    if (!Latest(client, "Line.Speed", 10s)) return false;
    plant.line->SetFault(sim::StationFault::NoAnswer);
    return true;
  }
  // Publishes a set the gateway refuses at once: the broker hands the sets of a topic over in
  // order, so once its refusal is logged every set published before it has reached the gateway.
  bool SetsBeforeHaveArrived() {
    client.Publish("plant/Line.Speed/set", "oops");
    const std::string refused = "SELECT count(*) FROM failures WHERE kind='refused' AND text LIKE "
                                "'set of Line.Speed to ''oops'' refused: %no number%'";
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (plant.Count(refused) == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(100ms);
    return plant.Count(refused) == 1;
  }
  // Ctrl-C; the summary's line of writes once the gateway has ended.
  std::string End() {
    ::kill(gateway->Pid(), SIGINT);
    std::string writes = gateway->WaitForLine("  writes:", 20s);
    gateway->WaitForLine("  database:", 10s);
    gateway->Stop();
    plant.line->SetFault(sim::StationFault::None);
    return writes;
  }
};

// A set that the silent station never acknowledges fails after its tries, logged with its tag.
TEST(Gateway, AFailedWriteIsLoggedWithItsTag) {
  SilentLineGateway rig;
  ASSERT_TRUE(rig.Start());
  auto& [plant, broker, client, gateway] = rig;
  client.Publish("plant/Line.Speed/set", "150");
  const std::string failed = "SELECT count(*) FROM failures WHERE kind='write failed'";
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (plant.Count(failed) == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(200ms);
  plant.line->SetFault(sim::StationFault::None);
  PlantRig::Interrupt(*gateway);
  EXPECT_EQ(plant.Count(failed + " AND control='Line' AND tag_id = (SELECT id FROM tags WHERE name='Line.Speed') "
                                 "AND text LIKE 'V,2000 = 336 not written after % tries: %'"),
            1);
}

// A set still in the write queue when the gateway ends is not written: that is said and logged
// with its tag, as a write that failed, never left as a set that went nowhere without a word.
TEST(Gateway, ASetStillWaitingWhenTheGatewayEndsIsLoggedAsNotWritten) {
  SilentLineGateway rig;
  ASSERT_TRUE(rig.Start());
  auto& [plant, broker, client, gateway] = rig;
  client.Publish("plant/Line.Speed/set", "150");
  // Then it is in the queue: the station never acknowledges it.
  ASSERT_TRUE(rig.SetsBeforeHaveArrived()) << "the sets never reached the gateway";
  const std::string writes = rig.End();
  ASSERT_NE(writes.find("1 queued"), std::string::npos) << writes;
  EXPECT_EQ(writes, "  writes: 1 queued, 0 written, 1 failed, 1 refused");
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='write failed' AND control='Line' AND tag_id = "
                        "(SELECT id FROM tags WHERE name='Line.Speed') AND text LIKE 'V,2000 = 336 not written%'"),
            1);
  EXPECT_EQ(plant.line->Word(1, 0x0400), 0x0120);
}

// A set the full write queue refuses ends there, as that set's own failure: the sets waiting
// before it keep their own ends, so each set is logged once, written or not.
TEST(Gateway, ASetTheFullQueueRefusesLeavesTheWaitingSetsTheirOwnEnds) {
  SilentLineGateway rig;
  ASSERT_TRUE(rig.Start());
  auto& [plant, broker, client, gateway] = rig;
  constexpr int kSets = 300;
  for (int i = 0; i < kSets; ++i) client.Publish("plant/Line.Speed/set", "150");
  // None still on its way when the gateway is stopped.
  ASSERT_TRUE(rig.SetsBeforeHaveArrived()) << "the sets never all reached the gateway";
  const std::string full = "SELECT count(*) FROM failures WHERE kind='write failed' AND text LIKE 'write queue full%'";
  ASSERT_GE(plant.Count(full), 20);
  const std::string writes = rig.End();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(writes, m, std::regex(R"((\d+) queued, 0 written, (\d+) failed, 1 refused)"))) << writes;
  EXPECT_EQ(std::stol(m[1]) + plant.Count(full), kSets) << writes;
  EXPECT_EQ(std::stol(m[2]), kSets) << writes;
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='write failed' AND tag_id = "
                        "(SELECT id FROM tags WHERE name='Line.Speed')"),
            kSets);
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='write failed' AND text LIKE "
                        "'%not written: the gateway ended while it waited in the write queue'"),
            std::stol(m[1]) - plant.Count("SELECT count(*) FROM failures WHERE text LIKE '% not written after %'"));
}

// Sets still coming in when the gateway is told to end (a burst, then Ctrl-C at once): each
// one the summary counts as failed or refused is in the history, none only on the terminal.
TEST(Gateway, SetsThatComeWhileTheGatewayEndsAreAllLogged) {
  SilentLineGateway rig;
  ASSERT_TRUE(rig.Start());
  auto& [plant, broker, client, gateway] = rig;
  for (int i = 0; i < 400; ++i) client.Publish("plant/Line.Speed/set", i % 2 ? "150" : "oops");
  const std::string writes = rig.End();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(writes, m, std::regex(R"((\d+) queued, 0 written, (\d+) failed, (\d+) refused)")))
      << writes;
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='write failed'"), std::stol(m[2])) << writes;
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='refused'"), std::stol(m[3])) << writes;
}

// A group read from another station than the control's Address, by its unit or by a station
// its address names: a set of its tag is written where the tag is read from, not at the same
// address of the control's own station.
TEST(Gateway, ASetGoesToTheStationItsTagIsReadFrom) {
  for (const char* group : {"3,Line,2,\"V,2000\"", "3,Line,,\"2;V,2000\""}) {
    SCOPED_TRACE(group);
    PlantRig plant;
    const std::string scanPath = plant.folder.File("scan.csv");
    std::string scan = testing::ReadRaw(scanPath);
    const std::string lineGroup = "3,Line,,\"V,2000\"";
    ASSERT_NE(scan.find(lineGroup), std::string::npos);
    scan.replace(scan.find(lineGroup), lineGroup.size(), group);
    testing::WriteRaw(scanPath, scan);
    plant.line.reset();
    plant.line =
        std::make_unique<sim::DirectNetSimulator>(sim::DirectNetOptions{plant.dnet.PathA(), {1, 2}, "9600,n,8,1"});
    plant.line->SetWord(2, 0x0400, 0x0120);
    plant.line->SetWord(2, 0x0401, 5000);
    plant.line->SetWord(1, 0x0400, 0x0777);
    MqttBroker broker;
    MqttTestClient client(broker.Port(), "plant/#");
    auto gateway = plant.Gateway({"--mqtt", broker.Address(), "--commit-ms", "200"});
    ASSERT_TRUE(Latest(client, "Line.Speed", 10s, [](const nlohmann::json& j) { return j["value"] == 120; }))
        << "read from station 2";
    client.Publish("plant/Line.Speed/set", "150");
    const auto speed = Latest(client, "Line.Speed", 10s, [](const nlohmann::json& j) { return j["value"] == 150; });
    PlantRig::Interrupt(*gateway);
    EXPECT_TRUE(speed) << "the station the tag is read from took the set";
    EXPECT_EQ(plant.line->Word(2, 0x0400), 0x0150);
    EXPECT_EQ(plant.line->Word(1, 0x0400), 0x0777) << "the control's own station is not written";
    EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind IN ('write failed', 'refused')"), 0);
  }
}

TEST(Gateway, TheBrokerKilledAndRestartedLosesNoValueTheQueueHeld) {
  PlantRig plant;
  MqttBroker broker;
  auto gateway = plant.Gateway({"--mqtt", broker.Address()});
  {
    MqttTestClient before(broker.Port(), "plant/#");
    ASSERT_TRUE(Latest(before, "Line.Count", 10s));
  }
  broker.Kill();
  const std::int64_t killed = logger::NowUs();
  // The counter moves while the broker is gone: each read of it is a sample to deliver.
  for (int i = 1; i <= 4; ++i) {
    plant.line->SetWord(1, 0x0401, static_cast<std::uint16_t>(5000 + i));
    std::this_thread::sleep_for(600ms);
  }
  // Held still while the broker comes back and a subscriber is there to see what it sends.
  ::kill(gateway->Pid(), SIGSTOP);
  const std::int64_t held = logger::NowUs();
  broker.Start();
  MqttTestClient after(broker.Port(), "plant/#");
  ::kill(gateway->Pid(), SIGCONT);
  ASSERT_TRUE(Latest(after, "Line.Count", 15s, [](const nlohmann::json& j) { return j["value"] == 5004; }));
  PlantRig::Interrupt(*gateway);

  std::set<std::string> logged;
  {
    logger::SqliteFile file(plant.Db(), true);
    logger::Statement q(file,
                        "SELECT s.time_us FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.name = 'Line.Count' "
                        "AND s.time_us > ?1 AND s.time_us < ?2");
    q.Bind(1, killed).Bind(2, held);
    while (q.Step()) logged.insert(logger::IsoTimeUtc(q.Int(0)));
  }
  ASSERT_GE(logged.size(), 3u) << "samples were logged while the broker was gone";
  std::set<std::string> delivered;
  for (const auto& m : after.Messages())
    if (m.topic == "plant/Line.Count") delivered.insert(nlohmann::json::parse(m.payload)["time"].get<std::string>());
  for (const std::string& t : logged) EXPECT_TRUE(delivered.count(t)) << "the value of " << t << " was lost";
}

TEST(Gateway, ALineThatGoesSilentIsLoggedOnceAndTheOthersGoOn) {
  PlantRig plant;
  auto gateway = plant.Gateway({"--commit-ms", "200"});
  std::this_thread::sleep_for(1500ms);
  plant.line->SetFault(sim::StationFault::NoAnswer);
  const std::int64_t silent = logger::NowUs();
  std::this_thread::sleep_for(5000ms);
  plant.line->SetFault(sim::StationFault::None);
  const std::int64_t back = logger::NowUs();
  std::this_thread::sleep_for(2500ms);
  PlantRig::Interrupt(*gateway);
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE control='Line' AND kind='failed' AND scan_group=3"), 1)
      << "logged once, not once per read";
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE control='Line' AND kind='recovered'"), 1);
  EXPECT_EQ(plant.Count("SELECT count(*) FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.control = 'Line' AND "
                        "s.quality = 'bad' AND s.error <> ''"),
            4)
      << "each of its four tags bad once, with the failure's text";
  const std::string during =
      " AND s.time_us > " + std::to_string(silent + 2'500'000) + " AND s.time_us < " + std::to_string(back);
  EXPECT_GT(plant.Count("SELECT count(*) FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.name = "
                        "'Press.Pressure'" + during),
            5)
      << "the other lines were read meanwhile";
  EXPECT_GT(plant.Count("SELECT count(*) FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.name = 'Line.Count' "
                        "AND s.quality = 'good' AND s.time_us > " +
                        std::to_string(back)),
            0);
}

// An ECOM module that does not answer when the gateway starts leaves its control unopened: the
// gateway says so, with the library's words, where a serial port that does not open is said.
TEST(Gateway, AnEcomModuleAbsentAtTheStartIsLoggedAsNotStarted) {
  PlantRig plant;
  plant.oven->SetFault(1, sim::EcomFault::Silent);
  RunResult r = RunPlclink({"gateway", plant.folder.File("plant.ini"), "--seconds", "2"});
  EXPECT_NE(r.err.find("Oven failed: cannot start: ECOM is not open: No ECOM Devices: rc= 0 (none of the 1 module address(es) "
                       "listed in HEI_PAS_MODULES answered"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE control='Oven' AND text LIKE 'cannot start: ECOM is "
                        "not open: No ECOM Devices%'"),
            1);
  EXPECT_GT(plant.Count("SELECT count(*) FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.control = 'Press' "
                        "AND s.quality = 'good'"),
            0)
      << "the other lines were read";
}

// A control that did not start never drains its write queue: a set of its tag is refused at
// once, saying why, not held without a word until the gateway ends.
TEST(Gateway, ASetOfAControlThatDidNotStartIsRefusedAtOnce) {
  PlantRig plant;
  plant.oven->SetFault(1, sim::EcomFault::Silent);
  MqttBroker broker;
  MqttTestClient client(broker.Port(), "plant/#");
  auto gateway = plant.Gateway({"--mqtt", broker.Address(), "--commit-ms", "200"});
  ASSERT_TRUE(Latest(client, "Line.Speed", 10s)) << "the gateway is publishing";
  client.Publish("plant/Oven.Setpoint/set", "185");
  const std::string refused = "SELECT count(*) FROM failures WHERE kind='refused' AND control='Oven' AND tag_id = "
                              "(SELECT id FROM tags WHERE name='Oven.Setpoint') AND text LIKE "
                              "'set of Oven.Setpoint to ''185'' refused: Oven did not start (ECOM is not open%'";
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (plant.Count(refused) == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(100ms);
  ::kill(gateway->Pid(), SIGINT);
  const std::string writes = gateway->WaitForLine("  writes:", 20s);
  gateway->WaitForLine("  database:", 10s);
  gateway->Stop();
  EXPECT_EQ(plant.Count(refused), 1);
  EXPECT_EQ(writes, "  writes: 0 queued, 0 written, 0 failed, 1 refused");
  EXPECT_EQ(plant.Count("SELECT count(*) FROM failures WHERE kind='write failed'"), 0);
}

// kill -9 in the middle of a run: the file opens, passes its integrity check, and holds every
// batch the gateway reported committed, each whole.
TEST(Gateway, KilledMidRunLeavesEveryCommittedBatch) {
  PlantRig plant;
  auto gateway = plant.Gateway({"--commit-ms", "100", "--verbose"});
  std::int64_t reported = 0;
  while (reported < 20) {
    const std::string line = gateway->WaitForLine("batch ", 10s);
    reported = std::stoll(line.substr(6));
  }
  ::kill(gateway->Pid(), SIGKILL);
  gateway->Stop();
  {
    logger::SqliteFile file(plant.Db(), true);
    logger::Statement check(file, "PRAGMA integrity_check");
    ASSERT_TRUE(check.Step());
    EXPECT_EQ(check.Text(0), "ok");
  }
  EXPECT_GE(plant.Count("SELECT max(id) FROM batches"), reported);
  EXPECT_EQ(plant.Count("SELECT count(*) FROM batches"), plant.Count("SELECT max(id) FROM batches")) << "no gap";
  EXPECT_EQ(plant.Count("SELECT sum(samples) FROM batches"), plant.Count("SELECT count(*) FROM samples"))
      << "no batch half there";
  EXPECT_EQ(plant.Count("SELECT count(*) FROM samples WHERE batch NOT IN (SELECT id FROM batches)"), 0);
}

// Another writer holding the history (a person's sqlite3 session, a clean-up job) for longer
// than a commit waits for it: the batches wait and go in once it lets go; the run goes on and
// no value read meanwhile is lost.
TEST(Gateway, AHistoryHeldByAnotherWriterKeepsItsBatchesUntilItLetsGo) {
  PlantRig plant;
  auto run = std::async(std::launch::async, [&] {
    return RunPlclink({"gateway", plant.folder.File("plant.ini"), "--seconds", "9", "--commit-ms", "200"});
  });
  // The file is there before its tables are.
  auto batches = [&]() -> std::int64_t {
    try {
      return plant.Count("SELECT count(*) FROM batches");
    } catch (const logger::SinkError&) {
      return 0;
    }
  };
  const auto deadline = std::chrono::steady_clock::now() + 8s;
  while (batches() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(100ms);
  ASSERT_GE(batches(), 2);
  std::int64_t from = 0, to = 0;
  {
    logger::SqliteFile other(plant.Db(), false);
    other.Exec("BEGIN IMMEDIATE");
    from = logger::NowUs();
    std::this_thread::sleep_for(4s);
    to = logger::NowUs();
    other.Exec("COMMIT");
  }
  const RunResult r = run.get();
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("busy"), std::string::npos) << "the wait is said: " << r.err;
  // Press.Pressure has no deadband and is read every 200 ms.
  EXPECT_GT(plant.Count("SELECT count(*) FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.name = "
                        "'Press.Pressure' AND s.time_us > " + std::to_string(from + 500'000) + " AND s.time_us < " +
                        std::to_string(to - 500'000)),
            5)
      << "the values read while the history was held";
  EXPECT_EQ(plant.Count("SELECT sum(samples) FROM batches"), plant.Count("SELECT count(*) FROM samples"));
  EXPECT_GT(plant.Count("SELECT count(*) FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.name = "
                        "'Press.Pressure' AND s.time_us > " + std::to_string(to + 1'000'000)),
            0)
      << "the run went on after";
}

// The history deleted, or replaced by another file, while the gateway writes it (a clean-up job,
// a person tidying the folder): SQLite would go on writing the file no name leads to any more,
// and every value of the run would go with it at the end. The run ends as with a history that
// cannot be written, saying what happened and how many samples it could not write.
TEST(Gateway, AHistoryDeletedOrReplacedMidRunEndsTheRunSayingSo) {
  for (const bool replaced : {false, true}) {
    SCOPED_TRACE(replaced ? "replaced" : "deleted");
    PlantRig plant;
    auto run = std::async(std::launch::async, [&] {
      return RunPlclink({"gateway", plant.folder.File("plant.ini"), "--seconds", "6", "--commit-ms", "200"});
    });
    auto batches = [&]() -> std::int64_t {
      try {
        return plant.Count("SELECT count(*) FROM batches");
      } catch (const logger::SinkError&) {
        return 0;
      }
    };
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (batches() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(100ms);
    ASSERT_GE(batches(), 2);
    if (replaced) {
      std::filesystem::rename(plant.Db(), plant.Db() + ".old");
      testing::WriteRaw(plant.Db(), "");
    } else {
      for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(plant.Db() + end);
    }
    const RunResult r = run.get();
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    const std::regex said(replaced ? "plclink gateway: .*plant\\.db: the history file was replaced by another .*; "
                                     "[1-9][0-9]* samples were not written\\n"
                                   : "plclink gateway: .*plant\\.db: the history file was deleted while the gateway "
                                     "wrote it .*; [1-9][0-9]* samples were not written\\n");
    EXPECT_TRUE(std::regex_search(r.err, said)) << r.err;
  }
}

// A history that reaches the size the gateway may write (a service's file-size limit, as
// systemd's LimitFSIZE= or a shell's ulimit -f set it): the run ends as with a full disk, with
// its summary and the reason, not killed by the signal the limit sends, its last batch lost.
TEST(Gateway, AHistoryAtItsFileSizeLimitEndsTheRunSayingSo) {
  PlantRig plant;
  const PeerCommand gateway = PlclinkCommand({"gateway", plant.folder.File("plant.ini"), "--seconds", "20",
                                              "--commit-ms", "50"});
  std::vector<std::string> args{"-c", "ulimit -f 256 && exec \"$0\" \"$@\"", gateway.program};
  args.insert(args.end(), gateway.args.begin(), gateway.args.end());
  const RunResult r = RunProgram(PeerCommand{"/bin/sh", args, ""}, 30s);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("  database: "), std::string::npos) << "the summary: " << r.out;
  // The system's words for what stopped the write, where SQLite's alone say "disk I/O error".
  EXPECT_TRUE(std::regex_search(r.err, std::regex("plclink gateway: .*plant\\.db: .*File too large.*; [1-9][0-9]* "
                                                  "samples were not written\\n")))
      << r.err;
  logger::SqliteFile file(plant.Db(), true);
  logger::Statement check(file, "PRAGMA integrity_check");
  ASSERT_TRUE(check.Step());
  EXPECT_EQ(check.Text(0), "ok");
}

// The gateway's wall clock, set forward or back while it runs, as a person or an NTP step sets
// the clock of the plant's computer: every program started while this lives has the wall step
// library preloaded; Set() moves their wall clocks, their monotonic clocks run on.
class WallClockStep {
 public:
  explicit WallClockStep(std::string file) : file_(std::move(file)) {
    Set(0s);
    for (const char* name : {"LD_PRELOAD", "PLC_WALL_STEP_FILE", "ASAN_OPTIONS"})
      if (const char* was = std::getenv(name)) saved_.emplace_back(name, was);
    const char* preload = std::getenv("LD_PRELOAD");
    ::setenv("LD_PRELOAD", (std::string(PLC_WALL_STEP) + (preload ? std::string(":") + preload : "")).c_str(), 1);
    ::setenv("PLC_WALL_STEP_FILE", file_.c_str(), 1);
    // The library comes before the sanitizers' run-time in a sanitized build's gateway.
    const char* asan = std::getenv("ASAN_OPTIONS");
    ::setenv("ASAN_OPTIONS", ((asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0").c_str(), 1);
  }
  ~WallClockStep() {
    for (const char* name : {"LD_PRELOAD", "PLC_WALL_STEP_FILE", "ASAN_OPTIONS"}) ::unsetenv(name);
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
  }
  // The wall clock's offset from the true time from now on; whole, never half written.
  void Set(std::chrono::seconds offset) {
    testing::WriteRaw(file_ + ".new", std::to_string(offset.count() * 1'000'000));
    std::filesystem::rename(file_ + ".new", file_);
  }

 private:
  std::string file_;
  std::vector<std::pair<std::string, std::string>> saved_;
};

// Batches committed to the plant's history so far; 0 before its tables are there.
std::int64_t CommittedBatches(const PlantRig& plant) {
  try {
    return plant.Count("SELECT count(*) FROM batches");
  } catch (const logger::SinkError&) {
    return 0;
  }
}

bool WaitForBatches(const PlantRig& plant, std::int64_t n) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (CommittedBatches(plant) < n && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  return CommittedBatches(plant) >= n;
}

// The wall clock set forward an hour while another writer holds the history: the wait is a
// couple of seconds, not an hour, and the run goes on with every value read meanwhile.
TEST(Gateway, AWallClockSetForwardWhileTheHistoryIsHeldDoesNotEndTheRun) {
  PlantRig plant;
  WallClockStep wall(plant.folder.File("wall-step"));
  auto run = std::async(std::launch::async, [&] {
    return RunPlclink({"gateway", plant.folder.File("plant.ini"), "--seconds", "7", "--commit-ms", "200"});
  });
  ASSERT_TRUE(WaitForBatches(plant, 2));
  {
    logger::SqliteFile other(plant.Db(), false);
    other.Exec("BEGIN IMMEDIATE");
    std::this_thread::sleep_for(1s);
    wall.Set(3600s);
    std::this_thread::sleep_for(1500ms);
    other.Exec("COMMIT");
  }
  const RunResult r = run.get();
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.err.find("not written"), std::string::npos) << r.err;
  EXPECT_EQ(plant.Count("SELECT sum(samples) FROM batches"), plant.Count("SELECT count(*) FROM samples"));
  EXPECT_GT(plant.Count("SELECT count(*) FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.name = "
                        "'Press.Pressure' AND s.time_us > " + std::to_string(logger::NowUs() + 3'000'000'000)),
            0)
      << "the run went on, its samples stamped with the wall clock as set";
}

// Ctrl-C while another writer holds the history, and the wall clock set forward an hour while
// the end waits for it: the end still waits its 10 s, and the values of the last seconds go in
// once the writer lets go.
TEST(Gateway, AWallClockSetForwardWhileTheEndWaitsForTheHistoryLosesNoValue) {
  PlantRig plant;
  WallClockStep wall(plant.folder.File("wall-step"));
  auto gateway = plant.Gateway({"--commit-ms", "200"});
  ASSERT_TRUE(WaitForBatches(plant, 2));
  std::int64_t from = 0, to = 0;
  {
    logger::SqliteFile other(plant.Db(), false);
    other.Exec("BEGIN IMMEDIATE");
    from = logger::NowUs();
    std::this_thread::sleep_for(1500ms);
    to = logger::NowUs();
    ::kill(gateway->Pid(), SIGINT);
    std::this_thread::sleep_for(500ms);
    wall.Set(3600s);
    std::this_thread::sleep_for(1500ms);
    other.Exec("COMMIT");
  }
  gateway->WaitForLine("  database:", 20s);
  const int status = gateway->Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  EXPECT_GT(plant.Count("SELECT count(*) FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.name = "
                        "'Press.Pressure' AND s.time_us > " + std::to_string(from + 300'000) + " AND s.time_us < " +
                        std::to_string(to - 300'000)),
            2)
      << "the values read while the history was held";
  EXPECT_EQ(plant.Count("SELECT sum(samples) FROM batches"), plant.Count("SELECT count(*) FROM samples"));
}

// The summary's time and rate are the run's, whatever the wall clock did meanwhile.
TEST(Gateway, AWallClockSetMidRunLeavesTheSummarysTimeAndRateTrue) {
  for (const auto step : {3600s, -3600s}) {
    PlantRig plant;
    WallClockStep wall(plant.folder.File("wall-step"));
    auto run = std::async(std::launch::async,
                          [&] { return RunPlclink({"gateway", plant.folder.File("plant.ini"), "--seconds", "3"}); });
    ASSERT_TRUE(WaitForBatches(plant, 1));
    wall.Set(step);
    const RunResult r = run.get();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("gateway: ran 3."), std::string::npos) << "set by " << step.count() << " s: " << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(reads: (\d+) .*, ([0-9.]+) per second)"))) << r.out;
    EXPECT_NEAR(std::stod(m[2]), std::stod(m[1]) / 3.0, std::stod(m[1]) / 10.0) << r.out;
  }
}

// Six Modbus lines of four groups each on 1 ms scan ticks keep the ticks waiting inside one
// another all the time: --seconds (as Ctrl-C) still ends the run on time, with its summary.
TEST(Gateway, EndsOnTimeWhileEveryLineScansFlatOut) {
  constexpr int kLines = 6;
  testing::TempFolder folder;
  std::vector<std::unique_ptr<PtyLink>> links;
  std::vector<std::unique_ptr<PeerProcess>> slaves;
  std::string ini = "[Gateway]\nDatabases=\".\"\n";
  std::string scan = "plclink-scan,1\nindex,control,address,count,period\n";
  std::string tags = "plclink-tags,1\nname,address,scan,element\n";
  for (int i = 1; i <= kLines; ++i) {
    links.push_back(std::make_unique<PtyLink>());
    slaves.push_back(std::make_unique<PeerProcess>(PlclinkCommand(
        {"rtulink", "--port", links.back()->PathA(), "--settings", "115200,n,8,1", "--address", "1", "serve"})));
    ::setenv(("QVL_COM" + std::to_string(i)).c_str(), links.back()->PathB().c_str(), 1);
    ini += "[L" + std::to_string(i) + "]\nControl=\"RtuLink\"\nCommPort=" + std::to_string(i) +
           "\nSettings=\"115200,n,8,1\"\nScanReadIOTimerInterval=1&\n";
    for (int g = 0; g < 4; ++g) {
      const int index = (i - 1) * 4 + g + 1;
      scan += std::to_string(index) + ",L" + std::to_string(i) + "," + std::to_string(40001 + 10 * g) + ",8,0\n";
      tags += "T" + std::to_string(index) + "," + std::to_string(40001 + 10 * g) + "," + std::to_string(index) + ",1\n";
    }
  }
  testing::WriteRaw(folder.File("plant.ini"), ini);
  testing::WriteRaw(folder.File("scan.csv"), scan);
  testing::WriteRaw(folder.File("tags.csv"), tags);
  const auto start = std::chrono::steady_clock::now();
  auto run = std::async(std::launch::async, [&] { return RunPlclink({"gateway", folder.File("plant.ini"), "--seconds", "2"}); });
  // serve prints every request it answers: read, so that a full pipe never holds a slave.
  while (run.wait_for(10ms) != std::future_status::ready)
    for (auto& s : slaves)
      while (s->ReadLine(0ms)) {
      }
  const RunResult r = run.get();
  const auto took = std::chrono::steady_clock::now() - start;
  for (int i = 1; i <= kLines; ++i) ::unsetenv(("QVL_COM" + std::to_string(i)).c_str());
  for (auto& s : slaves) ::kill(s->Pid(), SIGINT);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("gateway: ran 2."), std::string::npos) << r.out;
  EXPECT_LT(took, 4s) << r.out;
  // The reads given up by the end are not counted as failures of the lines.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(reads: (\d+) \((\d+) good, (\d+) failed\))"))) << r.out;
  EXPECT_EQ(std::stol(m[3]), 0) << r.out;
  // Every line kept scanning: each read outlasts a 1 ms tick, so the ticks came inside one
  // another while it read. How many reads a line manages is the machine's (a loaded one managed
  // less than half an idle one's 300 or more; bench/gateway measures it); a stalled line has a
  // handful.
  for (int i = 1; i <= kLines; ++i) {
    std::smatch line;
    ASSERT_TRUE(std::regex_search(r.out, line, std::regex("L" + std::to_string(i) + R"( \(RtuLink\): (\d+) reads)")))
        << r.out;
    EXPECT_GE(std::stol(line[1]), 50) << "L" << i << " scanned only now and then: " << r.out;
  }
}

TEST(Gateway, APlantItCannotRunIsRefusedWithTheReason) {
  PlantRig plant;
  RunResult none = RunPlclink({"gateway"});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("gateway needs a plant document"), std::string::npos) << none.err;
  testing::WriteRaw(plant.folder.File("tags.csv"),
                    "plclink-tags,1\nname,control,address,scan,element\nGood,Press,40001,1,1\nBad,Press,40002,1,9\n");
  RunResult bad = RunPlclink({"gateway", plant.folder.File("plant.ini"), "--seconds", "1"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("tags.csv:4: element 9 beyond the 4 values scan group 1 reads"), std::string::npos)
      << bad.err;
  EXPECT_FALSE(std::filesystem::exists(plant.Db())) << "nothing started";

  // A group that names no control (which a host may load) is one the gateway cannot place.
  testing::WriteRaw(plant.folder.File("scan.csv"),
                    "plclink-scan,1\nindex,control,address,count,period\n1,Press,40001,4,200\n2,,40005,4,200\n");
  testing::WriteRaw(plant.folder.File("tags.csv"), "plclink-tags,1\nname,address,scan,element\nAny,40005,2,1\n");
  RunResult unplaced = RunPlclink({"gateway", plant.folder.File("plant.ini"), "--seconds", "1"});
  EXPECT_EQ(unplaced.exitCode, 1);
  EXPECT_NE(unplaced.err.find("scan.csv:4: scan group 2 names no control: the gateway needs each scan group to name "
                              "its control"),
            std::string::npos)
      << unplaced.err;
  EXPECT_FALSE(std::filesystem::exists(plant.Db()));
}

// UdpLink in ECOM mode reads a bare number as an octal V-memory address: element 11 of a group
// at 2000 is V2012. A writable tag at 2010 (2000 + 10 counted in decimal, which the loader's
// check of register numbers takes) would be read from V2012 and written at V2010: refused at
// the start, with the address to write instead.
TEST(Gateway, AWritableTagOfOctalNumbersIsWrittenWhereItIsRead) {
  PlantRig plant;
  const std::string scanPath = plant.folder.File("scan.csv");
  std::string scan = testing::ReadRaw(scanPath);
  const std::string ovenGroup = "6,Oven,,\"V,2000\",3,";
  ASSERT_NE(scan.find(ovenGroup), std::string::npos);
  scan.replace(scan.find(ovenGroup), ovenGroup.size(), "6,Oven,,2000,12,");
  testing::WriteRaw(scanPath, scan);
  const std::string tagsPath = plant.folder.File("tags.csv");
  const std::string tags = testing::ReadRaw(tagsPath);
  const int line = static_cast<int>(std::count(tags.begin(), tags.end(), '\n')) + 1;
  testing::WriteRaw(tagsPath, tags + "Oven.Trim,Trim,Oven,2010,word,6,11,,,,,,yes\n");
  RunResult r = RunPlclink({"gateway", plant.folder.File("plant.ini"), "--seconds", "1"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("tags.csv:" + std::to_string(line) +
                       ": writable tag Oven.Trim at 2010 is read from V2012 (element 11 of scan group 6 at 2000; "
                       "UdpLink reads numbers as octal V-memory addresses) but would be written at V2010: one "
                       "register for both (write its address as V,2012)"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(plant.Db())) << "nothing started";
}

// The document's topic prefix is held to the rule --topic is: with a wildcard in it no message
// could ever be published, and the gateway went on retrying the broker with a library's text.
TEST(Gateway, ADocumentsTopicWithAWildcardIsRefused) {
  PlantRig plant;
  MqttBroker broker;
  std::string document = testing::ReadRaw(plant.folder.File("plant.ini"));
  const std::string topic = "Topic=\"plant\"";
  ASSERT_NE(document.find(topic), std::string::npos);
  document.replace(document.find(topic), topic.size(), "Topic=\"plant/#\"");
  testing::WriteRaw(plant.folder.File("plant.ini"), document);
  RunResult r = RunPlclink({"gateway", plant.folder.File("plant.ini"), "--mqtt", broker.Address(), "--seconds", "3"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("[Gateway] Topic=plant/# is not a topic prefix"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(plant.Db())) << "nothing started";
}

// A topic is UTF-8 text: a prefix that is none (a document saved in Latin-1, "Halle-Süd") makes
// every topic one the client refuses to publish, so the gateway ran publishing nothing and
// reconnected to the broker every second.
TEST(Gateway, ATopicPrefixThatIsNoUtf8IsRefused) {
  PlantRig plant;
  MqttBroker broker;
  RunResult option =
      RunPlclink({"gateway", plant.folder.File("plant.ini"), "--mqtt", broker.Address(), "--topic", "Halle-S\xfc" "d",
                  "--seconds", "3"});
  EXPECT_EQ(option.exitCode, 2) << option.out << option.err;
  EXPECT_NE(option.err.find("--topic wants a topic prefix in UTF-8"), std::string::npos) << option.err;
  EXPECT_FALSE(std::filesystem::exists(plant.Db())) << "nothing started";

  std::string document = testing::ReadRaw(plant.folder.File("plant.ini"));
  const std::string topic = "Topic=\"plant\"";
  ASSERT_NE(document.find(topic), std::string::npos);
  document.replace(document.find(topic), topic.size(), "Topic=\"Halle-S\xfc" "d\"");
  testing::WriteRaw(plant.folder.File("plant.ini"), document);
  RunResult stored = RunPlclink({"gateway", plant.folder.File("plant.ini"), "--mqtt", broker.Address(), "--seconds", "3"});
  EXPECT_EQ(stored.exitCode, 1) << stored.out << stored.err;
  EXPECT_NE(stored.err.find("is not a topic prefix (UTF-8 text without + or #)"), std::string::npos) << stored.err;
  EXPECT_FALSE(std::filesystem::exists(plant.Db())) << "nothing started";
}

// A plant saved by a host while its lines were open keeps PortOpen=True. Restoring opens no
// port, so the gateway must still open each line itself, not take the stored flag for an open
// port and scan a closed one.
TEST(Gateway, APlantSavedWithItsPortsOpenIsReadAsAnyOther) {
  PlantRig plant;
  std::ifstream in(plant.folder.File("plant.ini"));
  std::stringstream text;
  text << in.rdbuf();
  std::string document = text.str();
  for (const char* port : {"CommPort=1\n", "CommPort=2\n", "CommPort=3\n"}) {
    const std::size_t at = document.find(port);
    ASSERT_NE(at, std::string::npos) << port;
    document.insert(at + std::string(port).size(), "PortOpen=True\n");
  }
  testing::WriteRaw(plant.folder.File("plant.ini"), document);
  RunResult r = RunPlclink({"gateway", plant.folder.File("plant.ini"), "--seconds", "3", "--commit-ms", "200"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const char* tag : {"Press.Pressure", "Line.Speed", "Packer.Boxes"}) {
    EXPECT_GT(plant.Count(std::string("SELECT count(*) FROM samples s JOIN tags t ON t.id = s.tag_id WHERE t.name='") +
                          tag + "' AND s.quality='good'"),
              0)
        << tag << ": " << r.err;
  }
}

}  // namespace
}  // namespace plc::test
