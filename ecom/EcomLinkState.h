#pragma once
// UdpLink's shared link state: one record per thread, shared by every UdpLink on it, with the
// operations that change its flags. The DirectNET line state of the serial modes is part of it,
// so both paths see one set of call flags (a read is refused during a write on either) and one
// word array. The transport (CCM_FORM) hangs off it and is made on first use.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "directnet/LinkState.h"
#include "ecom/CcmForm.h"

namespace plc::ecom {

struct EcomLinkState {
  EcomLinkState() = default;
  ~EcomLinkState();
  EcomLinkState(EcomLinkState&&) = default;
  EcomLinkState& operator=(EcomLinkState&&) = default;
  bool EcomOpen = false;          // the last EtherCCMOpen left the error text empty
  bool EcomBusy = false;          // an ECOM request runs
  // The serial engine's line state. Its CallActive (a waiting read runs), WriteCallActive (a
  // write call runs: reads are refused meanwhile) and WriteQueueActive (the scan-read tick
  // stands aside) serve the ECOM requests too, and its ReadWords are CcmWords.
  dnet::LinkState Line;
  std::string ErrorText;  // CurrentErrors
  // CommProtocol and DeviceTimeOut as the last UdpLink of the thread set or loaded them: the
  // transport is the thread's, so the next open uses them, whichever control opens it.
  std::int16_t Protocol = 3;
  std::int16_t DeviceTimeOut = 55;
  // Why the last open failed, with the library's own words when it gave some (empty while
  // open, or before any open).
  std::string OpenFailure;
  // The words of the latest read on either path; ReadData reads them.
  CcmWordArray& CcmWords() { return Line.ReadWords; }
  const CcmWordArray& CcmWords() const { return Line.ReadWords; }
  int Controls = 0;       // UdpLinks alive on this thread

  // How the transport loads hei_pas: the library by name, or a test's own.
  CcmForm::ApiLoader Loader = LoadHeiPasLibrary;

  CcmForm& Form();

  // PortOpen in ECOM mode: opens (again) with the shared protocol and device time-out; the
  // library's datagrams go to trace, which belongs to owner (the control that opened).
  void Open(TraceHook trace = {}, const void* owner = nullptr);
  // PortOpen = False of owner: true when another control of the thread still holds the
  // transport open, which then stays open for it.
  bool Release(const void* owner) {
    std::erase(holders_, owner);
    return !holders_.empty();
  }
  // Whether owner's PortOpen = True opened the transport and it has not let go since.
  bool Holds(const void* owner) const { return std::find(holders_.begin(), holders_.end(), owner) != holders_.end(); }
  // The owner goes away while the transport stays open for the other controls: its trace,
  // which may call into what goes with it, is taken out of the library.
  void DropTrace(const void* owner);
  // Closes the transport if it is open; EcomOpen becomes False and why is what a later request
  // is told. The close status is returned.
  std::string Close(std::string why = "PortOpen was set to False");
  // CommBusy: an ECOM request, a waiting read, a write call or a serial transaction.
  bool Busy() const { return EcomBusy || Line.CallActive || Line.CommBusy(); }
  // CommBusy = False.
  void FreeLink() {
    EcomBusy = false;
    Line.CallActive = false;
    Line.ForceFree();
  }
  // The busy flag stayed set for 2 s: the request that set it is taken as gone.
  void ResetAfterBusyWait() {
    EcomBusy = false;
    Line.CallActive = false;
    Line.ReadBusy = false;
    Line.ReadIdle = true;
  }
  // Back to a fresh thread's state (tests).
  void Reset();

 private:
  std::unique_ptr<CcmForm> form_;
  const void* traceOwner_ = nullptr;
  std::vector<const void*> holders_;  // the controls whose PortOpen = True opened the transport
};

// This thread's record.
EcomLinkState& EcomLink();

}  // namespace plc::ecom
