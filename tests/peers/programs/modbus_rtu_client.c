/*
 * A Modbus RTU master built on libmodbus that runs a scripted list of requests on a serial
 * device and prints one line per request.
 *
 * Usage: modbus_rtu_client DEVICE [--baud N] [--parity N|E|O] [--data 7|8] [--stop 1|2]
 *                                 [--unit N] [--timeout-ms N] STEP...
 *   defaults: 9600 baud, parity N, 8 data bits, 1 stop bit, unit 1, response time-out 500 ms.
 * Steps (offsets are zero-based protocol addresses):
 *   r1:OFFSET:COUNT   read coils               w5:OFFSET:0|1        write one coil
 *   r2:OFFSET:COUNT   read discrete inputs     w6:OFFSET:VALUE      write one register
 *   r3:OFFSET:COUNT   read holding registers   w15:OFFSET:B,B,...   write coils
 *   r4:OFFSET:COUNT   read input registers     w16:OFFSET:V,V,...   write registers
 *   unit:N            unit of the steps that follow
 *   timeout:MS        response time-out of the steps that follow
 * Output, one line per read or write step:
 *   OK <step> <offset> <v1> ... <vn>      a read: the values (registers unsigned)
 *   OK <step> <offset> <n>                a write: the count the server confirmed
 *   ERR <step> <offset> <NAME>: <text>    NAME is ETIMEDOUT, EMBBADCRC, EMBBADSLAVE,
 *                                         EMBBADDATA, EMBMDATA, EMBX<code> for an exception
 *                                         reply, or E<errno>; text is modbus_strerror's
 * Exit status: 0 when every step succeeded, 1 when one failed, 2 usage error, 3 the device
 * cannot be opened.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <modbus.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kMaxValues = 2000 };

struct Options {
  const char* device;
  int baud;
  char parity;
  int dataBits;
  int stopBits;
  int unit;
  int timeoutMs;
  int firstStep;
};

static int ParseNumber(const char* text, long low, long high, long* value) {
  char* end = NULL;
  errno = 0;
  long v = strtol(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return 0;
  *value = v;
  return 1;
}

static int ParseOptions(int argc, char** argv, struct Options* o) {
  *o = (struct Options){NULL, 9600, 'N', 8, 1, 1, 500, argc};
  int i = 1;
  for (; i < argc; ++i) {
    const char* a = argv[i];
    long v;
    if (strncmp(a, "--", 2) != 0) {
      if (o->device) break;
      o->device = a;
      continue;
    }
    if (i + 1 >= argc) return 0;
    if (strcmp(a, "--parity") == 0) {
      const char* p = argv[++i];
      if (strlen(p) != 1 || !strchr("NEOneo", p[0])) return 0;
      o->parity = (char)(p[0] & ~0x20);
      continue;
    }
    if (!ParseNumber(argv[++i], 0, 10000000, &v)) return 0;
    if (strcmp(a, "--baud") == 0 && v > 0) o->baud = (int)v;
    else if (strcmp(a, "--data") == 0 && (v == 7 || v == 8)) o->dataBits = (int)v;
    else if (strcmp(a, "--stop") == 0 && (v == 1 || v == 2)) o->stopBits = (int)v;
    else if (strcmp(a, "--unit") == 0 && v <= 255) o->unit = (int)v;
    else if (strcmp(a, "--timeout-ms") == 0 && v > 0) o->timeoutMs = (int)v;
    else return 0;
  }
  o->firstStep = i;
  return o->device != NULL && i < argc;
}

static void SetTimeout(modbus_t* ctx, int ms) {
  modbus_set_response_timeout(ctx, (uint32_t)(ms / 1000), (uint32_t)(ms % 1000) * 1000);
}

static const char* ErrorName(int code, char* buffer, size_t size) {
  if (code == ETIMEDOUT) return "ETIMEDOUT";
  if (code == EMBBADCRC) return "EMBBADCRC";
  if (code == EMBBADSLAVE) return "EMBBADSLAVE";
  if (code == EMBBADDATA) return "EMBBADDATA";
  if (code == EMBMDATA) return "EMBMDATA";
  if (code == EMBBADEXC) return "EMBBADEXC";
  if (code > MODBUS_ENOBASE && code <= EMBXGTAR) {
    snprintf(buffer, size, "EMBX%d", code - MODBUS_ENOBASE);
    return buffer;
  }
  snprintf(buffer, size, "E%d", code);
  return buffer;
}

/* Splits "V,V,..." into values in low..high; returns the count, 0 on a malformed list. */
static int ParseList(char* text, long low, long high, long* out) {
  int n = 0;
  for (char* tok = strtok(text, ","); tok; tok = strtok(NULL, ",")) {
    if (n == kMaxValues || !ParseNumber(tok, low, high, &out[n])) return 0;
    ++n;
  }
  return n;
}

/* Runs one step; returns 1 when it succeeded, 0 when it failed, -1 when it is malformed. */
static int RunStep(modbus_t* ctx, const char* stepText) {
  char step[256];
  if (strlen(stepText) >= sizeof step) return -1;
  strcpy(step, stepText);
  char* op = strtok(step, ":");
  char* first = strtok(NULL, ":");
  char* rest = strtok(NULL, "");
  long v;
  if (!op || !first) return -1;
  if (strcmp(op, "unit") == 0) {
    if (rest || !ParseNumber(first, 0, 255, &v)) return -1;
    modbus_set_slave(ctx, (int)v);
    return 1;
  }
  if (strcmp(op, "timeout") == 0) {
    if (rest || !ParseNumber(first, 1, 60000, &v)) return -1;
    SetTimeout(ctx, (int)v);
    return 1;
  }
  long offset;
  if (!rest || !ParseNumber(first, 0, 65535, &offset)) return -1;
  static const char* const kOps[] = {"r1", "r2", "r3", "r4", "w5", "w6", "w15", "w16"};
  int which = -1;
  for (int i = 0; i < 8; ++i)
    if (strcmp(op, kOps[i]) == 0) which = i;
  if (which < 0) return -1;

  long values[kMaxValues];
  uint16_t words[kMaxValues];
  uint8_t bits[kMaxValues];
  int count = 0;
  int rc = -1;
  if (which <= 3) {
    if (!ParseNumber(rest, 1, kMaxValues, &v)) return -1;
    count = (int)v;
  } else if (which == 4 || which == 6) {
    count = ParseList(rest, 0, 1, values);
  } else {
    count = ParseList(rest, -32768, 65535, values);
  }
  if (count == 0) return -1;
  for (int i = 0; i < count; ++i) {
    words[i] = (uint16_t)values[i];
    bits[i] = (uint8_t)values[i];
  }
  switch (which) {
    case 0: rc = modbus_read_bits(ctx, (int)offset, count, bits); break;
    case 1: rc = modbus_read_input_bits(ctx, (int)offset, count, bits); break;
    case 2: rc = modbus_read_registers(ctx, (int)offset, count, words); break;
    case 3: rc = modbus_read_input_registers(ctx, (int)offset, count, words); break;
    case 4: rc = count == 1 ? modbus_write_bit(ctx, (int)offset, bits[0]) : -2; break;
    case 5: rc = count == 1 ? modbus_write_register(ctx, (int)offset, words[0]) : -2; break;
    case 6: rc = modbus_write_bits(ctx, (int)offset, count, bits); break;
    case 7: rc = modbus_write_registers(ctx, (int)offset, count, words); break;
  }
  if (rc == -2) return -1;
  if (rc < 0) {
    int code = errno;
    char name[32];
    printf("ERR %s %ld %s: %s\n", op, offset, ErrorName(code, name, sizeof name), modbus_strerror(code));
    fflush(stdout);
    modbus_flush(ctx); /* what is left of a broken reply must not spoil the next step */
    return 0;
  }
  printf("OK %s %ld", op, offset);
  if (which <= 1) {
    for (int i = 0; i < rc; ++i) printf(" %u", (unsigned)bits[i]);
  } else if (which <= 3) {
    for (int i = 0; i < rc; ++i) printf(" %u", (unsigned)words[i]);
  } else {
    printf(" %d", rc);
  }
  printf("\n");
  fflush(stdout);
  return 1;
}

int main(int argc, char** argv) {
  struct Options o;
  if (!ParseOptions(argc, argv, &o)) {
    fprintf(stderr,
            "usage: %s DEVICE [--baud N] [--parity N|E|O] [--data 7|8] [--stop 1|2] [--unit N]\n"
            "       [--timeout-ms N] STEP...   (steps: r1 r2 r3 r4:OFFSET:COUNT, w5 w6:OFFSET:VALUE,\n"
            "       w15 w16:OFFSET:V,V,..., unit:N, timeout:MS)\n",
            argv[0]);
    return 2;
  }
  modbus_t* ctx = modbus_new_rtu(o.device, o.baud, o.parity, o.dataBits, o.stopBits);
  if (!ctx || modbus_set_slave(ctx, o.unit) != 0 || modbus_connect(ctx) != 0) {
    printf("ERROR cannot open %s: %s\n", o.device, modbus_strerror(errno));
    if (ctx) modbus_free(ctx);
    return 3;
  }
  modbus_flush(ctx);
  SetTimeout(ctx, o.timeoutMs);
  int status = 0;
  for (int i = o.firstStep; i < argc; ++i) {
    int ok = RunStep(ctx, argv[i]);
    if (ok < 0) {
      fprintf(stderr, "malformed step: %s\n", argv[i]);
      status = 2;
      break;
    }
    if (ok == 0) status = 1;
  }
  modbus_close(ctx);
  modbus_free(ctx);
  return status;
}
