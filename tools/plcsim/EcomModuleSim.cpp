#include "tools/plcsim/EcomModuleSim.h"

#include <poll.h>

#include <cerrno>
#include <stdexcept>

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
  r[2u * index] = static_cast<std::uint8_t>(value & 0xFF);
  r[2u * index + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint16_t EcomModuleSim::Word(std::uint8_t id, std::uint16_t index) const {
  std::lock_guard lock(mutex_);
  const auto& r = Find(id).registers;
  return static_cast<std::uint16_t>(r[2u * index] | (r[2u * index + 1] << 8));
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

void EcomModuleSim::Handle(Module& m, const heipas::UdpSocket::Received& got) {
  const auto request = heipas::Parse(got.bytes);
  if (!request || (request->kind != Kind::Query && request->kind != Kind::Ccm)) {
    ++refused_;
    return;
  }
  std::vector<std::uint8_t> reply;
  {
    std::lock_guard lock(mutex_);
    if (request->kind == Kind::Query) {
      if (m.fault == EcomFault::Silent || (request->moduleId != 0 && request->moduleId != m.config.id)) return;
      Datagram d;
      d.kind = Kind::QueryReply;
      d.sequence = request->sequence;
      d.moduleId = m.config.id;
      d.deviceType = 1;
      d.name = m.config.name.substr(0, heipas::kMaxName);
      reply = heipas::Encode(d);
    } else {
      if (request->moduleId != m.config.id) {
        ++refused_;
        return;
      }
      bool silent = false;
      reply = Answer(m, *request, silent);
      if (silent) return;
    }
  }
  m.socket.SendTo(got.from, reply);
}

std::vector<std::uint8_t> EcomModuleSim::Answer(Module& m, const Datagram& request, bool& silent) {
  const EcomFault fault = m.fault;
  if (fault != EcomFault::None && m.faultLeft > 0 && --m.faultLeft == 0) m.fault = EcomFault::None;
  // A silent module has not seen the request: its image stays as it was.
  if (fault == EcomFault::Silent) {
    silent = true;
    return {};
  }
  if (fault == EcomFault::None) ++answered_;
  Datagram d = request;
  d.kind = Kind::CcmReply;
  d.data.clear();
  const bool registers = request.dataType == 0x31;
  auto& image = registers ? m.registers : request.dataType == 0x32 ? m.inputs : m.outputs;
  // Registers are numbered from 1; both images wrap at their end.
  const std::size_t first = registers ? 2u * static_cast<std::uint16_t>(request.address - 1u) : request.address;
  for (std::size_t i = 0; i < request.length; ++i) {
    std::uint8_t& cell = image[(first + i) % image.size()];
    if (request.write) {
      cell = request.data[i];
    } else {
      d.data.push_back(cell);
    }
  }

  switch (fault) {
    case EcomFault::Silent:
      break;
    case EcomFault::WrongModule:
      d.moduleId = static_cast<std::uint8_t>(m.config.id + 1);
      return heipas::Encode(d);
    case EcomFault::Corrupt: {
      auto bytes = heipas::Encode(d);
      bytes[bytes.size() / 2] ^= 0x5A;
      return bytes;
    }
    case EcomFault::Truncated: {
      auto bytes = heipas::Encode(d);
      bytes.resize(bytes.size() / 2);
      return bytes;
    }
    case EcomFault::None:
      break;
  }
  return heipas::Encode(d);
}

}  // namespace plc::sim
