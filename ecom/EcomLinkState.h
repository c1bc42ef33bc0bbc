#pragma once
// The ECOM side of UdpLink's shared link state: one record per thread, shared by every UdpLink
// on it, with the operations that change its flags. The transport (CCM_FORM) hangs off it and
// is made on first use.
#include <cstdint>
#include <memory>
#include <string>

#include "ecom/CcmForm.h"

namespace plc::ecom {

struct EcomLinkState {
  EcomLinkState() = default;
  ~EcomLinkState();
  EcomLinkState(EcomLinkState&&) = default;
  EcomLinkState& operator=(EcomLinkState&&) = default;
  bool EcomOpen = false;          // the last EtherCCMOpen left the error text empty
  bool EcomBusy = false;          // an ECOM request runs
  bool CallActive = false;        // a waiting read runs
  bool WriteCallActive = false;   // a write call runs: reads are refused meanwhile
  bool WriteQueueActive = false;  // a write call runs: the scan-read tick stands aside
  std::int16_t DefaultStation = 1;
  std::int16_t Protocol = 3;
  std::int16_t DeviceTimeOut = 55;
  std::string ErrorText;  // CurrentErrors
  // The words of the latest read; ReadData reads them. The DirectNET engine of the serial
  // modes is to take this array as its ReadWords.
  CcmWordArray CcmWords{};
  int Controls = 0;       // UdpLinks alive on this thread

  // How the transport loads hei_pas: the library by name, or a test's own.
  CcmForm::ApiLoader Loader = LoadHeiPasLibrary;

  CcmForm& Form();
  bool HasForm() const { return form_ != nullptr; }

  // PortOpen in ECOM mode: opens (again) with the protocol and time-out copies.
  void Open();
  // Closes the transport if it is open; EcomOpen becomes False. The close status is returned.
  std::string Close();
  // CommBusy.
  bool Busy() const { return EcomBusy || CallActive || WriteCallActive; }
  // CommBusy = False, and the reset after the 2-s busy wait.
  void FreeLink() { EcomBusy = CallActive = WriteCallActive = false; }
  // Back to a fresh thread's state (tests).
  void Reset();

 private:
  std::unique_ptr<CcmForm> form_;
};

// This thread's record.
EcomLinkState& EcomLink();

}  // namespace plc::ecom
