#pragma once
// udplink's CCM request window: a technician's check of one ECOM module. It asks the network
// for the module by module ID or by name and runs one CCM read or write on it, the whole
// library sequence in one go ("Do Request"): open the library and a transport, query, open the
// module, read its device definition, the request, then close the module, the transport and
// the library. Every step's message goes to the result box.
//
// Every typed field is checked before anything is opened: a wrong field is named with what it
// takes, and nothing is sent. The fields:
//   module ID  decimal 0..255          name  1..32 printable characters
//   address    hexadecimal 0000..3FFF (registers: the V-memory word, V0 to V37777; inputs and
//              outputs: the byte), optionally written 0x0400 or 0400h
//   size       bytes, decimal 1..256; even for registers (two bytes a register); the request
//              must end at 3FFF or before
//   data       (write) hexadecimal values separated by blanks or commas: one word (up to four
//              digits) per register, one byte (up to two digits) per input or output byte, as
//              many as the size asks for
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plc::ecom {
class HeiPasApi;  // ecom/HeiPasApi.h: the hei_pas functions, from the library or a test's own
}

namespace plc::screens {

enum class CcmProtocol { UseIP, UseIPX };
enum class CcmQuery { ModuleId, Name };
enum class CcmDataType : std::uint8_t { Registers = 0x31, Inputs = 0x32, Outputs = 0x33 };

// The fields as the person typed and chose them.
struct CcmFields {
  CcmProtocol protocol = CcmProtocol::UseIP;
  CcmQuery query = CcmQuery::ModuleId;
  std::string moduleId = "1";
  std::string name{};
  CcmDataType dataType = CcmDataType::Registers;
  std::string address = "0000";
  std::string size = "2";
  bool write = false;
  std::string data{};
};

// A request the fields describe, checked.
struct CcmRequest {
  CcmProtocol protocol = CcmProtocol::UseIP;
  CcmQuery query = CcmQuery::ModuleId;
  std::uint8_t moduleId = 0;
  std::string name{};
  CcmDataType dataType = CcmDataType::Registers;
  std::uint16_t address = 0;  // as typed: a register's word number, or a byte address
  std::uint16_t size = 0;     // bytes
  bool write = false;
  std::vector<std::uint8_t> data{};  // the bytes a write sends (registers low byte first)
  std::uint16_t timeoutMs = 55;       // per attempt, as UdpLink's DeviceTimeOut
};

// A field that is wrong: which one ("Address") and what it takes.
struct CcmFieldError {
  std::string field;
  std::string message;  // "Address 'G000': hexadecimal 0000 to 3FFF"
};

// What Do Request said, in order, and the bytes a read brought.
struct CcmOutcome {
  bool ok = false;
  std::vector<std::string> messages{};
  std::vector<std::uint8_t> bytes{};
};

// The data type's item as the window lists it ("31 - Registers").
const char* DataTypeItem(CcmDataType type);
inline constexpr const char* kCcmAddressHint = "(0000 -> 3FFF)";
inline constexpr const char* kCcmSizeHint = "(000 -> 256)";

// The request the fields describe, or the first wrong field.
std::optional<CcmRequest> CheckCcmFields(const CcmFields& fields, CcmFieldError& error);

// The whole sequence on api. It may run on any thread: hei_pas keeps its open state per
// thread, so a request on a thread of its own leaves a UdpLink's transport on another alone.
CcmOutcome RunCcmRequest(ecom::HeiPasApi& api, const CcmRequest& request);

class CcmRequestWindow {
 public:
  using ApiLoader = std::function<std::unique_ptr<ecom::HeiPasApi>(std::string& why)>;
  // Without a loader the window binds libhei_pas.so as UdpLink does.
  explicit CcmRequestWindow(ApiLoader loader = {}) : loader_(std::move(loader)) {}

  CcmFields fields;
  std::uint16_t timeoutMs = 55;

  // Do Request: checks the fields, runs the request and shows its messages. True when the
  // request went through.
  bool DoRequest();
  // The request the fields describe, or nullopt with the wrong field's message shown.
  std::optional<CcmRequest> Check();
  // Runs a checked request here, on this thread (loading the library), without showing.
  CcmOutcome Run(const CcmRequest& request);
  // Shows what a request run elsewhere said.
  void Show(const CcmOutcome& outcome);

  // The result box, a message a line.
  const std::vector<std::string>& Results() const { return results_; }
  std::string ResultText() const;
  void ClearResults() { results_.clear(); }

 private:
  ApiLoader loader_;
  std::vector<std::string> results_;
};

}  // namespace plc::screens
