#pragma once
// A hei_pas that the test scripts: modules with IDs, the return code of each call, and a log of
// every call with the arguments that matter.
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ecom/CcmForm.h"
#include "ecom/HeiPasApi.h"

namespace plc::ecom::test {

struct FakeModules {
  std::vector<std::uint8_t> ids;              // one device per entry, in query order
  std::vector<std::string> log;               // "Open 2", "CCM r 31 1 6", ...
  std::deque<int> ccmResults;                 // codes of the next CCM requests (then 0)
  std::vector<std::uint8_t> replyBytes;       // what a read returns
  std::vector<std::uint8_t> written;          // what the last write sent
  std::uint16_t protocolSeen = 0;
  std::uint16_t timeoutSeen = 0;
  int openTransportResult = 0;
  int queryResult = 0;
  std::uint8_t deviceType = 1;
  int openCount = 0, closeCount = 0;
  std::string detail;                         // what ErrorDetail gives
  bool traced = false;                        // SetTrace was given a hook
};

class FakeHeiPas final : public HeiPasApi {
 public:
  explicit FakeHeiPas(std::shared_ptr<FakeModules> m) : m_(std::move(m)) {}
  int Open(std::uint16_t version) override {
    ++m_->openCount;
    return Log("Open " + std::to_string(version));
  }
  int OpenTransport(HEITransport& t, std::uint16_t, std::uint32_t) override {
    m_->protocolSeen = t.Protocol;
    Log("OpenTransport " + std::to_string(t.Transport) + " " + std::to_string(t.Protocol));
    return m_->openTransportResult;
  }
  int QueryDevices(HEITransport&, HEIDevice* devices, std::int32_t& count, std::uint16_t) override {
    Log("QueryDevices room " + std::to_string(count));
    if (m_->queryResult != 0) return m_->queryResult;  // the count as it was: the room offered
    count = static_cast<std::int32_t>(m_->ids.size());
    for (std::size_t i = 0; i < m_->ids.size(); ++i) devices[i].ModuleId = m_->ids[i];
    return m_->queryResult;
  }
  int QueryDeviceData(HEITransport&, HEIDevice*, std::int32_t&, std::uint16_t, std::uint16_t, const std::uint8_t*,
                      std::uint16_t) override {
    return Log("QueryDeviceData");
  }
  int OpenDevice(HEITransport&, HEIDevice& d, std::uint16_t, std::uint16_t timeout, std::uint16_t retries,
                 std::int16_t&) override {
    m_->timeoutSeen = timeout;
    return Log("OpenDevice " + std::to_string(d.ModuleId) + " " + std::to_string(timeout) + " " +
               std::to_string(retries));
  }
  int ReadSetupData(HEIDevice& d, std::uint16_t type, std::uint8_t* buffer, std::int16_t& length) override {
    buffer[0] = d.ModuleId;
    return Log("ReadSetupData " + std::to_string(type) + " " + std::to_string(length));
  }
  int ReadDeviceDef(HEIDevice&, std::uint8_t* buffer, std::uint16_t length) override {
    buffer[2] = m_->deviceType;
    return Log("ReadDeviceDef " + std::to_string(length));
  }
  int CcmRequest(HEIDevice& d, std::uint16_t write, std::uint8_t type, std::int16_t address, std::uint16_t length,
                 std::uint8_t* buffer) override {
    Log("CCM " + std::string(write ? "w " : "r ") + std::to_string(d.ModuleId) + " " + std::to_string(type) + " " +
        std::to_string(address) + " " + std::to_string(length));
    int rc = 0;
    if (!m_->ccmResults.empty()) {
      rc = m_->ccmResults.front();
      m_->ccmResults.pop_front();
    }
    if (rc == 0 && write) m_->written.assign(buffer, buffer + length);
    if (rc == 0 && !write && !m_->replyBytes.empty())
      std::memcpy(buffer, m_->replyBytes.data(), std::min<std::size_t>(length, m_->replyBytes.size()));
    return rc;
  }
  int CloseDevice(HEIDevice& d) override { return Log("CloseDevice " + std::to_string(d.ModuleId)); }
  int CloseTransport(HEITransport&) override { return Log("CloseTransport"); }
  int Close() override {
    ++m_->closeCount;
    return Log("Close");
  }
  std::string ErrorDetail() override { return m_->detail; }
  void SetTrace(TraceHook hook) override { m_->traced = static_cast<bool>(hook); }

 private:
  int Log(std::string entry) {
    m_->log.push_back(std::move(entry));
    return 0;
  }
  std::shared_ptr<FakeModules> m_;
};

// A loader that hands out a fake over m.
inline CcmForm::ApiLoader FakeLoader(std::shared_ptr<FakeModules> m) {
  return [m](std::string&) -> std::unique_ptr<HeiPasApi> { return std::make_unique<FakeHeiPas>(m); };
}

}  // namespace plc::ecom::test
