#pragma once
// Which device a CommPort number opens.
//
// CommPort n opens /dev/ttyS<n-1> unless it is mapped to another path: in code, through the
// mapping of this thread (a host pointing COM3 at a USB adapter, a test at a pseudo-terminal),
// or by the user through the environment variable QVL_COM<n>. The code mapping wins over the
// environment, so that a test or a host that maps a port explicitly is not redirected by a
// variable left in the user's shell.
#include <map>
#include <optional>
#include <string>

namespace plc {

class SerialPortMap {
 public:
  // The mapping of this thread (the controls and their ports live on one thread).
  static SerialPortMap& Current();

  // Port numbers below 1 are refused (8002); an empty path removes the mapping.
  void Map(int commPort, const std::string& path);
  void Unmap(int commPort);
  // The path mapped in code, if any.
  std::optional<std::string> Mapped(int commPort) const;
  // The device CommPort opens: the code mapping, else QVL_COM<n> when set and non-empty, else
  // /dev/ttyS<n-1>.
  std::string PathFor(int commPort) const;

 private:
  std::map<int, std::string> paths_;
};

}  // namespace plc
