/*
 * A Modbus RTU server built on libmodbus, serving the map of tests/peers/PeerMap.h on a
 * serial device (normally one end of a pseudo-terminal pair), with faults injected at the
 * magic offsets documented there.
 *
 * Usage: modbus_rtu_server DEVICE [--baud N] [--parity N|E|O] [--data 7|8] [--stop 1|2]
 *                                 [--unit N] [--late-ms N] [--gap-ms N] [--type2] [--log]
 *   defaults: 9600 baud, parity N, 8 data bits, 1 stop bit, unit 1, late 300 ms, gap 20 ms.
 *
 * Standard output, one line each:
 *   READY                         once the device is open and the server listens
 *   FAULT <name> <offset>         after a fault was acted out (see PeerMap.h)
 *   REQUEST <unit> <fn> <offset> <count>   each request taken (any unit), with --log only
 *   DROPPED <why>                 a frame with a bad CRC, an unknown function or cut short
 *                                 (with --log only)
 *   <table> <start>: <v1> ... <vn>         the answer to DUMP
 *   OK | ERROR <text>                      the answer to SET, or to a bad command
 *
 * Standard input, one command a line (tables: coils, di, ir, hr):
 *   DUMP <table> <start> <count>   print the values the server holds now
 *   SET <table> <start> <v1> ...   change them
 *   EXCEPTION <n>                  answer the next n requests for the unit (any function, any
 *                                  offset) with exception 4, printing "FAULT exception <offset>"
 *                                  for each; answers "OK <k>", k the ones still armed before
 * The server stops at end of input, on SIGTERM or SIGINT; exit status 0 then, 2 for a usage
 * error, 3 when the device cannot be opened.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <stdarg.h>
#include <modbus.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include "tests/peers/PeerMap.h"

enum { kMaxFrame = 512, kMaxLine = 4096, kFrameSilenceMs = 100 };

struct Options {
  const char* device;
  int baud;
  char parity;
  int dataBits;
  int stopBits;
  int unit;
  int lateMs;
  int gapMs;
  int type2;
  int log;
};

/* A reply that the fault handling sends later or in pieces. */
struct Pending {
  int active;
  uint8_t frame[kMaxFrame];
  size_t length;
  size_t sent;
  int64_t dueMs;
  int gapMs;
  const char* fault;
  int offset;
};

struct Server {
  struct Options options;
  modbus_t* ctx;
  modbus_mapping_t* map;
  int fd;
  struct Pending pending;
  uint8_t request[kMaxFrame];
  size_t requestLength;
  int64_t requestDeadlineMs;
  char input[kMaxLine];
  size_t inputLength;
  long exceptions; /* armed by EXCEPTION */
};

static int64_t NowMs(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static uint16_t Crc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (uint16_t)(crc >> 1);
  }
  return crc;
}

static size_t AppendCrc(uint8_t* frame, size_t length) {
  uint16_t crc = Crc16(frame, length);
  frame[length] = (uint8_t)(crc & 0xFF);
  frame[length + 1] = (uint8_t)(crc >> 8);
  return length + 2;
}

/* Function 3 reply of count registers from offset, without its CRC. */
static size_t BuildReadBody(const struct Server* s, int unit, int offset, int count, uint8_t* out) {
  out[0] = (uint8_t)unit;
  out[1] = 3;
  out[2] = (uint8_t)(2 * count);
  for (int i = 0; i < count; ++i) {
    uint16_t v = s->map->tab_registers[offset + i];
    out[3 + 2 * i] = (uint8_t)(v >> 8);
    out[4 + 2 * i] = (uint8_t)(v & 0xFF);
  }
  return 3 + 2 * (size_t)count;
}

static void WriteAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return; /* the line is gone; the master will see no reply */
    data += n;
    length -= (size_t)n;
  }
}

static void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  putchar('\n');
  fflush(stdout);
}

static void Schedule(struct Server* s, const uint8_t* frame, size_t length, int delayMs, int gapMs,
                     const char* fault, int offset) {
  struct Pending* p = &s->pending;
  memcpy(p->frame, frame, length);
  p->length = length;
  p->sent = 0;
  p->dueMs = NowMs() + delayMs;
  p->gapMs = gapMs;
  p->fault = fault;
  p->offset = offset;
  p->active = 1;
}

/* Sends what of the pending reply is due; returns the poll timeout until the next part. */
static int ServePending(struct Server* s) {
  struct Pending* p = &s->pending;
  while (p->active) {
    int64_t now = NowMs();
    if (now < p->dueMs) return (int)(p->dueMs - now);
    size_t chunk = p->gapMs > 0 ? 1 : p->length - p->sent;
    WriteAll(s->fd, p->frame + p->sent, chunk);
    p->sent += chunk;
    if (p->sent >= p->length) {
      p->active = 0;
      Say("FAULT %s %d", p->fault, p->offset);
    } else {
      p->dueMs = now + p->gapMs;
    }
  }
  return -1;
}

static int IsType2Wide(int offset) {
  return (offset >= 5000 && offset <= 5999) || (offset >= 7000 && offset <= 7999);
}

/* Acts out the fault at offset for a function 3 request; returns 0 when offset has none. */
static int InjectFault(struct Server* s, const uint8_t* req, int reqLength, int unit, int offset, int count) {
  uint8_t frame[kMaxFrame];
  size_t n;
  if (offset < kPeerFaultFirst || offset > kPeerFaultException) return 0;
  if (count < 1 || count > 125 || offset + count > kPeerTableSize) return 0; /* libmodbus answers it */
  switch (offset) {
    case kPeerFaultLate:
      n = AppendCrc(frame, BuildReadBody(s, unit, offset, count, frame));
      Schedule(s, frame, n, s->options.lateMs, 0, "late", offset);
      break;
    case kPeerFaultWrongUnit:
      n = AppendCrc(frame, BuildReadBody(s, (unit + 1) & 0xFF, offset, count, frame));
      Schedule(s, frame, n, 0, 0, "wrong-unit", offset);
      break;
    case kPeerFaultBadCrc:
      n = AppendCrc(frame, BuildReadBody(s, unit, offset, count, frame));
      frame[n - 2] ^= 0xFF;
      frame[n - 1] ^= 0xFF;
      Schedule(s, frame, n, 0, 0, "bad-crc", offset);
      break;
    case kPeerFaultShort:
      BuildReadBody(s, unit, offset, count, frame);
      Schedule(s, frame, 4, 0, 0, "short", offset);
      break;
    case kPeerFaultNone:
      Say("FAULT none %d", offset);
      break;
    case kPeerFaultSplit:
      n = AppendCrc(frame, BuildReadBody(s, unit, offset, count, frame));
      Schedule(s, frame, n, 0, s->options.gapMs > 0 ? s->options.gapMs : 1, "split", offset);
      break;
    case kPeerFaultNoise:
      frame[0] = 0x00;
      frame[1] = 0xFF;
      n = 2 + AppendCrc(frame + 2, BuildReadBody(s, unit, offset, count, frame + 2));
      Schedule(s, frame, n, 0, 0, "noise", offset);
      break;
    case kPeerFaultException:
      modbus_reply_exception(s->ctx, req, MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
      Say("FAULT exception %d", offset);
      break;
    default:
      return 0;
  }
  (void)reqLength;
  return 1;
}

static void HandleRequest(struct Server* s, uint8_t* req, int length) {
  if (length < 6) return;
  int unit = req[0];
  int function = req[1];
  int offset = (req[2] << 8) | req[3];
  int count = (req[4] << 8) | req[5];
  if (s->options.log) Say("REQUEST %d %d %d %d", unit, function, offset, count);
  if (unit != s->options.unit && unit != 0) return;
  if (unit != 0 && s->exceptions > 0) {
    --s->exceptions;
    modbus_reply_exception(s->ctx, req, MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
    Say("FAULT exception %d", offset);
    return;
  }
  if (function == 3 && unit != 0 && InjectFault(s, req, length, unit, offset, count)) return;
  if (function == 3 && s->options.type2 && IsType2Wide(offset)) {
    /* The count is the number of 32-bit values; libmodbus reads the patched request. */
    int registers = 2 * count;
    req[4] = (uint8_t)(registers >> 8);
    req[5] = (uint8_t)(registers & 0xFF);
  }
  modbus_reply(s->ctx, req, length, s->map);
}

/* Bytes of the request that starts the buffer: 0 while that is not known yet, -1 for a
 * function this server does not frame (the buffer is dropped). */
static int RequestLength(const uint8_t* req, size_t length) {
  if (length < 2) return 0;
  switch (req[1]) {
    case 1: case 2: case 3: case 4: case 5: case 6:
      return 8;
    case 15: case 16:
      return length < 7 ? 0 : 9 + req[6];
    default:
      return -1;
  }
}

/* Takes what the line has and serves every complete request in it. libmodbus's own receive
 * is not used: after a request for another unit it takes the next frame for that unit's
 * reply and drops it, which would swallow the next request meant for this server. */
static int ReceiveRequests(struct Server* s) {
  ssize_t got = read(s->fd, s->request + s->requestLength, sizeof s->request - s->requestLength);
  if (got < 0) return errno == EINTR || errno == EAGAIN;
  if (got == 0) return 0;
  s->requestLength += (size_t)got;
  s->requestDeadlineMs = NowMs() + kFrameSilenceMs;
  while (s->requestLength > 0) {
    int need = RequestLength(s->request, s->requestLength);
    if (need < 0) {
      if (s->options.log) Say("DROPPED function %d", s->request[1]);
      s->requestLength = 0;
      break;
    }
    if (need == 0 || s->requestLength < (size_t)need) break;
    uint16_t crc = Crc16(s->request, (size_t)need - 2);
    if (s->request[need - 2] == (crc & 0xFF) && s->request[need - 1] == (crc >> 8)) {
      uint8_t req[kMaxFrame];
      memcpy(req, s->request, (size_t)need);
      s->requestLength -= (size_t)need;
      memmove(s->request, s->request + need, s->requestLength);
      HandleRequest(s, req, need);
    } else {
      if (s->options.log) Say("DROPPED bad CRC");
      s->requestLength = 0; /* no way to find the next frame start in a broken one */
    }
  }
  return 1;
}

/* Poll timeout (ms, -1 none) until a partial request is given up for lost. */
static int ExpireRequest(struct Server* s) {
  if (s->requestLength == 0) return -1;
  int64_t left = s->requestDeadlineMs - NowMs();
  if (left > 0) return (int)left;
  if (s->options.log) Say("DROPPED %zu bytes of an unfinished request", s->requestLength);
  s->requestLength = 0;
  return -1;
}

static int EarlierTimeout(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return a < b ? a : b;
}

static int TableOf(const char* name, struct Server* s, int* size, uint8_t** bits, uint16_t** words) {
  *bits = NULL;
  *words = NULL;
  if (strcmp(name, "coils") == 0) {
    *bits = s->map->tab_bits;
    *size = s->map->nb_bits;
  } else if (strcmp(name, "di") == 0) {
    *bits = s->map->tab_input_bits;
    *size = s->map->nb_input_bits;
  } else if (strcmp(name, "ir") == 0) {
    *words = s->map->tab_input_registers;
    *size = s->map->nb_input_registers;
  } else if (strcmp(name, "hr") == 0) {
    *words = s->map->tab_registers;
    *size = s->map->nb_registers;
  } else {
    return 0;
  }
  return 1;
}

static int ParseNumber(const char* text, long low, long high, long* value) {
  char* end = NULL;
  errno = 0;
  long v = strtol(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return 0;
  *value = v;
  return 1;
}

static void Command(struct Server* s, char* line) {
  char* words[kMaxLine / 2];
  int n = 0;
  for (char* tok = strtok(line, " \t\r"); tok && n < (int)(sizeof words / sizeof words[0]); tok = strtok(NULL, " \t\r"))
    words[n++] = tok;
  if (n == 0) return;
  int isDump = strcmp(words[0], "DUMP") == 0;
  int isSet = strcmp(words[0], "SET") == 0;
  if (strcmp(words[0], "EXCEPTION") == 0) {
    long armed;
    if (n != 2 || !ParseNumber(words[1], 0, 1000000, &armed)) {
      Say("ERROR usage: EXCEPTION <count>");
      return;
    }
    Say("OK %ld", s->exceptions);
    s->exceptions = armed;
    return;
  }
  if (!isDump && !isSet) {
    Say("ERROR unknown command %s", words[0]);
    return;
  }
  int size = 0;
  uint8_t* bits;
  uint16_t* words16;
  long start, count;
  if (n < 4 || !TableOf(words[1], s, &size, &bits, &words16)) {
    Say("ERROR usage: DUMP <coils|di|ir|hr> <start> <count> | SET <table> <start> <values...>");
    return;
  }
  if (!ParseNumber(words[2], 0, size - 1, &start)) {
    Say("ERROR bad start %s", words[2]);
    return;
  }
  if (isDump) {
    if (!ParseNumber(words[3], 1, size - start, &count)) {
      Say("ERROR bad count %s", words[3]);
      return;
    }
    printf("%s %ld:", words[1], start);
    for (long i = 0; i < count; ++i) printf(" %u", bits ? (unsigned)bits[start + i] : (unsigned)words16[start + i]);
    Say("%s", "");
    return;
  }
  if (n - 3 > size - start) {
    Say("ERROR too many values");
    return;
  }
  for (int i = 3; i < n; ++i) {
    long v;
    if (!ParseNumber(words[i], bits ? 0 : -32768, bits ? 1 : 65535, &v)) {
      Say("ERROR bad value %s", words[i]);
      return;
    }
    if (bits) bits[start + i - 3] = (uint8_t)v;
    else words16[start + i - 3] = (uint16_t)v;
  }
  Say("OK");
}

/* Reads what stdin has; runs every complete line. Returns 0 at end of input. */
static int ReadCommands(struct Server* s) {
  ssize_t got = read(STDIN_FILENO, s->input + s->inputLength, sizeof s->input - 1 - s->inputLength);
  if (got < 0) return errno == EINTR || errno == EAGAIN;
  if (got == 0) return 0;
  s->inputLength += (size_t)got;
  char* begin = s->input;
  char* newline;
  while ((newline = memchr(begin, '\n', s->inputLength - (size_t)(begin - s->input))) != NULL) {
    *newline = '\0';
    Command(s, begin);
    begin = newline + 1;
  }
  s->inputLength -= (size_t)(begin - s->input);
  memmove(s->input, begin, s->inputLength);
  if (s->inputLength == sizeof s->input - 1) {
    Say("ERROR line too long");
    s->inputLength = 0;
  }
  return 1;
}

static int ParseOptions(int argc, char** argv, struct Options* o) {
  *o = (struct Options){NULL, 9600, 'N', 8, 1, 1, 300, 20, 0, 0};
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    long v;
    int hasValue = i + 1 < argc;
    if (strcmp(a, "--type2") == 0) o->type2 = 1;
    else if (strcmp(a, "--log") == 0) o->log = 1;
    else if (strcmp(a, "--parity") == 0 && hasValue) {
      const char* p = argv[++i];
      if (strlen(p) != 1 || !strchr("NEOneo", p[0])) return 0;
      o->parity = (char)(p[0] & ~0x20);
    } else if (a[0] == '-' && a[1] == '-' && hasValue) {
      if (!ParseNumber(argv[++i], 0, 10000000, &v)) return 0;
      if (strcmp(a, "--baud") == 0 && v > 0) o->baud = (int)v;
      else if (strcmp(a, "--data") == 0 && (v == 7 || v == 8)) o->dataBits = (int)v;
      else if (strcmp(a, "--stop") == 0 && (v == 1 || v == 2)) o->stopBits = (int)v;
      else if (strcmp(a, "--unit") == 0 && v >= 1 && v <= 247) o->unit = (int)v;
      else if (strcmp(a, "--late-ms") == 0) o->lateMs = (int)v;
      else if (strcmp(a, "--gap-ms") == 0) o->gapMs = (int)v;
      else return 0;
    } else if (a[0] != '-' && !o->device) {
      o->device = a;
    } else {
      return 0;
    }
  }
  return o->device != NULL;
}

static modbus_mapping_t* NewMap(void) {
  modbus_mapping_t* map = modbus_mapping_new(kPeerTableSize, kPeerTableSize, kPeerTableSize, kPeerTableSize);
  if (!map) return NULL;
  for (int b = 0; b < kPeerMapBlocks; ++b) {
    const struct PeerBlock* block = &kPeerMap[b];
    for (int i = 0; i < block->count; ++i) {
      int at = block->start + i;
      uint16_t v = block->values[i];
      switch (block->table) {
        case kPeerCoils: map->tab_bits[at] = (uint8_t)v; break;
        case kPeerDiscreteInputs: map->tab_input_bits[at] = (uint8_t)v; break;
        case kPeerInputRegisters: map->tab_input_registers[at] = v; break;
        case kPeerHoldingRegisters: map->tab_registers[at] = v; break;
      }
    }
  }
  return map;
}

int main(int argc, char** argv) {
  struct Server* s = calloc(1, sizeof *s);
  if (!s) return 1;
  if (!ParseOptions(argc, argv, &s->options)) {
    fprintf(stderr,
            "usage: %s DEVICE [--baud N] [--parity N|E|O] [--data 7|8] [--stop 1|2] [--unit N]\n"
            "       [--late-ms N] [--gap-ms N] [--type2] [--log]\n",
            argv[0]);
    free(s);
    return 2;
  }
  const struct Options* o = &s->options;
  s->ctx = modbus_new_rtu(o->device, o->baud, o->parity, o->dataBits, o->stopBits);
  s->map = NewMap();
  if (!s->ctx || !s->map || modbus_set_slave(s->ctx, o->unit) != 0 || modbus_connect(s->ctx) != 0) {
    Say("ERROR cannot open %s: %s", o->device, modbus_strerror(errno));
    if (s->ctx) modbus_free(s->ctx);
    if (s->map) modbus_mapping_free(s->map);
    free(s);
    return 3;
  }
  s->fd = modbus_get_socket(s->ctx);
  modbus_flush(s->ctx);

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &stopSignals, NULL);
  int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);

  Say("READY");
  int running = 1;
  while (running) {
    struct pollfd fds[3] = {{s->fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}, {signals, POLLIN, 0}};
    int timeout = EarlierTimeout(ServePending(s), ExpireRequest(s));
    if (poll(fds, 3, timeout) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[2].revents) break;
    if (fds[1].revents && !ReadCommands(s)) break;
    if (fds[0].revents & POLLIN) running = ReceiveRequests(s);
    else if (fds[0].revents & (POLLHUP | POLLERR)) running = 0;
  }
  modbus_close(s->ctx);
  modbus_free(s->ctx);
  modbus_mapping_free(s->map);
  free(s);
  return 0;
}
