#pragma once
// The plant's values on an MQTT broker (libmosquitto), driven on the thread's event loop: the
// client's socket is watched by the loop, which calls mosquitto_loop_read when it is readable,
// and a 100 ms interval timer runs mosquitto_loop_write and mosquitto_loop_misc (keep-alive,
// the rest of a long write). The client has no thread of its own.
//
// Each sample goes to PREFIX/TAG as a retained QoS 1 message with a JSON payload:
//   {"value":21.5,"unit":"°C","time":"2026-05-01T12:00:00.123456Z","quality":"good"}
//   {"value":null,"unit":"°C","time":"...","quality":"bad","error":"no reply within 2 s"}
// Messages wait in one bounded queue, in order, until the broker has them: at most
// inflightLimit are handed to the client at a time, and a message counts as delivered only
// once the broker acknowledged it. A broker that goes away is tried again (1 s, then doubling
// to 8 s); meanwhile the queue holds up to offlineLimit messages, dropping the oldest beyond
// (each retained topic's newest value survives longest), and the unacknowledged ones go back to
// its front, so nothing the queue held is lost when the broker comes back (at worst a message
// is delivered twice, as QoS 1 allows).
//
// Messages on PREFIX/TAG/set reach OnSet with the tag's name, the payload and whether the broker
// retained it.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logger/SetMessages.h"
#include "logger/Sink.h"
#include "platform/EventLoop.h"
#include "platform/IntervalTimer.h"

struct mosquitto;
struct mosquitto_message;

namespace plc::logger {

// A broker's name looked up: its numeric addresses in the order to try them, or none and the
// reason.
struct ResolvedHost {
  std::vector<std::string> addresses;
  std::string error;
};

// Whether every topic may begin with the text: UTF-8 (as MQTT topics are), not empty, without
// the wildcards + and #. Anything else the client refuses at every publish.
bool IsTopicPrefix(std::string_view prefix);

struct MqttOptions {
  // A name is looked up once, on a thread of its own, so that a slow or unreachable name server
  // never holds the loop (and every PLC line on it); the client connects to the address found.
  std::string host = "127.0.0.1";
  int port = 1883;
  std::string prefix = "plant";
  std::string clientId;  // empty: "plclink-gateway-" and the process id
  std::size_t offlineLimit = 10000;
  std::size_t inflightLimit = 100;
  int keepaliveSeconds = 30;
  // The lookup of a name (getaddrinfo unless given); runs on a thread of its own.
  std::function<ResolvedHost(const std::string& host)> resolve;
};

struct MqttStats {
  std::int64_t delivered = 0;  // acknowledged by the broker
  std::int64_t dropped = 0;    // pushed out of a full queue
  std::int64_t connects = 0;
};

class MqttPublisher final : public Sink {
 public:
  MqttPublisher(MqttOptions options, std::vector<TagInfo> tags, EventLoop& loop = EventLoop::Current());
  ~MqttPublisher() override;
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  void Write(const Batch& batch) override;
  // Hands queued messages to the broker and writes what the client holds, without waiting.
  void Flush() override;
  // Waits up to `grace` for the broker to acknowledge what is queued, then disconnects.
  void Close() override;
  std::chrono::milliseconds grace{2000};

  std::function<void(const SetMessage& set)> OnSet;
  // A connection made or lost, messages dropped: one line each, for the gateway's log.
  std::function<void(const std::string& text)> OnNotice;

  bool Connected() const { return state_ == State::Connected; }
  // Messages not yet acknowledged (queued or in flight).
  std::size_t Waiting() const { return queue_.size() + inflight_.size(); }
  const MqttStats& Stats() const { return stats_; }
  std::string Where() const { return options_.host + ":" + std::to_string(options_.port); }

  // The topic and the JSON payload of a sample.
  std::string Topic(const TagInfo& tag) const { return options_.prefix + "/" + tag.name; }
  static std::string Payload(const Sample& sample, const TagInfo& tag);

 private:
  enum class State { Disconnected, Connecting, Connected, Closed };
  struct Message {
    std::string topic;
    std::string payload;
  };

  static void ConnectCallback(mosquitto* m, void* self, int rc);
  static void DisconnectCallback(mosquitto* m, void* self, int rc);
  static void PublishCallback(mosquitto* m, void* self, int mid);
  static void MessageCallback(mosquitto* m, void* self, const mosquitto_message* message);

  // The state of a name's lookup, shared with the thread that does it.
  struct Lookup {
    std::mutex mutex;
    bool done = false;
    ResolvedHost result;
  };

  void StartLookup();
  // Takes the lookup's result once it is there: connects, or says why not and tries later.
  void TakeLookup();
  void Connect();
  // The connection is gone (or never came): in-flight messages back to the queue's front.
  void Lost(const std::string& why);
  void Enqueue(Message message);
  // Hands queued messages to the client while the in-flight window has room.
  void Pump();
  void Tick();
  void Notice(const std::string& text);

  MqttOptions options_;
  std::vector<TagInfo> tags_;
  EventLoop& loop_;
  IntervalTimer timer_;
  mosquitto* client_ = nullptr;
  State state_ = State::Disconnected;
  // The broker's numeric addresses, once known; a connection that fails moves on to the next.
  std::vector<std::string> addresses_;
  std::size_t nextAddress_ = 0;
  std::shared_ptr<Lookup> lookup_;
  EventLoop::Handle watch_ = 0;
  std::int64_t retryAtUs_ = 0;      // monotonic time of the next connection attempt
  std::int64_t connectingSinceUs_ = 0;
  std::int64_t backoffMs_ = 1000;
  bool noticedOutage_ = false;
  bool noticedDrop_ = false;
  std::deque<Message> queue_;
  // Handed to the client and not yet acknowledged, by message id, with the order handed over.
  std::map<int, std::pair<std::uint64_t, Message>> inflight_;
  std::uint64_t nextSeq_ = 0;
  MqttStats stats_;
  // Callbacks posted to the loop must not outlive the publisher.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace plc::logger
