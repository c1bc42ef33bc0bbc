#include "bench/LibmodbusPeer.h"

#include <modbus.h>

#include <cerrno>
#include <stdexcept>

#include "bench/LineSettings.h"

namespace plc::bench {

LibmodbusRtu::LibmodbusRtu(const std::string& device) : ctx_(modbus_new_rtu(device.c_str(), kBaud, 'N', 8, 1)) {
  if (!ctx_) throw std::runtime_error("modbus_new_rtu " + device + ": " + modbus_strerror(errno));
  if (modbus_set_slave(ctx_, kUnit) != 0 || modbus_connect(ctx_) != 0) {
    std::string why = modbus_strerror(errno);
    modbus_free(ctx_);
    throw std::runtime_error("libmodbus cannot open " + device + ": " + why);
  }
  modbus_flush(ctx_);
}

LibmodbusRtu::~LibmodbusRtu() {
  modbus_close(ctx_);
  modbus_free(ctx_);
}

int LibmodbusRtu::ReadRegisters(int offset, int count, std::uint16_t* values) {
  return modbus_read_registers(ctx_, offset, count, values);
}

int LibmodbusRtu::WriteRegisters(int offset, int count, const std::uint16_t* values) {
  return modbus_write_registers(ctx_, offset, count, values);
}

LibmodbusServer::LibmodbusServer(const std::string& device, int registers)
    : LibmodbusRtu(device), map_(modbus_mapping_new(0, 0, registers, 0)) {
  if (!map_) throw std::runtime_error("modbus_mapping_new failed");
  modbus_set_indication_timeout(Context(), 0, 50'000);
}

LibmodbusServer::~LibmodbusServer() { modbus_mapping_free(map_); }

void LibmodbusServer::ServeOne() {
  std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
  int length = modbus_receive(Context(), request);
  if (length > 0) modbus_reply(Context(), request, length, map_);
}

}  // namespace plc::bench
