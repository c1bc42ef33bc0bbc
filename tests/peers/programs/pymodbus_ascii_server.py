#!/usr/bin/python3
"""A Modbus ASCII server built on pymodbus 3.0, serving the map of tests/peers/PeerMap.h.

Usage: /usr/bin/python3 pymodbus_ascii_server.py DEVICE [--baud N] [--data 7|8] [--stop 1|2]
                                                 [--unit N] [--type2]
  defaults: 9600 baud, 8 data bits, 1 stop bit, unit 1; parity is always none, because pyserial
  applies the settings again after opening and a pseudo-terminal refuses parity the second time.

Same line protocol as modbus_rtu_server: "READY" on stdout once the port is open; on stdin
"DUMP <coils|di|ir|hr> <start> <count>" answers "<table> <start>: v1 ... vn" and
"SET <table> <start> v1 ..." answers "OK" ("ERROR <text>" for a bad command). It stops at the
end of its input, on SIGTERM or SIGINT. Requests for other units get no reply. No faults are
injected here. With --type2, a function 3 read starting in 5000..5999 or 7000..7999 answers
twice the requested registers (the count is the number of 32-bit values).

When pymodbus or pyserial-asyncio is missing it prints "ERROR install ..." and exits 3.
"""
import argparse
import asyncio
import logging
import os
import signal
import sys

try:
    from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                    ModbusSlaveContext)
    from pymodbus.framer.ascii_framer import ModbusAsciiFramer
    from pymodbus.server import StartAsyncSerialServer
    import serial_asyncio  # noqa: F401  (pymodbus opens serial ports through it)
except ImportError as missing:
    print(f"ERROR install python3-pymodbus and python3-serial-asyncio for /usr/bin/python3: {missing}",
          flush=True)
    sys.exit(3)

TABLE_SIZE = 10000

# The same blocks as kPeerMap in PeerMap.h: (table, start, values).
PEER_MAP = [
    ("coils", 0, [1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 1, 1, 0, 0, 0, 0]),
    ("coils", 1000, [1, 1, 0, 1, 0, 0, 0, 1]),
    ("di", 0, [0, 1, 1, 0, 1, 0, 0, 1, 0, 0, 0, 1, 1, 1, 0, 1]),
    ("ir", 0, [100, 200, 300, 400, 500, 600, 700, 800, 900, 1000]),
    ("hr", 0, [101, 202, 303, 404, 505, 606, 707, 808, 909, 1010]),
    ("hr", 10, [12, 3456, 7, 5000, 0, 1]),
    ("hr", 20, [65535, 65436, 32768, 32767, 1]),
    ("hr", 3000, [300, 301, 302, 303, 304]),
    ("hr", 5000, [0x0001, 0x0002, 0xFFFF, 0xFFFE, 0x0012, 0xD687]),
    ("hr", 7000, [0x3FC0, 0x0000, 0xC010, 0x0000, 0x447A, 0x0800]),
    ("hr", 9000, list(range(9000, 9010))),
]

BIT_TABLES = ("coils", "di")


class PeerContext(ModbusSlaveContext):
    """The slave context, answering wide EnType2 reads when asked to."""

    def __init__(self, type2, **kwargs):
        super().__init__(**kwargs)
        self.type2 = type2

    def getValues(self, fc_as_hex, address, count=1):
        if self.type2 and fc_as_hex == 3 and (5000 <= address <= 5999 or 7000 <= address <= 7999):
            count *= 2
        return super().getValues(fc_as_hex, address, count)


def make_context(type2):
    blocks = {name: [0] * TABLE_SIZE for name in ("coils", "di", "ir", "hr")}
    for table, start, values in PEER_MAP:
        blocks[table][start:start + len(values)] = values
    return PeerContext(type2, zero_mode=True,
                       co=ModbusSequentialDataBlock(0, blocks["coils"]),
                       di=ModbusSequentialDataBlock(0, blocks["di"]),
                       ir=ModbusSequentialDataBlock(0, blocks["ir"]),
                       hr=ModbusSequentialDataBlock(0, blocks["hr"]))


def store_of(context, table):
    return context.store[{"coils": "c", "di": "d", "ir": "i", "hr": "h"}[table]]


def parse_int(text, low, high):
    value = int(text, 0)
    if not low <= value <= high:
        raise ValueError(text)
    return value


def command(context, line):
    words = line.split()
    if not words:
        return None
    if words[0] not in ("DUMP", "SET"):
        return f"ERROR unknown command {words[0]}"
    if len(words) < 4 or words[1] not in ("coils", "di", "ir", "hr"):
        return "ERROR usage: DUMP <coils|di|ir|hr> <start> <count> | SET <table> <start> <values...>"
    table = words[1]
    store = store_of(context, table)
    bits = table in BIT_TABLES
    try:
        start = parse_int(words[2], 0, TABLE_SIZE - 1)
        if words[0] == "DUMP":
            count = parse_int(words[3], 1, TABLE_SIZE - start)
            values = store.getValues(start, count)
            return f"{table} {start}: " + " ".join(str(int(v)) for v in values)
        values = [parse_int(w, 0, 1) if bits else parse_int(w, -32768, 65535) & 0xFFFF
                  for w in words[3:]]
        if start + len(values) > TABLE_SIZE:
            return "ERROR too many values"
        store.setValues(start, values)
        return "OK"
    except ValueError as bad:
        return f"ERROR bad number {bad}"


async def serve(args):
    context = make_context(args.type2)
    server = await StartAsyncSerialServer(
        context=ModbusServerContext(slaves={args.unit: context}, single=False),
        framer=ModbusAsciiFramer, port=args.device, baudrate=args.baud, bytesize=args.data,
        parity="N", stopbits=args.stop, ignore_missing_slaves=True, defer_start=True)
    await server.start()
    if server.transport is None:
        print(f"ERROR cannot open {args.device}", flush=True)
        return 3

    loop = asyncio.get_running_loop()
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)

    pending = bytearray()

    def on_input():
        try:
            chunk = os.read(sys.stdin.fileno(), 4096)
        except OSError:
            chunk = b""
        if not chunk:
            stop.set()
            return
        pending.extend(chunk)
        while b"\n" in pending:
            line, _, rest = bytes(pending).partition(b"\n")
            pending[:] = rest
            answer = command(context, line.decode(errors="replace"))
            if answer is not None:
                print(answer, flush=True)

    loop.add_reader(sys.stdin.fileno(), on_input)
    print("READY", flush=True)
    await stop.wait()
    loop.remove_reader(sys.stdin.fileno())
    await server.shutdown()
    return 0


def main():
    parser = argparse.ArgumentParser(description="Modbus ASCII test peer (pymodbus)")
    parser.add_argument("device")
    parser.add_argument("--baud", type=int, default=9600)
    parser.add_argument("--data", type=int, choices=(7, 8), default=8)
    parser.add_argument("--stop", type=int, choices=(1, 2), default=1)
    parser.add_argument("--unit", type=int, default=1)
    parser.add_argument("--type2", action="store_true")
    args = parser.parse_args()
    # pymodbus logs every ignored frame and its own shutdown as errors; the tests read stdout.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL + 1)
    try:
        return asyncio.run(serve(args))
    except Exception as failure:  # noqa: BLE001  (the test reads this line)
        print(f"ERROR {type(failure).__name__}: {failure}", flush=True)
        return 3


if __name__ == "__main__":
    sys.exit(main())
