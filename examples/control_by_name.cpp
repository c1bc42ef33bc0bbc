// Loads a control's plug-in by name and drives it through the dispatch interface only: the
// host knows no control's header. Reads COUNT values from ADDRESS and prints them.
//
//   control_by_name CONTROL DEVICE ADDRESS [COUNT [SETTINGS]]
//   e.g. control_by_name rtulink /dev/ttyUSB0 40001 4
#include <cstdlib>
#include <iostream>
#include <string>

#include <plclink/PlcLink.h>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: control_by_name CONTROL DEVICE ADDRESS [COUNT [SETTINGS]]\n";
    return 2;
  }
  try {
    plc::StandaloneHost host;
    plc::PluginControl control = plc::PluginControl::Load(argv[1]);
    control->SetHost(&host);
    control->Initialize();
    control->InitProperties();
    control->Show();
    std::cout << control->ClassName() << " from " << control.LibraryPath() << ", "
              << control->Members().size() << " members\n";

    plc::SerialPortMap::Current().Map(1, argv[2]);
    control->SetProperty("CommPort", plc::Variant(std::int16_t{1}));
    control->SetProperty("Settings", plc::Variant(argc > 5 ? argv[5] : "9600,n,8,1"));
    control->SetProperty("PortOpen", plc::Variant(true));

    std::int16_t count = static_cast<std::int16_t>(argc > 4 ? std::atoi(argv[4]) : 1);
    // By-reference arguments are written back into the Variants passed.
    plc::Variant address(argv[3]), values(plc::VariantArray(1, count)), size(count);
    plc::Variant result = control->Invoke("ReadPLC", {&address, &values, &size});
    if (result.ToInt16() != plc::ResultOk) {
      // FailureCause() says why; ReadErrors, the classic member, is empty after a time-out.
      std::cerr << "ReadPLC: result " << result.ToInt16() << ": " << control->FailureCause() << "\n";
      return 1;
    }
    for (std::int32_t i = values.Array().Lower(); i <= values.Array().Upper(); ++i)
      std::cout << (i == values.Array().Lower() ? "" : " ") << values.Array()[i].ToString();
    std::cout << "\n";
    control->SetProperty("PortOpen", plc::Variant(false));
    return 0;
  } catch (const plc::RuntimeError& e) {
    std::cerr << "error " << e.Number() << ": " << e.what() << "\n";
    return 1;
  }
}
