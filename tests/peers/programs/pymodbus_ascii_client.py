#!/usr/bin/python3
"""A Modbus ASCII master built on pymodbus 3.0 that runs a scripted list of requests on a serial
device and prints one line per request.

Usage: /usr/bin/python3 pymodbus_ascii_client.py DEVICE [--baud N] [--data 7|8] [--stop 1|2]
                                                 [--unit N] [--timeout-ms N] STEP...
  defaults: 9600 baud, 8 data bits, 1 stop bit, unit 1, response time-out 1000 ms, no retries.
  Parity is always none: pyserial applies the settings again after opening and a
  pseudo-terminal refuses parity the second time.
Steps, as modbus_rtu_client takes them (offsets are zero-based protocol addresses):
  r1:OFFSET:COUNT   read coils               w5:OFFSET:0|1        write one coil
  r2:OFFSET:COUNT   read discrete inputs     w6:OFFSET:VALUE      write one register
  r3:OFFSET:COUNT   read holding registers   w15:OFFSET:B,B,...   write coils
  r4:OFFSET:COUNT   read input registers     w16:OFFSET:V,V,...   write registers
  unit:N            unit of the steps that follow
Output, one line per read or write step:
  OK <step> <offset> <v1> ... <vn>      a read: the values (registers unsigned)
  OK <step> <offset> <n>                a write: the count (or the value) the slave echoed
  ERR <step> <offset> <text>            no answer, a broken one or an exception reply
Exit status: 0 when every step succeeded, 1 when one failed, 2 usage error, 3 the device
cannot be opened or pymodbus is missing ("ERROR install ..." is printed then).
"""
import argparse
import logging
import sys

try:
    from pymodbus.client import ModbusSerialClient
    from pymodbus.framer.ascii_framer import ModbusAsciiFramer
except ImportError as missing:
    print(f"ERROR install python3-pymodbus and python3-serial for /usr/bin/python3: {missing}", flush=True)
    sys.exit(3)


def parse_step(text):
    """(kind, offset, argument) of one step; raises ValueError when it is malformed."""
    if text.startswith("unit:"):
        unit = int(text[5:], 0)
        if not 0 <= unit <= 255:
            raise ValueError(text)
        return ("unit", unit, None)
    kind, offset, argument = text.split(":")
    offset = int(offset, 0)
    if kind not in ("r1", "r2", "r3", "r4", "w5", "w6", "w15", "w16") or not 0 <= offset <= 0xFFFF:
        raise ValueError(text)
    if kind.startswith("r") or kind in ("w5", "w6"):
        argument = int(argument, 0)
    else:
        argument = [int(v, 0) for v in argument.split(",")]
    return (kind, offset, argument)


def run_step(client, unit, kind, offset, argument):
    """The output line of one request."""
    if kind == "r1":
        reply = client.read_coils(offset, argument, slave=unit)
    elif kind == "r2":
        reply = client.read_discrete_inputs(offset, argument, slave=unit)
    elif kind == "r3":
        reply = client.read_holding_registers(offset, argument, slave=unit)
    elif kind == "r4":
        reply = client.read_input_registers(offset, argument, slave=unit)
    elif kind == "w5":
        reply = client.write_coil(offset, bool(argument), slave=unit)
    elif kind == "w6":
        reply = client.write_register(offset, argument & 0xFFFF, slave=unit)
    elif kind == "w15":
        reply = client.write_coils(offset, [bool(v) for v in argument], slave=unit)
    else:
        reply = client.write_registers(offset, [v & 0xFFFF for v in argument], slave=unit)
    if reply is None or reply.isError():
        text = " ".join(str(reply).split()) if reply is not None else "no reply"
        return False, f"ERR {kind} {offset} {text}"
    if kind in ("r1", "r2"):
        # A bit reply is padded to whole bytes: only the bits asked for count.
        values = [int(b) for b in reply.bits[:argument]]
    elif kind in ("r3", "r4"):
        values = list(reply.registers)
    elif kind == "w5":
        values = [int(bool(reply.value))]
    elif kind == "w6":
        values = [reply.value]
    else:
        values = [reply.count]
    return True, f"OK {kind} {offset} " + " ".join(str(v) for v in values)


def main():
    parser = argparse.ArgumentParser(description="Modbus ASCII test master (pymodbus)")
    parser.add_argument("device")
    parser.add_argument("--baud", type=int, default=9600)
    parser.add_argument("--data", type=int, choices=(7, 8), default=8)
    parser.add_argument("--stop", type=int, choices=(1, 2), default=1)
    parser.add_argument("--unit", type=int, default=1)
    parser.add_argument("--timeout-ms", type=int, default=1000)
    parser.add_argument("steps", nargs="+")
    args = parser.parse_args()
    try:
        steps = [parse_step(s) for s in args.steps]
    except ValueError as bad:
        print(f"ERROR bad step {bad}", flush=True)
        return 2
    # pymodbus logs every failed transaction as an error; the tests read stdout.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL + 1)
    client = ModbusSerialClient(args.device, framer=ModbusAsciiFramer, baudrate=args.baud,
                                bytesize=args.data, parity="N", stopbits=args.stop,
                                timeout=args.timeout_ms / 1000.0, retries=0)
    if not client.connect():
        print(f"ERROR cannot open {args.device}", flush=True)
        return 3
    unit = args.unit
    failed = False
    try:
        for kind, offset, argument in steps:
            if kind == "unit":
                unit = offset
                continue
            try:
                ok, line = run_step(client, unit, kind, offset, argument)
            except Exception as failure:  # noqa: BLE001  (pymodbus raises some faults; the test reads this line)
                ok, line = False, f"ERR {kind} {offset} {type(failure).__name__}: {failure}"
            failed = failed or not ok
            print(line, flush=True)
    finally:
        client.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
