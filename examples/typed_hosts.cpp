// The four controls through their typed headers, as a host that drives more than one kind of
// PLC would use them: each created, its properties set and read back, a conversion method
// called with its by-reference results, and a read on a closed port failing with its cause.
// Given a DirectNET station's device, SeqLink reads V2000 from it; with HEI_PAS_MODULES set,
// UdpLink reads V2000 from that ECOM module. Both reads name the address as a literal and get
// the values back in a Variant; either failing prints its cause and makes the exit status 1.
//
//   typed_hosts                     prints one line per control
//   typed_hosts /dev/ttyUSB0        and SeqLink reads V2000 (9600,o,8,1, station 1)
#include <cstdlib>
#include <iostream>
#include <string>

#include <plclink/DfLink.h>
#include <plclink/RtuLink.h>
#include <plclink/SeqLink.h>
#include <plclink/UdpLink.h>

int main(int argc, char** argv) {
  bool readFailed = false;  // a read asked for on the command line failed: exit status 1
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
    if (argc > 1) {
      plc::SerialPortMap::Current().Map(1, argv[1]);
      seq.SetCommPort(1);
      seq.SetSettings("9600,o,8,1");
      seq.SetPortOpen(true);
      plc::Variant v2000;
      r = seq.ReadPLC("V,2000", v2000);
      if (r == plc::ResultOk) std::cout << "SeqLink read " << r << ": V2000 = " << v2000.ToString() << "\n";
      else std::cout << "SeqLink read " << r << ": " << seq.FailureCause() << "\n";
      readFailed |= r != plc::ResultOk;
    }

    plclink::DfLink df;
    df.SetNode(plc::Variant(std::int32_t{3}));
    std::cout << "DfLink node " << df.Node().ToInt32() << " mode " << df.Mode() << "\n";

    plclink::UdpLink udp;
    udp.SetDeviceTimeOut(100);
    std::cout << "UdpLink timeout " << udp.DeviceTimeOut() << " mode " << udp.CommMode() << "\n";
    if (std::getenv("HEI_PAS_MODULES")) {
      udp.SetCommMode(plc::udp::ECOM);
      udp.SetPortOpen(true);
      plc::Variant v2000;
      r = udp.ReadPLC("V,2000", v2000);
      if (r == plc::ResultOk) std::cout << "UdpLink read " << r << ": V2000 = " << v2000.ToString() << "\n";
      else std::cout << "UdpLink read " << r << ": " << udp.FailureCause() << "\n";
      readFailed |= r != plc::ResultOk;
    }
    return readFailed ? 1 : 0;
  } catch (const plc::RuntimeError& e) {
    std::cerr << "error " << e.Number() << ": " << e.what() << "\n";
    return 1;
  }
}
