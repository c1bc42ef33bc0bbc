#pragma once
// A mosquitto broker for one test, on a free loopback port, and a small MQTT client that records
// what it receives. The broker is a child process started from the installed `mosquitto`; when
// it is missing the test fails with PeerError saying what to install. No call sleeps: the
// broker counts as ready once its port accepts a connection, waited for with a bounded poll.
#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/PeerProcess.h"

extern char** environ;

namespace plc::test {

// A loopback TCP port nobody listens on now.
inline int FreeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

inline bool PortAccepts(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

class MqttBroker {
 public:
  explicit MqttBroker(int port = FreeLoopbackPort(), std::string folder = "/tmp") : port_(port) {
    config_ = folder + "/mosquitto-" + std::to_string(port_) + ".conf";
    std::ofstream(config_) << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\npersistence false\n";
    Start();
  }
  ~MqttBroker() {
    Kill();
    ::unlink(config_.c_str());
  }
  MqttBroker(const MqttBroker&) = delete;
  MqttBroker& operator=(const MqttBroker&) = delete;

  int Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

  void Start() {
    std::string program;
    try {
      program = LocateProgram("mosquitto", "install mosquitto (scripts/deps.sh)");
    } catch (const PeerError&) {
      program = LocateProgram("/usr/sbin/mosquitto", "install mosquitto (scripts/deps.sh)");
    }
    std::vector<std::string> args{program, "-c", config_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw PeerError("cannot start mosquitto: " + std::string(std::strerror(rc)));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!PortAccepts(port_)) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        throw PeerError("mosquitto exited at start (port " + std::to_string(port_) + ")");
      }
      if (std::chrono::steady_clock::now() > deadline) throw PeerError("mosquitto did not listen within 10 s");
      std::this_thread::yield();
      ::poll(nullptr, 0, 10);
    }
  }
  // SIGKILL: the broker is gone at once, with whatever it held.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  int port_;
  std::string config_;
  pid_t pid_ = -1;
};

// A client on its own thread (the test's side): everything received is kept in order.
class MqttTestClient {
 public:
  struct Message {
    std::string topic;
    std::string payload;
    bool retained = false;
  };

  MqttTestClient(int port, const std::string& subscription) {
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* c = static_cast<MqttTestClient*>(self);
      std::lock_guard<std::mutex> lock(c->mutex_);
      c->messages_.push_back({m->topic, std::string(static_cast<const char*>(m->payload),
                                                    static_cast<std::size_t>(m->payloadlen)),
                              m->retain});
      c->changed_.notify_all();
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
      auto* c = static_cast<MqttTestClient*>(self);
      std::lock_guard<std::mutex> lock(c->mutex_);
      c->subscribed_ = true;
      c->changed_.notify_all();
    });
    if (mosquitto_connect(client_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
      throw PeerError("test client cannot connect to the broker on port " + std::to_string(port));
    mosquitto_subscribe(client_, nullptr, subscription.c_str(), 1);
    mosquitto_loop_start(client_);
    Wait([this] { return subscribed_; }, std::chrono::seconds(5));
  }
  ~MqttTestClient() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, true);
    mosquitto_destroy(client_);
  }

  void Publish(const std::string& topic, const std::string& payload, bool retain = false) {
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
  }
  std::vector<Message> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  // Waits until pred (called under the lock) holds or the time is up; returns pred.
  bool Wait(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, pred);
  }
  // The messages so far (the caller holds the lock through Wait's predicate).
  const std::vector<Message>& Locked() const { return messages_; }

 private:
  mosquitto* client_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Message> messages_;
  bool subscribed_ = false;
};

}  // namespace plc::test
