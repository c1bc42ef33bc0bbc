#pragma once
// libmodbus as the other side of each comparison: an RTU client and an RTU server at the
// bench's line settings. Only LibmodbusPeer.cpp sees libmodbus's header.
#include <cstdint>
#include <memory>
#include <string>

struct _modbus;
struct _modbus_mapping_t;

namespace plc::bench {

// A connected RTU context of unit 1; throws std::runtime_error when the device cannot open.
class LibmodbusRtu {
 public:
  explicit LibmodbusRtu(const std::string& device);
  ~LibmodbusRtu();
  LibmodbusRtu(const LibmodbusRtu&) = delete;
  LibmodbusRtu& operator=(const LibmodbusRtu&) = delete;

  // modbus_read_registers and modbus_write_registers: the count done, -1 on failure.
  int ReadRegisters(int offset, int count, std::uint16_t* values);
  int WriteRegisters(int offset, int count, const std::uint16_t* values);

 protected:
  _modbus* Context() const { return ctx_; }

 private:
  _modbus* ctx_ = nullptr;
};

// libmodbus's own server loop step over holding registers 0..count-1.
class LibmodbusServer : private LibmodbusRtu {
 public:
  LibmodbusServer(const std::string& device, int registers);
  ~LibmodbusServer();
  LibmodbusServer(const LibmodbusServer&) = delete;
  LibmodbusServer& operator=(const LibmodbusServer&) = delete;

  // modbus_receive, and modbus_reply to what came; returns after one request, or after 50 ms
  // without one so that a caller can look at its stop flag.
  void ServeOne();

 private:
  _modbus_mapping_t* map_ = nullptr;
};

}  // namespace plc::bench
