// The MQTT publisher against a real mosquitto broker on a free loopback port: payloads and
// retained topics, set messages, the broker killed and restarted with the queue delivered
// whole, and the offline queue's bound.
#include "logger/MqttPublisher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "logger/TimeText.h"
#include "platform/IntervalTimer.h"
#include "tests/support/MqttBroker.h"

namespace plc::logger {
namespace {

using namespace std::chrono_literals;

std::vector<TagInfo> Tags() {
  return {TagInfo{"Press.Temp", "Press", "40001", "", "°C", "int", 0.1, 0, std::nullopt, true},
          TagInfo{"Line.Count", "Line", "V,2001", "", "", "word", 1, 0, std::nullopt, false}};
}

Sample Good(std::int32_t tag, double value, std::int64_t timeUs) { return {tag, timeUs, value, Quality::Good, {}}; }

// Runs this thread's loop until done() or the limit.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  EventLoop& loop = EventLoop::Current();
  return loop.WaitUntil(done, loop.Now() + std::chrono::duration_cast<std::chrono::microseconds>(limit).count());
}

MqttOptions Options(int port, std::size_t offlineLimit = 10000) {
  MqttOptions o;
  o.port = port;
  o.prefix = "test";
  o.offlineLimit = offlineLimit;
  return o;
}

TEST(MqttPublisher, ValuesArriveRetainedWithTheirPayload) {
  test::MqttBroker broker;
  MqttPublisher pub(Options(broker.Port()), Tags());
  ASSERT_TRUE(RunUntil([&] { return pub.Connected(); }, 5s));
  Batch b;
  b.samples = {Good(0, 21.5, 1'700'000'000'123'456), {1, 1'700'000'001'000'000, std::nullopt, Quality::Bad, "no reply"}};
  pub.Write(b);
  ASSERT_TRUE(RunUntil([&] { return pub.Waiting() == 0; }, 5s)) << "acknowledged by the broker";
  EXPECT_EQ(pub.Stats().delivered, 2);

  // A subscriber that comes later gets the retained last values.
  test::MqttTestClient late(broker.Port(), "test/#");
  ASSERT_TRUE(late.Wait([&] { return late.Locked().size() >= 2; }, 5s));
  std::map<std::string, nlohmann::json> got;
  for (const auto& m : late.Messages()) {
    EXPECT_TRUE(m.retained) << m.topic;
    got[m.topic] = nlohmann::json::parse(m.payload);
  }
  EXPECT_EQ(got["test/Press.Temp"],
            nlohmann::json::parse(R"({"value":21.5,"unit":"°C","time":"2023-11-14T22:13:20.123456Z","quality":"good"})"));
  EXPECT_EQ(got["test/Line.Count"]["quality"], "bad");
  EXPECT_TRUE(got["test/Line.Count"]["value"].is_null());
  EXPECT_EQ(got["test/Line.Count"]["error"], "no reply");
  pub.Close();
}

// A set published as it happens arrives as such; one the broker retained arrives again at the
// next subscription, marked retained, so that the gateway can refuse to write it twice.
TEST(MqttPublisher, SetMessagesReachTheGatewayMarkedWhenRetained) {
  test::MqttBroker broker;
  MqttPublisher pub(Options(broker.Port()), Tags());
  std::vector<SetMessage> sets;
  pub.OnSet = [&](const SetMessage& set) { sets.push_back(set); };
  ASSERT_TRUE(RunUntil([&] { return pub.Connected(); }, 5s));
  test::MqttTestClient client(broker.Port(), "nothing");
  // The subscription is made once connected; wait for it by publishing until it is heard.
  ASSERT_TRUE(RunUntil(
      [&] {
        if (sets.empty()) client.Publish("test/Press.Temp/set", "42", /*retain=*/true);
        return !sets.empty();
      },
      5s));
  EXPECT_EQ(sets[0].tag, "Press.Temp");
  EXPECT_EQ(sets[0].payload, "42");
  EXPECT_FALSE(sets[0].retained) << "delivered live";
  EXPECT_EQ(sets[0].payloadBytes, 2u);
  // A payload far beyond any number: only its start is copied, its length told.
  client.Publish("test/Press.Temp/set", std::string(100000, '7'));
  ASSERT_TRUE(RunUntil([&] { return sets.back().payloadBytes != 2; }, 5s));
  EXPECT_EQ(sets.back().payloadBytes, 100000u);
  EXPECT_EQ(sets.back().payload, std::string(kMaxSetPayloadBytes + 1, '7'));
  pub.Close();

  MqttPublisher again(Options(broker.Port()), Tags());
  std::vector<SetMessage> replayed;
  again.OnSet = [&](const SetMessage& set) { replayed.push_back(set); };
  ASSERT_TRUE(RunUntil([&] { return !replayed.empty(); }, 5s)) << "the broker replays the retained set";
  EXPECT_EQ(replayed[0].tag, "Press.Temp");
  EXPECT_TRUE(replayed[0].retained);
  again.Close();
}

TEST(MqttPublisher, TheBrokerKilledAndRestartedLosesNothingTheQueueHeld) {
  test::MqttBroker broker;
  std::vector<std::string> notices;
  MqttPublisher pub(Options(broker.Port()), Tags());
  pub.OnNotice = [&](const std::string& text) { notices.push_back(text); };
  ASSERT_TRUE(RunUntil([&] { return pub.Connected(); }, 5s));
  broker.Kill();
  // Values go on arriving while the broker is gone: each is a distinct message by its time.
  std::set<std::string> sent;
  for (int i = 0; i < 50; ++i) {
    Batch b;
    b.samples = {Good(1, i, 1'700'000'000'000'000 + i)};
    pub.Write(b);
    sent.insert(IsoTimeUtc(1'700'000'000'000'000 + i));
    RunUntil([] { return false; }, 20ms);
  }
  EXPECT_FALSE(pub.Connected());
  EXPECT_EQ(pub.Waiting(), 50u);
  broker.Start();
  test::MqttTestClient client(broker.Port(), "test/#");
  ASSERT_TRUE(RunUntil([&] { return pub.Connected() && pub.Waiting() == 0; }, 15s)) << pub.Waiting() << " waiting";
  ASSERT_TRUE(client.Wait([&] { return client.Locked().size() >= 50; }, 5s)) << client.Messages().size();
  std::set<std::string> got;
  for (const auto& m : client.Messages()) got.insert(nlohmann::json::parse(m.payload)["time"].get<std::string>());
  EXPECT_EQ(got, sent);
  ASSERT_GE(notices.size(), 2u);
  EXPECT_NE(notices.front().find("lost"), std::string::npos) << notices.front();
  EXPECT_NE(notices.back().find("connected; 50 messages waiting go out now"), std::string::npos) << notices.back();
  pub.Close();
}

// A broker given by name: the lookup runs beside the loop, which goes on ticking while the name
// server is slow; a name that is not found is said once and looked up again later.
TEST(MqttPublisher, ABrokerNameIsLookedUpWithoutHoldingTheLoop) {
  test::MqttBroker broker;
  MqttOptions o = Options(broker.Port());
  o.host = "broker.plant";
  o.resolve = [](const std::string& host) {
    std::this_thread::sleep_for(1500ms);
    // The first address has no broker; the second has.
    return host == "broker.plant" ? ResolvedHost{{"127.0.0.2", "127.0.0.1"}, {}} : ResolvedHost{};
  };
  EventLoop& loop = EventLoop::Current();
  const std::int64_t start = loop.Now();
  MqttPublisher pub(o, Tags());
  EXPECT_LT(loop.Now() - start, 500'000) << "the constructor does not wait for the name";
  int ticks = 0;
  IntervalTimer timer(50, loop);
  timer.OnTick = [&] { ++ticks; };
  timer.SetEnabled(true);
  ASSERT_TRUE(RunUntil([&] { return ticks >= 10; }, 1000ms)) << "the loop ran while the name was looked up";
  EXPECT_FALSE(pub.Connected());
  ASSERT_TRUE(RunUntil([&] { return pub.Connected(); }, 8s));
  EXPECT_EQ(pub.Where(), "broker.plant:" + std::to_string(broker.Port()));
  pub.Close();

  // The system's own lookup of a name.
  o.host = "localhost";
  o.resolve = nullptr;
  MqttPublisher local(o, Tags());
  ASSERT_TRUE(RunUntil([&] { return local.Connected(); }, 8s));
  local.Close();

  auto lookups = std::make_shared<std::atomic<int>>(0);
  o.host = "nowhere.plant";
  o.resolve = [lookups](const std::string&) {
    ++*lookups;
    return ResolvedHost{{}, "Name or service not known"};
  };
  std::vector<std::string> notices;
  MqttPublisher lost(o, Tags());
  lost.OnNotice = [&](const std::string& text) { notices.push_back(text); };
  ASSERT_TRUE(RunUntil([&] { return *lookups >= 2; }, 5s)) << "looked up again";
  EXPECT_FALSE(lost.Connected());
  ASSERT_EQ(notices.size(), 1u) << "said once";
  EXPECT_EQ(notices[0], "MQTT broker nowhere.plant:" + std::to_string(broker.Port()) +
                            " not reachable: the name 'nowhere.plant' was not found: Name or service not known; "
                            "trying again, messages wait in the queue");
  lost.Close();
}

TEST(MqttPublisher, TheOfflineQueueKeepsTheNewestWithinItsBound) {
  const int port = test::FreeLoopbackPort();
  std::vector<std::string> notices;
  MqttPublisher pub(Options(port, 10), Tags());
  pub.OnNotice = [&](const std::string& text) { notices.push_back(text); };
  for (int i = 0; i < 25; ++i) {
    Batch b;
    b.samples = {Good(0, i, 1'000'000 * (i + 1))};
    pub.Write(b);
  }
  EXPECT_EQ(pub.Waiting(), 10u);
  EXPECT_EQ(pub.Stats().dropped, 15);
  EXPECT_EQ(std::count_if(notices.begin(), notices.end(),
                          [](const std::string& n) { return n.find("queue full") != std::string::npos; }),
            1)
      << "said once";
  test::MqttBroker broker(port);
  test::MqttTestClient client(port, "test/#");
  ASSERT_TRUE(RunUntil([&] { return pub.Connected() && pub.Waiting() == 0; }, 15s));
  ASSERT_TRUE(client.Wait([&] { return client.Locked().size() >= 10; }, 5s));
  const auto messages = client.Messages();
  EXPECT_EQ(nlohmann::json::parse(messages.front().payload)["value"], 15);
  EXPECT_EQ(nlohmann::json::parse(messages.back().payload)["value"], 24);
  pub.Close();
}

}  // namespace
}  // namespace plc::logger
