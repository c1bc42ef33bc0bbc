// plclink: a host for the link controls that knows none of their headers. It loads each
// control's plug-in library by name and drives it through its members by name.
#include <string>
#include <vector>
#include <iostream>

#include "tools/plclink/Demo.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "demo") return plc::plclink::RunDemo();
  std::cerr << "usage: plclink demo\n";
  return 2;
}
