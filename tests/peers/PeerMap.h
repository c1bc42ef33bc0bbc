#pragma once
/*
 * The register map that every Modbus test peer serves, and the magic addresses at which the
 * libmodbus server injects faults. C and C++: the libmodbus server fills its tables from
 * kPeerMap; tests compare what they read with the same arrays. The pymodbus server keeps a
 * copy in Python (a sanity test reads its whole map back and compares it with this one).
 *
 * Addresses are zero-based protocol offsets. Each table holds offsets 0..9999 and starts all
 * zero; a request reaching beyond 9999 gets exception 2 (illegal data address).
 *
 *   table            offset  count  contents                                  references
 *   coils            0       16     1 0 1 1 0 0 1 0 1 1 1 1 0 0 0 0           00001..00016
 *   coils            1000    8      1 1 0 1 0 0 0 1  (EnType2 kind 1 bits)    type2 1000..
 *   discrete inputs  0       16     0 1 1 0 1 0 0 1 0 0 0 1 1 1 0 1           10001..10016
 *   input registers  0       10     100 200 .. 1000                           30001..30010
 *   holding          0       10     101 202 .. 1010                           40001..40010
 *   holding          10      6      12 3456 7 5000 0 1: ioFloat pairs giving
 *                                   12.3456, 7.5, 0.0001                      40011..40016
 *   holding          20      5      65535 65436 32768 32767 1: signed words
 *                                   -1, -100, -32768, 32767, 1                40021..40025
 *   holding          3000    5      300..304  (EnType2 kind 3 words)          type2 3000..
 *   holding          5000    6      0x0001 0x0002 0xFFFF 0xFFFE 0x0012 0xD687: 32-bit
 *                                   integers, high word first: 65538, -2, 1234567
 *   holding          7000    6      0x3FC0 0 0xC010 0 0x447A 0x0800: IEEE singles, high
 *                                   word first: 1.5, -2.25, 1000.125
 *   holding          9000    10     9000..9009 (the fault registers' own values)
 *
 * Free for writes (all zero at start): coils 100..199, holding 100..199 (40101..40200),
 * 3100..3199, 5100..5199, 7100..7199.
 *
 * Faults (libmodbus server only): a function 3 request whose start offset is one of these
 * is answered as described, and the server then prints "FAULT <name> <offset>" on stdout
 * (for none: as soon as the request is taken). Their data is holding 9000.. as above.
 *   9000 late        the correct reply, sent --late-ms after the request (default 300)
 *   9001 wrong-unit  a correct reply carrying unit + 1 (valid CRC)
 *   9002 bad-crc     the correct reply with both CRC bytes inverted
 *   9003 short       only unit, function, byte count and the first data byte; no CRC
 *   9004 none        no reply at all
 *   9005 split       the correct reply one byte at a time, --gap-ms apart (default 20)
 *   9006 noise       two bytes 0x00 0xFF, then the correct reply
 *   9007 exception   exception reply 4 (server device failure)
 *
 * EnType2 counts: with --type2 the server answers a function 3 request starting in
 * 5000..5999 or 7000..7999 with twice the requested registers, as a device of that type
 * does (its count field is the number of 32-bit values).
 */
#include <stdint.h>

enum PeerTable {
  kPeerCoils = 0,
  kPeerDiscreteInputs = 1,
  kPeerInputRegisters = 3,
  kPeerHoldingRegisters = 4
};

enum PeerLimits { kPeerTableSize = 10000 };

enum PeerFault {
  kPeerFaultLate = 9000,
  kPeerFaultWrongUnit = 9001,
  kPeerFaultBadCrc = 9002,
  kPeerFaultShort = 9003,
  kPeerFaultNone = 9004,
  kPeerFaultSplit = 9005,
  kPeerFaultNoise = 9006,
  kPeerFaultException = 9007,
  kPeerFaultFirst = 9000,
  kPeerFaultCount = 10
};

enum PeerOffsets {
  kPeerCoilsAt = 0,
  kPeerType2BitsAt = 1000,
  kPeerDiscreteInputsAt = 0,
  kPeerInputRegistersAt = 0,
  kPeerWordsAt = 0,
  kPeerFixedPointAt = 10,
  kPeerSignedAt = 20,
  kPeerType2WordsAt = 3000,
  kPeerType2LongsAt = 5000,
  kPeerType2FloatsAt = 7000,
  kPeerScratchAt = 100,
  kPeerType2WordScratchAt = 3100,
  kPeerType2LongScratchAt = 5100,
  kPeerType2FloatScratchAt = 7100,
  kPeerScratchCount = 100
};

static const uint16_t kPeerCoilValues[16] = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 1, 1, 0, 0, 0, 0};
static const uint16_t kPeerType2BitValues[8] = {1, 1, 0, 1, 0, 0, 0, 1};
static const uint16_t kPeerDiscreteInputValues[16] = {0, 1, 1, 0, 1, 0, 0, 1,
                                                      0, 0, 0, 1, 1, 1, 0, 1};
static const uint16_t kPeerInputRegisterValues[10] = {100, 200, 300, 400, 500,
                                                      600, 700, 800, 900, 1000};
static const uint16_t kPeerWordValues[10] = {101, 202, 303, 404, 505, 606, 707, 808, 909, 1010};
static const uint16_t kPeerFixedPointValues[6] = {12, 3456, 7, 5000, 0, 1};
static const uint16_t kPeerSignedValues[5] = {65535, 65436, 32768, 32767, 1};
static const uint16_t kPeerType2WordValues[5] = {300, 301, 302, 303, 304};
static const uint16_t kPeerType2LongWords[6] = {0x0001, 0x0002, 0xFFFF, 0xFFFE, 0x0012, 0xD687};
static const uint16_t kPeerType2FloatWords[6] = {0x3FC0, 0x0000, 0xC010, 0x0000, 0x447A, 0x0800};
static const uint16_t kPeerFaultValues[10] = {9000, 9001, 9002, 9003, 9004,
                                              9005, 9006, 9007, 9008, 9009};

#ifdef __cplusplus
/* What the words above mean once decoded (for the tests; the servers serve words). */
static const double kPeerFixedPointDecoded[3] = {12.3456, 7.5, 0.0001};
static const int16_t kPeerSignedDecoded[5] = {-1, -100, -32768, 32767, 1};
static const int32_t kPeerType2LongsDecoded[3] = {65538, -2, 1234567};
static const float kPeerType2FloatsDecoded[3] = {1.5f, -2.25f, 1000.125f};
#endif

struct PeerBlock {
  enum PeerTable table;
  uint16_t start;
  uint16_t count;
  const uint16_t* values;
};

static const struct PeerBlock kPeerMap[] = {
    {kPeerCoils, kPeerCoilsAt, 16, kPeerCoilValues},
    {kPeerCoils, kPeerType2BitsAt, 8, kPeerType2BitValues},
    {kPeerDiscreteInputs, kPeerDiscreteInputsAt, 16, kPeerDiscreteInputValues},
    {kPeerInputRegisters, kPeerInputRegistersAt, 10, kPeerInputRegisterValues},
    {kPeerHoldingRegisters, kPeerWordsAt, 10, kPeerWordValues},
    {kPeerHoldingRegisters, kPeerFixedPointAt, 6, kPeerFixedPointValues},
    {kPeerHoldingRegisters, kPeerSignedAt, 5, kPeerSignedValues},
    {kPeerHoldingRegisters, kPeerType2WordsAt, 5, kPeerType2WordValues},
    {kPeerHoldingRegisters, kPeerType2LongsAt, 6, kPeerType2LongWords},
    {kPeerHoldingRegisters, kPeerType2FloatsAt, 6, kPeerType2FloatWords},
    {kPeerHoldingRegisters, kPeerFaultFirst, 10, kPeerFaultValues},
};

enum { kPeerMapBlocks = sizeof(kPeerMap) / sizeof(kPeerMap[0]) };
