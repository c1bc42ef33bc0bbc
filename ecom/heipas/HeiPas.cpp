// The exported functions of libhei_pas.so: an ECOM client over UDP (hei_pas.h tells what each
// does, Datagram.h what goes on the wire).
//
// Every exported function runs its body under Guarded: no C++ exception reaches the caller,
// who may be C; an unexpected one becomes HP_E_INTERNAL with its text in HEIErrorDetail.
#include "ecom/heipas/hei_pas.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "ecom/heipas/Datagram.h"
#include "ecom/heipas/ModuleList.h"
#include "ecom/heipas/UdpSocket.h"

static_assert(sizeof(HEIDevice) == 78, "the device record is 78 bytes");

namespace heipas {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kVersion = 2;
constexpr std::uint16_t kDefaultTimeoutMs = 55;
constexpr std::uint16_t kMaxRetries = 10;
// One CCM request holds its caller at most this long, whatever the device's time-out and
// retries ask: a host thread (a panel's UI thread) must get control back.
constexpr auto kMaxCallTime = std::chrono::milliseconds(HP_MAX_CALL_MS);

// A transport: its socket, bound to the interface of the modules, and the module list read
// when it was opened.
struct Transport {
  UdpSocket socket;
  std::vector<ModuleAddress> modules;
  std::string source;  // where the list came from
};

// A sequence number no earlier process is likely to have used, so that a module (or a stale
// datagram still in flight) from another run is not taken for this one's.
std::uint32_t RandomSequenceStart() {
  std::uint32_t seed;
  try {
    seed = std::random_device{}();
  } catch (const std::exception&) {
    seed = static_cast<std::uint32_t>(Clock::now().time_since_epoch().count()) ^
           (static_cast<std::uint32_t>(::getpid()) << 16);
  }
  return seed == 0 ? 1 : seed;
}

// What the library holds for one thread: whether it is open, its transports, the detail of the
// last failure and the trace.
struct ThreadState {
  bool open = false;
  std::uint32_t nextToken = 1;
  std::uint32_t nextSequence = RandomSequenceStart();
  std::map<std::uint32_t, Transport> transports;
  std::string detail;
  HEITraceFunction trace = nullptr;
  void* traceContext = nullptr;
};

ThreadState& State() {
  thread_local ThreadState state;
  return state;
}

int Fail(int code, std::string detail) {
  State().detail = std::move(detail);
  return code;
}

template <class Body>
int Guarded(Body&& body) noexcept {
  try {
    State().detail.clear();
    return body();
  } catch (const std::exception& e) {
    try {
      return Fail(HP_E_INTERNAL, std::string("hei_pas: ") + e.what());
    } catch (...) {
      return HP_E_INTERNAL;
    }
  } catch (...) {
    return HP_E_INTERNAL;
  }
}

std::string Dotted(std::uint32_t ipv4) {
  const std::string text = AddressText(ModuleAddress{ipv4, 0});
  return text.substr(0, text.rfind(':'));
}

void Trace(int direction, std::span<const std::uint8_t> bytes) {
  const auto& s = State();
  if (s.trace) s.trace(s.traceContext, direction, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

bool Send(const UdpSocket& socket, const ModuleAddress& to, std::span<const std::uint8_t> bytes) {
  Trace(HEI_TRACE_SENT, bytes);
  return socket.SendTo(to, bytes);
}

// The deadline is looked at before each datagram, not only when none waits: a flood of others'
// datagrams (a broadcast storm) would otherwise hold the call for as long as it lasts.
std::optional<UdpSocket::Received> Receive(const UdpSocket& socket, UdpSocket::Deadline deadline) {
  if (Clock::now() >= deadline) return std::nullopt;
  auto got = socket.ReceiveUntil(deadline);
  if (got) Trace(HEI_TRACE_RECEIVED, got->bytes);
  return got;
}

Transport* TransportOf(std::uint32_t token) {
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

// The interface the modules are reached through, so that the socket listens there only
// (loopback modules: loopback). Modules behind different interfaces, or with no route, leave
// the wildcard address of the family.
std::uint32_t BindAddressFor(const std::vector<ModuleAddress>& modules) {
  std::optional<std::uint32_t> common;
  for (const auto& m : modules) {
    const auto local = LocalAddressTowards(m);
    if (!local) return INADDR_ANY;
    if (common && *common != *local) return INADDR_ANY;
    common = local;
  }
  return common.value_or(INADDR_LOOPBACK);
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
  if (!State().open) return Fail(HP_E_NOT_OPEN, "the library is not open");
  if (!transport || !devices || !count || *count < 0 || version != kVersion)
    return Fail(HP_E_BAD_ARGUMENT, "a null record, a negative count or a version other than 2");
  const Transport* t = TransportOf(transport->Token);
  if (!t) return Fail(HP_E_NOT_OPEN, "the transport is not open");
  // An address listed twice is one module: asked once, one device.
  std::vector<ModuleAddress> list;
  for (const auto& a : t->modules)
    if (std::find(list.begin(), list.end(), a) == list.end()) list.push_back(a);

  t->socket.Drain();
  Datagram query;
  query.kind = Kind::Query;
  query.sequence = NextSequence();
  const auto bytes = Encode(query);
  // A query the system refused to send (a broadcast address, no route since the interface
  // went) is no silent module: the text names it.
  std::size_t unsent = 0;
  std::string unsentWhy;
  for (const auto& a : list) {
    if (Send(t->socket, a, bytes)) continue;
    ++unsent;
    unsentWhy = AddressText(a) + ": " + std::strerror(errno);
  }

  std::vector<std::optional<Datagram>> answers(list.size());
  std::size_t answered = 0;
  std::size_t unlisted = 0;  // answers to this query from an address not listed
  ModuleAddress lastUnlisted{};
  const auto deadline = Clock::now() + std::chrono::milliseconds(QueryMilliseconds());
  while (answered < list.size()) {
    auto got = Receive(t->socket, deadline);
    if (!got) break;
    auto reply = Parse(got->bytes);
    if (!reply || reply->kind != Kind::QueryReply || reply->sequence != query.sequence) continue;
    const auto at = std::find(list.begin(), list.end(), got->from);
    if (at == list.end()) {
      ++unlisted;
      lastUnlisted = got->from;
      continue;
    }
    auto& answer = answers[static_cast<std::size_t>(at - list.begin())];
    if (!answer) {
      answer = std::move(*reply);
      ++answered;
    }
  }

  const std::int32_t room = *count;
  std::int32_t found = 0;
  for (std::size_t i = 0; i < list.size() && found < room; ++i) {
    if (answers[i] && Keeps(filter, *answers[i])) devices[found++] = DeviceRecord(transport->Token, list[i], *answers[i]);
  }
  *count = found;
  if (found == 0) {
    // Not a failure of the call, but the user's first question: where was it looking?
    State().detail = "none of the " + std::to_string(list.size()) + " module address(es) listed in " + t->source +
                     " answered" + (answered > 0 ? " as asked" : "") + " within " +
                     std::to_string(QueryMilliseconds()) + " ms";
    if (unsent > 0)
      State().detail += "; the query could not be sent to " + std::to_string(unsent) + " of them (the last, " +
                        unsentWhy + ")";
    if (unlisted > 0)
      State().detail += "; " + std::to_string(unlisted) + (unlisted == 1 ? " answer" : " answers") +
                        " came from an address not listed (the last from " + AddressText(lastUnlisted) +
                        "), not taken";
  }
  return HP_OK;
}

// The socket of the device's transport, when the library and that transport are open.
const UdpSocket* DeviceSocket(const HEIDevice* device) {
  if (!device) return nullptr;
  const Transport* t = TransportOf(device->TransportToken);
  return t ? &t->socket : nullptr;
}

int DeviceNotOpen() { return Fail(HP_E_NOT_OPEN, "the device, its transport or the library is not open"); }

std::string ModuleText(std::uint8_t id, const ModuleAddress& a) {
  return "module " + std::to_string(id) + " at " + AddressText(a);
}

std::string StatusText(std::uint8_t status) {
  switch (status) {
    case StatusBadDataType: return "status 1, data type not served";
    case StatusBadLength: return "status 2, length not served";
    case StatusBadAddress: return "status 3, address beyond its memory";
    default: return "status " + std::to_string(status);
  }
}

int CcmRequest(HEIDevice* device, std::uint16_t write, std::uint8_t dataType, std::int16_t address,
               std::uint16_t length, std::uint8_t* buffer) {
  const UdpSocket* socket = DeviceSocket(device);
  if (!socket || !device->IsOpen) return DeviceNotOpen();
  if (write > 1 || dataType < 0x31 || dataType > 0x33 || (length > 0 && !buffer))
    return Fail(HP_E_BAD_ARGUMENT, "a write flag other than 0 and 1, a data type outside 31h..33h or a null buffer");
  if (length > kMaxCcmLength)
    return Fail(HP_E_TOO_LONG, "a CCM length of " + std::to_string(length) + " bytes is over " +
                                   std::to_string(kMaxCcmLength));

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
  // Named only when a failure is told: a good request builds no text.
  const auto module = [&] { return ModuleText(request.moduleId, to); };

  int refused = HP_E_TIMEOUT;  // the code of the last datagram refused, if any
  std::string why;
  // Datagrams from another address or port (a NAT rewriting the module's port, another
  // module, a spoofer): never an answer, but a failure that hides them sends the user to a
  // module that did answer.
  int elsewhere = 0;
  ModuleAddress lastElsewhere{};
  const int attempts = 1 + std::min(device->Retries, kMaxRetries);
  const auto callEnd = Clock::now() + kMaxCallTime;
  int made = 0;
  for (; made < attempts; ++made) {
    const auto start = Clock::now();
    if (start >= callEnd) break;
    if (!Send(*socket, to, bytes)) return Fail(HP_E_SEND, "cannot send to " + module() + ": " + std::strerror(errno));
    // Every attempt carries the same sequence number, so a late answer to an earlier one counts.
    const auto deadline = std::min(start + std::chrono::milliseconds(device->TimeoutMs), callEnd);
    while (auto got = Receive(*socket, deadline)) {
      if (!(got->from == to)) {  // not the module asked: not an answer at all
        ++elsewhere;
        lastElsewhere = got->from;
        continue;
      }
      const auto reply = Parse(got->bytes);
      if (!reply) {
        refused = HP_E_BAD_REPLY;
        why = module() + " answered with a datagram that failed its check or its layout";
        continue;
      }
      if (reply->kind != Kind::CcmReply || reply->sequence != request.sequence) continue;  // a stale answer
      if (reply->moduleId != request.moduleId) {
        refused = HP_E_WRONG_MODULE;
        why = "the module at " + AddressText(to) + " answered as module " + std::to_string(reply->moduleId);
        continue;
      }
      if (reply->write != request.write || reply->dataType != dataType || reply->address != request.address ||
          reply->length != length) {
        refused = HP_E_BAD_REPLY;
        why = module() + " answered another request than the one asked";
        continue;
      }
      if (reply->status != StatusOk)
        return Fail(HP_E_MODULE_BASE + reply->status, module() + " refused the request: " + StatusText(reply->status));
      if (!write && length > 0) std::memcpy(buffer, reply->data.data(), length);
      return HP_OK;
    }
  }
  if (refused == HP_E_TIMEOUT)
    why = "no answer from " + module() + " to " + std::to_string(made) + " attempt" + (made == 1 ? "" : "s") + " of " +
          std::to_string(device->TimeoutMs) + " ms";
  if (elsewhere > 0)
    why += "; " + std::to_string(elsewhere) + (elsewhere == 1 ? " datagram" : " datagrams") +
           " came from elsewhere meanwhile (the last from " + AddressText(lastElsewhere) +
           "), not taken as the module's answer";
  return Fail(refused, why);
}

}  // namespace
}  // namespace heipas

using namespace heipas;

extern "C" {

int PASCAL_HEIOpen(uint16_t version) {
  return Guarded([&] {
    if (version != kVersion) return Fail(HP_E_BAD_ARGUMENT, "interface version " + std::to_string(version) + ", not 2");
    auto& s = State();
    s.open = true;
    s.trace = nullptr;
    s.traceContext = nullptr;
    return HP_OK;
  });
}

int PASCAL_HEIOpenTransport(HEITransport* transport, uint16_t version, uint32_t /*netAddress*/) {
  return Guarded([&] {
    auto& s = State();
    if (!s.open) return Fail(HP_E_NOT_OPEN, "the library is not open");
    if (!transport || version != kVersion) return Fail(HP_E_BAD_ARGUMENT, "a null record or a version other than 2");
    if (transport->Transport != HP_TRANSPORT_WINSOCK)
      return Fail(HP_E_BAD_PROTOCOL, "transport kind " + std::to_string(transport->Transport) + ", not 4");
    if (transport->Protocol == HP_PROTOCOL_IPX) return Fail(HP_E_NO_IPX, "IPX is not available on this platform");
    if (transport->Protocol != HP_PROTOCOL_UDP_IP)
      return Fail(HP_E_BAD_PROTOCOL, "protocol " + std::to_string(transport->Protocol) + ", neither 2 nor 3");
    ConfiguredList list = ConfiguredModules();
    if (!list.modules) return Fail(HP_E_CONFIG, list.error);
    const std::uint32_t local = BindAddressFor(*list.modules);
    auto socket = UdpSocket::Bind(local, 0);
    if (!socket) return Fail(HP_E_SOCKET, "cannot bind a UDP socket on " + Dotted(local) + ": " + std::strerror(errno));
    // Opening a record again replaces its transport instead of leaking the first socket.
    s.transports.erase(transport->Token);
    const std::uint32_t token = s.nextToken++;
    s.transports.emplace(token, Transport{std::move(*socket), std::move(*list.modules), std::move(list.source)});
    transport->Token = token;
    return HP_OK;
  });
}

int PASCAL_HEIQueryDevices(HEITransport* transport, HEIDevice* devices, int32_t* count, uint16_t version) {
  return Guarded([&] { return Query(transport, devices, count, version, QueryFilter{}); });
}

int PASCAL_HEIQueryDeviceData(HEITransport* transport, HEIDevice* devices, int32_t* count, uint16_t version,
                              uint16_t dataType, const uint8_t* data, uint16_t dataLength) {
  return Guarded([&] {
    if ((dataType != HP_DATA_MODULE_ID && dataType != HP_DATA_NAME) || (!data && dataLength > 0))
      return Fail(HP_E_BAD_ARGUMENT, "a data type other than 16h and 20h, or no data");
    QueryFilter f{dataType, data ? std::string(reinterpret_cast<const char*>(data), dataLength) : std::string()};
    if (dataType == HP_DATA_NAME) {
      while (!f.value.empty() && (f.value.back() == ' ' || f.value.back() == '\0')) f.value.pop_back();
    }
    return Query(transport, devices, count, version, f);
  });
}

int PASCAL_HEIOpenDevice(HEITransport* transport, HEIDevice* device, uint16_t version, uint16_t timeoutMs,
                         uint16_t retries, int16_t* /*flag*/) {
  return Guarded([&] {
    if (!State().open) return Fail(HP_E_NOT_OPEN, "the library is not open");
    if (!transport || !device || version != kVersion)
      return Fail(HP_E_BAD_ARGUMENT, "a null record or a version other than 2");
    if (!TransportOf(transport->Token) || device->TransportToken != transport->Token) return DeviceNotOpen();
    device->TimeoutMs = timeoutMs == 0 ? kDefaultTimeoutMs : timeoutMs;
    device->Retries = std::min(retries, kMaxRetries);
    device->IsOpen = 1;
    return HP_OK;
  });
}

int PASCAL_HEIReadSetupData(HEIDevice* device, uint16_t setupType, uint8_t* buffer, int16_t* length) {
  return Guarded([&] {
    if (!DeviceSocket(device)) return DeviceNotOpen();
    if (!buffer || !length) return Fail(HP_E_BAD_ARGUMENT, "a null buffer or length");
    if (setupType != HP_SETUP_MODULE_ID)
      return Fail(HP_E_SETUP_TYPE, "setup type " + std::to_string(setupType) + ", not 20h");
    if (*length < 4) return Fail(HP_E_BUFFER_SMALL, "a setup buffer of fewer than 4 bytes");
    buffer[0] = device->ModuleId;
    buffer[1] = buffer[2] = buffer[3] = 0;
    *length = 4;
    return HP_OK;
  });
}

int PASCAL_HEIReadDeviceDef(HEIDevice* device, uint8_t* buffer, uint16_t length) {
  return Guarded([&] {
    if (!DeviceSocket(device)) return DeviceNotOpen();
    if (!buffer) return Fail(HP_E_BAD_ARGUMENT, "a null buffer");
    if (length < 3) return Fail(HP_E_BUFFER_SMALL, "a definition buffer of fewer than 3 bytes");
    // The record comes back from the caller: its name length is not trusted beyond the name.
    const std::size_t name = std::min<std::size_t>(device->NameLength, sizeof device->Name);
    std::memset(buffer, 0, length);
    buffer[0] = device->ModuleId;
    buffer[1] = static_cast<std::uint8_t>(name);
    buffer[2] = device->DeviceType;
    std::memcpy(buffer + 3, device->Name, std::min<std::size_t>(name, length - 3u));
    return HP_OK;
  });
}

int PASCAL_HEICCMRequest(HEIDevice* device, uint16_t write, uint8_t dataType, int16_t address, uint16_t length,
                         uint8_t* buffer) {
  return Guarded([&] { return CcmRequest(device, write, dataType, address, length, buffer); });
}

int PASCAL_HEICloseDevice(HEIDevice* device) {
  return Guarded([&] {
    if (!DeviceSocket(device)) return DeviceNotOpen();
    device->IsOpen = 0;
    return HP_OK;
  });
}

int PASCAL_HEICloseTransport(HEITransport* transport) {
  return Guarded([&] {
    auto& s = State();
    if (!transport || !s.open || s.transports.erase(transport->Token) == 0)
      return Fail(HP_E_NOT_OPEN, "the transport is not open");
    transport->Token = 0;
    return HP_OK;
  });
}

int PASCAL_HEIClose(void) {
  return Guarded([&] {
    auto& s = State();
    if (!s.open) return Fail(HP_E_NOT_OPEN, "the library is not open");
    s.transports.clear();
    s.open = false;
    s.trace = nullptr;
    s.traceContext = nullptr;
    return HP_OK;
  });
}

const char* HEIErrorDetail(void) {
  try {
    return State().detail.c_str();
  } catch (...) {
    return "";
  }
}

int HEISetTrace(HEITraceFunction trace, void* context) {
  return Guarded([&] {
    auto& s = State();
    if (!s.open) return Fail(HP_E_NOT_OPEN, "the library is not open");
    s.trace = trace;
    s.traceContext = trace ? context : nullptr;
    return HP_OK;
  });
}

}  // extern "C"
