#include "tools/plcsim/EcomModuleSim.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <utility>

namespace plc::sim {

using heipas::Datagram;
using heipas::Kind;

EcomModuleSim::EcomModuleSim(std::vector<EcomModuleConfig> modules, std::uint32_t ipv4) {
  modules_.reserve(modules.size());
  for (auto& config : modules) {
    auto socket = heipas::UdpSocket::Bind(ipv4, config.port);
    if (!socket) throw std::runtime_error("ECOM module " + std::to_string(config.id) + ": cannot bind its UDP port");
    Module m;
    m.config = std::move(config);
    m.port = socket->LocalPort();
    m.socket = std::move(*socket);
    modules_.push_back(std::move(m));
  }
}

void EcomModuleSim::Start() {
  if (serving_.Running()) return;
  serving_.Start([this](int stopFd) { Serve(stopFd); });
}

void EcomModuleSim::Stop() { serving_.Stop(); }

std::string EcomModuleSim::ModuleList() const {
  std::string text;
  for (const auto& m : modules_) text += (text.empty() ? "" : ",") + std::string("127.0.0.1:") + std::to_string(m.port);
  return text;
}

EcomModuleSim::Module& EcomModuleSim::Find(std::uint8_t id) {
  for (auto& m : modules_) {
    if (m.config.id == id) return m;
  }
  throw std::out_of_range("no simulated ECOM module with ID " + std::to_string(id));
}
const EcomModuleSim::Module& EcomModuleSim::Find(std::uint8_t id) const {
  return const_cast<EcomModuleSim*>(this)->Find(id);
}

void EcomModuleSim::SetFault(std::uint8_t id, EcomFault fault, int requests) {
  std::lock_guard lock(mutex_);
  Module& m = Find(id);
  m.fault = fault;
  m.faultLeft = requests;
}

void EcomModuleSim::SetWord(std::uint8_t id, std::uint16_t index, std::uint16_t value) {
  std::lock_guard lock(mutex_);
  auto& r = Find(id).registers;
  r.at(2u * index + 1) = static_cast<std::uint8_t>(value >> 8);
  r[2u * index] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint16_t EcomModuleSim::Word(std::uint8_t id, std::uint16_t index) const {
  std::lock_guard lock(mutex_);
  const auto& r = Find(id).registers;
  return static_cast<std::uint16_t>(r[2u * index] | (r.at(2u * index + 1) << 8));
}

void EcomModuleSim::SetByte(std::uint8_t id, std::uint8_t dataType, std::uint16_t address, std::uint8_t value) {
  std::lock_guard lock(mutex_);
  Module& m = Find(id);
  (dataType == 0x32 ? m.inputs : m.outputs)[address] = value;
}

std::uint8_t EcomModuleSim::Byte(std::uint8_t id, std::uint8_t dataType, std::uint16_t address) const {
  std::lock_guard lock(mutex_);
  const Module& m = Find(id);
  return (dataType == 0x32 ? m.inputs : m.outputs)[address];
}

void EcomModuleSim::Serve(int stopFd) {
  std::vector<pollfd> fds;
  for (const auto& m : modules_) fds.push_back(pollfd{m.socket.Fd(), POLLIN, 0});
  fds.push_back(pollfd{stopFd, POLLIN, 0});
  while (true) {
    for (auto& p : fds) p.revents = 0;
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
    if (fds.back().revents) return;
    for (std::size_t i = 0; i < modules_.size(); ++i) {
      if (!fds[i].revents) continue;
      while (auto got = modules_[i].socket.ReceiveUntil(std::chrono::steady_clock::now())) Handle(modules_[i], *got);
    }
  }
}

void EcomModuleSim::Record(bool on) {
  std::lock_guard lock(mutex_);
  recording_ = on;
  if (!on) recorded_.clear();
}

std::vector<EcomDatagramRecord> EcomModuleSim::Recorded() {
  std::lock_guard lock(mutex_);
  return std::exchange(recorded_, {});
}

void EcomModuleSim::Send(Module& m, const heipas::ModuleAddress& to, const std::vector<std::uint8_t>& bytes) {
  {
    std::lock_guard lock(mutex_);
    if (recording_) recorded_.push_back(EcomDatagramRecord{m.config.id, false, bytes});
  }
  m.socket.SendTo(to, bytes);
}

void EcomModuleSim::Handle(Module& m, const heipas::UdpSocket::Received& got) {
  const auto request = heipas::Parse(got.bytes);
  std::vector<std::vector<std::uint8_t>> replies;
  {
    std::lock_guard lock(mutex_);
    if (recording_) recorded_.push_back(EcomDatagramRecord{m.config.id, true, got.bytes});
    if (!request || (request->kind != Kind::Query && request->kind != Kind::Ccm)) {
      ++refused_;
      return;
    }
    if (request->kind == Kind::Query) {
      if (m.fault == EcomFault::Silent || (request->moduleId != 0 && request->moduleId != m.config.id)) return;
      Datagram d;
      d.kind = Kind::QueryReply;
      d.sequence = request->sequence;
      d.moduleId = m.config.id;
      d.deviceType = 1;
      d.name = m.config.name.substr(0, heipas::kMaxName);
      replies.push_back(heipas::Encode(d));
    } else {
      if (request->moduleId != m.config.id) {
        ++refused_;
        return;
      }
      replies = Answer(m, *request);
    }
  }
  for (const auto& reply : replies) Send(m, got.from, reply);
}

std::uint8_t EcomModuleSim::Check(const Datagram& request) {
  const std::size_t length = request.length;
  if (length == 0) return heipas::StatusBadLength;
  if (request.dataType == 0x31) {
    // Registers are numbered from 1 and carried two bytes each.
    if (length % 2 != 0) return heipas::StatusBadLength;
    if (request.address == 0 || 2u * (request.address - 1u) + length > 2u * kRegisterWords)
      return heipas::StatusBadAddress;
    return heipas::StatusOk;
  }
  // Points are numbered from 1 too, and end with the last area of their data type.
  const std::size_t last = request.dataType == 0x32 ? kLastInputByte : kLastOutputByte;
  if (request.address == 0 || request.address + length - 1 > last) return heipas::StatusBadAddress;
  return heipas::StatusOk;
}

std::vector<std::vector<std::uint8_t>> EcomModuleSim::Answer(Module& m, const Datagram& request) {
  const EcomFault fault = m.fault;
  if (fault != EcomFault::None && m.faultLeft > 0 && --m.faultLeft == 0) m.fault = EcomFault::None;
  // A silent module has not seen the request: its memory stays as it was.
  if (fault == EcomFault::Silent) return {};
  Datagram d = request;
  d.kind = Kind::CcmReply;
  d.data.clear();
  d.status = fault == EcomFault::Refuse ? std::uint8_t{heipas::StatusBadLength} : Check(request);
  if (d.status == heipas::StatusOk) {
    const bool registers = request.dataType == 0x31;
    auto& memory = registers ? m.registers : request.dataType == 0x32 ? m.inputs : m.outputs;
    const std::size_t first = registers ? 2u * (request.address - 1u) : request.address;
    if (request.write) {
      std::copy(request.data.begin(), request.data.end(), memory.begin() + static_cast<std::ptrdiff_t>(first));
    } else {
      d.data.assign(memory.begin() + static_cast<std::ptrdiff_t>(first),
                    memory.begin() + static_cast<std::ptrdiff_t>(first + request.length));
    }
    if (fault == EcomFault::None) ++answered_;
  }

  auto bytes = heipas::Encode(d);
  switch (fault) {
    case EcomFault::WrongModule:
      d.moduleId = static_cast<std::uint8_t>(m.config.id + 1);
      return {heipas::Encode(d)};
    case EcomFault::Corrupt:
      bytes[bytes.size() / 2] ^= 0x5A;
      return {bytes};
    case EcomFault::Truncated:
      bytes.resize(bytes.size() / 2);
      return {bytes};
    case EcomFault::Stale: {
      // The answer to the request before, with other data, ahead of the right one.
      Datagram old = d;
      old.sequence = d.sequence - 1;
      for (auto& b : old.data) b = static_cast<std::uint8_t>(~b);
      return {heipas::Encode(old), bytes};
    }
    case EcomFault::Duplicate:
      return {bytes, bytes};
    case EcomFault::None:
    case EcomFault::Silent:
    case EcomFault::Refuse:
      break;
  }
  return {bytes};
}

const std::vector<EcomFaultName>& EcomFaultNames() {
  static const std::vector<EcomFaultName> names = {
      {EcomFault::Silent, "silent", "answers nothing, not even the query"},
      {EcomFault::WrongModule, "wrong", "answers as the module with the next ID"},
      {EcomFault::Corrupt, "corrupt", "answers with a byte in the middle changed (its check fails)"},
      {EcomFault::Truncated, "truncated", "answers with only the first half of the datagram"},
      {EcomFault::Refuse, "refuse", "answers every request with error status 2 and no data"},
      {EcomFault::Stale, "stale", "answers first as to the previous request, with other data, then rightly"},
      {EcomFault::Duplicate, "duplicate", "sends every answer twice"},
  };
  return names;
}

}  // namespace plc::sim
