#include "logger/MqttPublisher.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "logger/SetMessages.h"
#include "logger/TimeText.h"

namespace plc::logger {

namespace {

constexpr std::int32_t kTickMs = 100;
constexpr std::int64_t kMaxBackoffMs = 8000;
// A connection that has not been acknowledged by then is given up and tried again.
constexpr std::int64_t kConnectLimitUs = 10'000'000;

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// The library's text without its final full stop, as it stands inside a sentence here.
std::string ErrorText(int rc) {
  std::string text = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

bool IsNumericAddress(const std::string& host) {
  unsigned char buffer[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

ResolvedHost LookUp(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) return {{}, rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc)};
  ResolvedHost result;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* where = nullptr;
    if (a->ai_family == AF_INET) where = &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
    else if (a->ai_family == AF_INET6) where = &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr;
    if (where && ::inet_ntop(a->ai_family, where, text, sizeof text) &&
        std::find(result.addresses.begin(), result.addresses.end(), text) == result.addresses.end()) {
      result.addresses.push_back(text);
    }
  }
  ::freeaddrinfo(found);
  if (result.addresses.empty()) result.error = "no IPv4 or IPv6 address";
  return result;
}

}  // namespace

bool IsTopicPrefix(std::string_view prefix) {
  // The topics add "/TAG" and "/+/set" to it, both well under the 65535 bytes of a topic.
  constexpr std::size_t kLongest = 60000;
  return !prefix.empty() && prefix.size() <= kLongest && prefix.find_first_of("+#") == std::string_view::npos &&
         mosquitto_validate_utf8(prefix.data(), static_cast<int>(prefix.size())) == MOSQ_ERR_SUCCESS;
}

MqttPublisher::MqttPublisher(MqttOptions options, std::vector<TagInfo> tags, EventLoop& loop)
    : options_(std::move(options)), tags_(std::move(tags)), loop_(loop), timer_(kTickMs, loop) {
  InitLibrary();
  if (options_.clientId.empty()) options_.clientId = "plclink-gateway-" + std::to_string(::getpid());
  timer_.OnTick = [this] { Tick(); };
  timer_.SetEnabled(true);
  if (IsNumericAddress(options_.host)) {
    addresses_ = {options_.host};
    Connect();
  } else {
    StartLookup();
  }
}

void MqttPublisher::StartLookup() {
  lookup_ = std::make_shared<Lookup>();
  // Detached: a lookup that hangs must not hold the publisher's end either; it writes only into
  // the state it shares.
  std::thread([lookup = lookup_, host = options_.host, resolve = options_.resolve] {
    ResolvedHost result;
    try {
      result = resolve ? resolve(host) : LookUp(host);
    } catch (const std::exception& e) {
      result = {{}, e.what()};
    }
    const std::lock_guard<std::mutex> lock(lookup->mutex);
    lookup->result = std::move(result);
    lookup->done = true;
  }).detach();
}

void MqttPublisher::TakeLookup() {
  ResolvedHost result;
  {
    const std::lock_guard<std::mutex> lock(lookup_->mutex);
    if (!lookup_->done) return;
    result = lookup_->result;
  }
  lookup_.reset();
  if (result.addresses.empty()) {
    Lost("the name '" + options_.host + "' was not found: " +
         (result.error.empty() ? std::string("no address") : result.error));
    return;
  }
  addresses_ = std::move(result.addresses);
  nextAddress_ = 0;
  Connect();
}

MqttPublisher::~MqttPublisher() {
  *alive_ = false;
  timer_.SetEnabled(false);
  if (watch_) loop_.UnwatchFd(watch_);
  if (client_) mosquitto_destroy(client_);
}

std::string MqttPublisher::Payload(const Sample& sample, const TagInfo& tag) {
  nlohmann::json j;
  if (sample.value && std::isfinite(*sample.value)) j["value"] = *sample.value;
  else j["value"] = nullptr;
  j["unit"] = tag.unit;
  j["time"] = IsoTimeUtc(sample.timeUs);
  j["quality"] = sample.quality == Quality::Good ? "good" : "bad";
  if (sample.quality == Quality::Bad) j["error"] = sample.error;
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void MqttPublisher::Write(const Batch& batch) {
  for (const Sample& s : batch.samples) {
    if (s.tag < 0 || static_cast<std::size_t>(s.tag) >= tags_.size()) continue;
    const TagInfo& tag = tags_[static_cast<std::size_t>(s.tag)];
    Enqueue(Message{Topic(tag), Payload(s, tag)});
  }
  Pump();
}

void MqttPublisher::Enqueue(Message message) {
  if (queue_.size() >= options_.offlineLimit) {
    queue_.pop_front();
    ++stats_.dropped;
    if (!noticedDrop_) {
      noticedDrop_ = true;
      Notice("MQTT queue full (" + std::to_string(options_.offlineLimit) +
             " messages waiting for " + Where() + "): dropping the oldest");
    }
  }
  queue_.push_back(std::move(message));
}

void MqttPublisher::Flush() {
  Pump();
  if (client_ && state_ != State::Disconnected && mosquitto_want_write(client_)) {
    const int rc = mosquitto_loop_write(client_, 1);
    if (rc != MOSQ_ERR_SUCCESS) Lost(ErrorText(rc));
  }
}

void MqttPublisher::Close() {
  if (state_ == State::Closed) return;
  const std::int64_t deadline = loop_.Now() + std::chrono::duration_cast<std::chrono::microseconds>(grace).count();
  Flush();
  loop_.WaitUntil([this] { return !Connected() || Waiting() == 0; }, deadline);
  timer_.SetEnabled(false);
  if (client_ && Connected()) {
    mosquitto_disconnect(client_);
    mosquitto_loop_write(client_, 1);
  }
  if (watch_) loop_.UnwatchFd(watch_);
  watch_ = 0;
  if (client_) mosquitto_destroy(client_);
  client_ = nullptr;
  state_ = State::Closed;
}

void MqttPublisher::Connect() {
  if (client_) mosquitto_destroy(client_);
  client_ = mosquitto_new(options_.clientId.c_str(), true, this);
  if (!client_) {
    Lost("out of memory for the MQTT client");
    return;
  }
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(client_, &MqttPublisher::ConnectCallback);
  mosquitto_disconnect_callback_set(client_, &MqttPublisher::DisconnectCallback);
  mosquitto_publish_callback_set(client_, &MqttPublisher::PublishCallback);
  mosquitto_message_callback_set(client_, &MqttPublisher::MessageCallback);
  // A non-blocking connect: an unreachable broker never holds the loop; the tick finishes it.
  const std::string& address = addresses_[nextAddress_ % addresses_.size()];
  const int rc = mosquitto_connect_async(client_, address.c_str(), options_.port, options_.keepaliveSeconds);
  if (rc != MOSQ_ERR_SUCCESS) {
    Lost(ErrorText(rc));
    return;
  }
  state_ = State::Connecting;
  connectingSinceUs_ = loop_.Now();
  const int fd = mosquitto_socket(client_);
  if (fd >= 0) {
    watch_ = loop_.WatchFd(fd, [this](short) {
      if (!client_ || state_ == State::Disconnected || state_ == State::Closed) return;
      const int read = mosquitto_loop_read(client_, 10);
      if (read != MOSQ_ERR_SUCCESS) {
        Lost(ErrorText(read));
        return;
      }
      Flush();
    });
  }
  Flush();
}

void MqttPublisher::Lost(const std::string& why) {
  if (state_ == State::Closed) return;
  const bool wasConnected = state_ == State::Connected;
  // A connection that never came tries the name's next address.
  if (!wasConnected) ++nextAddress_;
  if (watch_) loop_.UnwatchFd(watch_);
  watch_ = 0;
  if (client_) mosquitto_destroy(client_);
  client_ = nullptr;
  state_ = State::Disconnected;
  // What the broker has not acknowledged goes out again, first and in its order.
  std::vector<std::pair<std::uint64_t, Message>> back;
  for (auto& [mid, m] : inflight_) back.emplace_back(std::get<0>(m), std::move(std::get<1>(m)));
  inflight_.clear();
  std::sort(back.begin(), back.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto it = back.rbegin(); it != back.rend(); ++it) queue_.push_front(std::move(it->second));
  while (queue_.size() > options_.offlineLimit) {
    queue_.pop_front();
    ++stats_.dropped;
  }
  if (wasConnected || !noticedOutage_) {
    Notice("MQTT broker " + Where() + (wasConnected ? " lost: " : " not reachable: ") + why +
           "; trying again, messages wait in the queue");
    noticedOutage_ = true;
  }
  backoffMs_ = wasConnected ? 1000 : std::min(backoffMs_ * 2, kMaxBackoffMs);
  retryAtUs_ = loop_.Now() + backoffMs_ * 1000;
}

void MqttPublisher::Pump() {
  if (state_ != State::Connected || !client_) return;
  while (!queue_.empty() && inflight_.size() < options_.inflightLimit) {
    Message& m = queue_.front();
    int mid = 0;
    const int rc = mosquitto_publish(client_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                                     m.payload.data(), 1, true);
    if (rc != MOSQ_ERR_SUCCESS) {
      Lost(ErrorText(rc));
      return;
    }
    inflight_[mid] = {nextSeq_++, std::move(m)};
    queue_.pop_front();
  }
}

void MqttPublisher::Tick() {
  if (state_ == State::Closed) return;
  if (state_ == State::Disconnected) {
    if (lookup_) TakeLookup();
    else if (loop_.Now() >= retryAtUs_ && addresses_.empty()) StartLookup();
    else if (loop_.Now() >= retryAtUs_) Connect();
    return;
  }
  if (state_ == State::Connecting && loop_.Now() - connectingSinceUs_ > kConnectLimitUs) {
    Lost("no answer to the connection within 10 s");
    return;
  }
  const int misc = mosquitto_loop_misc(client_);
  if (misc != MOSQ_ERR_SUCCESS) {
    Lost(ErrorText(misc));
    return;
  }
  Flush();
}

void MqttPublisher::Notice(const std::string& text) {
  if (OnNotice) OnNotice(text);
}

void MqttPublisher::ConnectCallback(mosquitto* m, void* self, int rc) {
  auto* p = static_cast<MqttPublisher*>(self);
  if (m != p->client_) return;
  if (rc != 0) {
    // Lost destroys the client, which must not happen inside its own callback.
    p->loop_.Post([p, rc, alive = std::weak_ptr<bool>(p->alive_)] {
      if (auto a = alive.lock(); a && *a) p->Lost(std::string("refused: ") + mosquitto_connack_string(rc));
    });
    return;
  }
  p->state_ = State::Connected;
  ++p->stats_.connects;
  p->backoffMs_ = 1000;
  const std::string sets = p->options_.prefix + "/+/set";
  mosquitto_subscribe(m, nullptr, sets.c_str(), 1);
  if (p->noticedOutage_) {
    p->Notice("MQTT broker " + p->Where() + " connected; " + std::to_string(p->queue_.size()) +
              " messages waiting go out now");
  }
  p->noticedOutage_ = false;
  p->noticedDrop_ = false;
  p->loop_.Post([p, alive = std::weak_ptr<bool>(p->alive_)] {
    if (auto a = alive.lock(); a && *a) p->Flush();
  });
}

void MqttPublisher::DisconnectCallback(mosquitto* m, void* self, int rc) {
  auto* p = static_cast<MqttPublisher*>(self);
  if (m != p->client_ || p->state_ == State::Closed) return;
  p->loop_.Post([p, rc, alive = std::weak_ptr<bool>(p->alive_)] {
    auto a = alive.lock();
    if (!a || !*a) return;
    if (p->state_ != State::Disconnected && p->state_ != State::Closed) p->Lost(ErrorText(rc));
  });
}

void MqttPublisher::PublishCallback(mosquitto* m, void* self, int mid) {
  auto* p = static_cast<MqttPublisher*>(self);
  if (m != p->client_) return;
  if (p->inflight_.erase(mid) > 0) ++p->stats_.delivered;
}

void MqttPublisher::MessageCallback(mosquitto* m, void* self, const mosquitto_message* message) {
  auto* p = static_cast<MqttPublisher*>(self);
  if (m != p->client_ || !message || !message->topic || !p->OnSet) return;
  const auto named = TagOfSetTopic(p->options_.prefix, message->topic);
  if (!named) return;
  // No more than the gateway looks at is copied: a longer payload is refused by its length.
  const auto bytes = static_cast<std::size_t>(std::max(message->payloadlen, 0));
  const std::size_t kept = std::min(bytes, kMaxSetPayloadBytes + 1);
  SetMessage set{*named, message->payload ? std::string(static_cast<const char*>(message->payload), kept) : std::string(),
                 bytes, message->retain};
  p->loop_.Post([p, set = std::move(set), alive = std::weak_ptr<bool>(p->alive_)] {
    if (auto a = alive.lock(); a && *a && p->OnSet) p->OnSet(set);
  });
}

}  // namespace plc::logger
