// The four controls through their typed headers, as a host that drives more than one kind of
// PLC would use them: each created, its properties set and read back, a conversion method
// called with its by-reference results, and a read on a closed port failing with its cause.
//
//   typed_hosts          prints one line per control
#include <iostream>
#include <string>

#include <plclink/DfLink.h>
#include <plclink/RtuLink.h>
#include <plclink/SeqLink.h>
#include <plclink/UdpLink.h>

int main() {
  try {
    plclink::RtuLink rtu;
    rtu.SetAddress(7);
    rtu.SetModBusMode(plc::rtu::Ascii);
    float dec = 1.5f;
    std::int32_t high = 0, low = 0;
    rtu.DecToLongFloat(dec, high, low);  // by reference: the words come back
    plc::VariantArray values(1, 2);
    plc::Result r = rtu.ReadPLC("40001", values, 2);
    std::cout << "RtuLink unit " << rtu.Address() << " mode " << rtu.ModBusMode() << " words " << high << " "
              << low << " read " << r << ": " << rtu.FailureCause() << "\n";

    plclink::SeqLink seq;
    seq.SetCommMode(plc::seq::DIrectNet);
    std::string octal = "2000";
    std::cout << "SeqLink mode " << seq.CommMode() << " V" << octal << " is " << seq.CnvOctToDec(octal) << "\n";

    plclink::DfLink df;
    df.SetNode(plc::Variant(std::int32_t{3}));
    std::cout << "DfLink node " << df.Node().ToInt32() << " mode " << df.Mode() << "\n";

    plclink::UdpLink udp;
    udp.SetDeviceTimeOut(100);
    std::cout << "UdpLink timeout " << udp.DeviceTimeOut() << " mode " << udp.CommMode() << "\n";
    return 0;
  } catch (const plc::RuntimeError& e) {
    std::cerr << "error " << e.Number() << ": " << e.what() << "\n";
    return 1;
  }
}
