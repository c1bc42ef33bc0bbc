// The exported functions of libhei_pas.so: an ECOM client over UDP (hei_pas.h tells what each
// does, Datagram.h what goes on the wire).
#include "ecom/heipas/hei_pas.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ecom/heipas/Datagram.h"
#include "ecom/heipas/ModuleList.h"
#include "ecom/heipas/UdpSocket.h"

static_assert(sizeof(HEIDevice) == 78, "the device record is 78 bytes");

namespace heipas {
namespace {

constexpr std::uint16_t kVersion = 2;
constexpr std::uint16_t kDefaultTimeoutMs = 55;
constexpr std::uint16_t kMaxRetries = 10;

// What the library holds for one thread: whether it is open, and its transports' sockets.
struct ThreadState {
  bool open = false;
  std::uint32_t nextToken = 1;
  std::uint32_t nextSequence = 1;
  std::map<std::uint32_t, UdpSocket> transports;
};

ThreadState& State() {
  thread_local ThreadState state;
  return state;
}

const UdpSocket* SocketOf(std::uint32_t token) {
  auto& s = State();
  if (!s.open) return nullptr;
  auto it = s.transports.find(token);
  return it == s.transports.end() ? nullptr : &it->second;
}

std::uint32_t NextSequence() {
  auto& s = State();
  if (s.nextSequence == 0) s.nextSequence = 1;
  return s.nextSequence++;
}

ModuleAddress AddressOf(const HEIDevice& d) {
  std::uint32_t ip;
  std::uint16_t port;
  std::memcpy(&ip, &d.Ipv4, sizeof ip);
  std::memcpy(&port, &d.Port, sizeof port);
  return ModuleAddress{ntohl(ip), ntohs(port)};
}

HEIDevice DeviceRecord(std::uint32_t token, const ModuleAddress& a, const Datagram& reply) {
  HEIDevice d{};
  d.TransportToken = token;
  d.Ipv4 = htonl(a.ipv4);
  d.Port = htons(a.port);
  d.TimeoutMs = kDefaultTimeoutMs;
  d.Retries = 3;
  d.ModuleId = reply.moduleId;
  d.DeviceType = reply.deviceType;
  d.NameLength = static_cast<std::uint8_t>(std::min(reply.name.size(), sizeof d.Name));
  std::memcpy(d.Name, reply.name.data(), d.NameLength);
  return d;
}

// Which modules a query keeps.
struct QueryFilter {
  std::uint16_t dataType = 0;  // 0: all
  std::string value;
};

bool Keeps(const QueryFilter& f, const Datagram& reply) {
  if (f.dataType == HP_DATA_MODULE_ID) return !f.value.empty() && static_cast<std::uint8_t>(f.value[0]) == reply.moduleId;
  if (f.dataType == HP_DATA_NAME) return f.value == reply.name;
  return true;
}

int Query(HEITransport* transport, HEIDevice* devices, std::int32_t* count, std::uint16_t version,
          const QueryFilter& filter) {
  if (!State().open) return HP_E_NOT_OPEN;
  if (!transport || !devices || !count || *count < 0 || version != kVersion) return HP_E_BAD_ARGUMENT;
  const UdpSocket* socket = SocketOf(transport->Token);
  if (!socket) return HP_E_NOT_OPEN;
  const auto list = ConfiguredModules();
  if (!list) return HP_E_CONFIG;

  socket->Drain();
  Datagram query;
  query.kind = Kind::Query;
  query.sequence = NextSequence();
  const auto bytes = Encode(query);
  for (const auto& a : *list) socket->SendTo(a, bytes);

  std::vector<std::optional<Datagram>> answers(list->size());
  std::size_t answered = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(QueryMilliseconds());
  while (answered < list->size()) {
    auto got = socket->ReceiveUntil(deadline);
    if (!got) break;
    auto reply = Parse(got->bytes);
    if (!reply || reply->kind != Kind::QueryReply || reply->sequence != query.sequence) continue;
    for (std::size_t i = 0; i < list->size(); ++i) {
      if ((*list)[i] == got->from && !answers[i]) {
        answers[i] = std::move(*reply);
        ++answered;
        break;
      }
    }
  }

  const std::int32_t room = *count;
  std::int32_t found = 0;
  for (std::size_t i = 0; i < list->size() && found < room; ++i) {
    if (answers[i] && Keeps(filter, *answers[i])) devices[found++] = DeviceRecord(transport->Token, (*list)[i], *answers[i]);
  }
  *count = found;
  return HP_OK;
}

// The device as the caller passed it, when its transport is still open.
const UdpSocket* DeviceSocket(const HEIDevice* device) {
  if (!State().open) return nullptr;
  return device ? SocketOf(device->TransportToken) : nullptr;
}

int CcmRequest(HEIDevice* device, std::uint16_t write, std::uint8_t dataType, std::int16_t address,
               std::uint16_t length, std::uint8_t* buffer) {
  const UdpSocket* socket = DeviceSocket(device);
  if (!socket || !device->IsOpen) return HP_E_NOT_OPEN;
  if (write > 1 || dataType < 0x31 || dataType > 0x33 || (length > 0 && !buffer)) return HP_E_BAD_ARGUMENT;
  if (length > kMaxCcmLength) return HP_E_TOO_LONG;

  Datagram request;
  request.kind = Kind::Ccm;
  request.sequence = NextSequence();
  request.moduleId = device->ModuleId;
  request.write = static_cast<std::uint8_t>(write);
  request.dataType = dataType;
  request.address = static_cast<std::uint16_t>(address);
  request.length = length;
  if (write) request.data.assign(buffer, buffer + length);
  const auto bytes = Encode(request);
  const ModuleAddress to = AddressOf(*device);
  device->Sequence = request.sequence;

  int refused = HP_E_TIMEOUT;  // the code of the last datagram refused, if any
  const int attempts = 1 + std::min(device->Retries, kMaxRetries);
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (!socket->SendTo(to, bytes)) return HP_E_SEND;
    // Every attempt carries the same sequence number, so a late answer to an earlier one counts.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(device->TimeoutMs);
    while (auto got = socket->ReceiveUntil(deadline)) {
      if (!(got->from == to)) continue;  // not the module asked: not an answer at all
      const auto reply = Parse(got->bytes);
      if (!reply) {
        refused = HP_E_BAD_REPLY;
        continue;
      }
      if (reply->kind != Kind::CcmReply || reply->sequence != request.sequence) continue;  // a stale answer
      if (reply->moduleId != request.moduleId) {
        refused = HP_E_WRONG_MODULE;
        continue;
      }
      if (reply->write != request.write || reply->dataType != dataType || reply->address != request.address ||
          reply->length != length) {
        refused = HP_E_BAD_REPLY;
        continue;
      }
      if (reply->status != StatusOk) return HP_E_MODULE_BASE + reply->status;
      if (!write && length > 0) std::memcpy(buffer, reply->data.data(), length);
      return HP_OK;
    }
  }
  return refused;
}

}  // namespace
}  // namespace heipas

using namespace heipas;

extern "C" {

int PASCAL_HEIOpen(uint16_t version) {
  if (version != kVersion) return HP_E_BAD_ARGUMENT;
  State().open = true;
  return HP_OK;
}

int PASCAL_HEIOpenTransport(HEITransport* transport, uint16_t version, uint32_t /*netAddress*/) {
  auto& s = State();
  if (!s.open) return HP_E_NOT_OPEN;
  if (!transport || version != kVersion) return HP_E_BAD_ARGUMENT;
  if (transport->Transport != HP_TRANSPORT_WINSOCK) return HP_E_BAD_PROTOCOL;
  if (transport->Protocol == HP_PROTOCOL_IPX) return HP_E_NO_IPX;
  if (transport->Protocol != HP_PROTOCOL_UDP_IP) return HP_E_BAD_PROTOCOL;
  auto socket = UdpSocket::Bind(0, 0);
  if (!socket) return HP_E_SOCKET;
  // Opening a record again replaces its transport instead of leaking the first socket.
  s.transports.erase(transport->Token);
  const std::uint32_t token = s.nextToken++;
  s.transports.emplace(token, std::move(*socket));
  transport->Token = token;
  return HP_OK;
}

int PASCAL_HEIQueryDevices(HEITransport* transport, HEIDevice* devices, int32_t* count, uint16_t version) {
  return Query(transport, devices, count, version, QueryFilter{});
}

int PASCAL_HEIQueryDeviceData(HEITransport* transport, HEIDevice* devices, int32_t* count, uint16_t version,
                              uint16_t dataType, const uint8_t* data, uint16_t dataLength) {
  if ((dataType != HP_DATA_MODULE_ID && dataType != HP_DATA_NAME) || (!data && dataLength > 0))
    return HP_E_BAD_ARGUMENT;
  QueryFilter f{dataType, std::string(reinterpret_cast<const char*>(data), dataLength)};
  if (dataType == HP_DATA_NAME) {
    while (!f.value.empty() && (f.value.back() == ' ' || f.value.back() == '\0')) f.value.pop_back();
  }
  return Query(transport, devices, count, version, f);
}

int PASCAL_HEIOpenDevice(HEITransport* transport, HEIDevice* device, uint16_t version, uint16_t timeoutMs,
                         uint16_t retries, int16_t* /*flag*/) {
  if (!State().open) return HP_E_NOT_OPEN;
  if (!transport || !device || version != kVersion) return HP_E_BAD_ARGUMENT;
  if (!SocketOf(transport->Token) || device->TransportToken != transport->Token) return HP_E_NOT_OPEN;
  device->TimeoutMs = timeoutMs == 0 ? kDefaultTimeoutMs : timeoutMs;
  device->Retries = std::min(retries, kMaxRetries);
  device->IsOpen = 1;
  return HP_OK;
}

int PASCAL_HEIReadSetupData(HEIDevice* device, uint16_t setupType, uint8_t* buffer, int16_t* length) {
  if (!DeviceSocket(device)) return HP_E_NOT_OPEN;
  if (!buffer || !length) return HP_E_BAD_ARGUMENT;
  if (setupType != HP_SETUP_MODULE_ID) return HP_E_SETUP_TYPE;
  if (*length < 4) return HP_E_BUFFER_SMALL;
  buffer[0] = device->ModuleId;
  buffer[1] = buffer[2] = buffer[3] = 0;
  *length = 4;
  return HP_OK;
}

int PASCAL_HEIReadDeviceDef(HEIDevice* device, uint8_t* buffer, uint16_t length) {
  if (!DeviceSocket(device)) return HP_E_NOT_OPEN;
  if (!buffer) return HP_E_BAD_ARGUMENT;
  if (length < 3) return HP_E_BUFFER_SMALL;
  std::memset(buffer, 0, length);
  buffer[0] = device->ModuleId;
  buffer[1] = device->NameLength;
  buffer[2] = device->DeviceType;
  std::memcpy(buffer + 3, device->Name, std::min<std::size_t>(device->NameLength, length - 3u));
  return HP_OK;
}

int PASCAL_HEICCMRequest(HEIDevice* device, uint16_t write, uint8_t dataType, int16_t address, uint16_t length,
                         uint8_t* buffer) {
  return CcmRequest(device, write, dataType, address, length, buffer);
}

int PASCAL_HEICloseDevice(HEIDevice* device) {
  if (!DeviceSocket(device)) return HP_E_NOT_OPEN;
  device->IsOpen = 0;
  return HP_OK;
}

int PASCAL_HEICloseTransport(HEITransport* transport) {
  auto& s = State();
  if (!transport || !s.open || s.transports.erase(transport->Token) == 0) return HP_E_NOT_OPEN;
  transport->Token = 0;
  return HP_OK;
}

int PASCAL_HEIClose(void) {
  auto& s = State();
  if (!s.open) return HP_E_NOT_OPEN;
  s.transports.clear();
  s.open = false;
  return HP_OK;
}

}  // extern "C"
