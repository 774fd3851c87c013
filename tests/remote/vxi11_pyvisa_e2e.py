#!/usr/bin/python3
"""VXI-11 end to end through PyVISA's pure-Python back end (TCPIP::127.0.0.1::inst0::INSTR),
inside a private network namespace with its own rpcbind: a query against qz418-sim, device
clear out of an *OPC? that cannot finish, exclusive locks from two sessions with the raw
socket's settings refused meanwhile, the status byte, and rpcbind's entry: kept by a running
copy against a second one, replaced when left behind by a killed one, withdrawn at exit.

usage: vxi11_pyvisa_e2e.py QZ418 QZ418_SIM      (exit 77: PyVISA or rpcbind missing)
"""
import os
import signal
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vxi11_e2e_support import Station, check, enter_namespace, finish, registered_port, wait_for  # noqa: E402

try:
    import pyvisa
except ImportError:
    print("PyVISA is not installed (python3-pyvisa, python3-pyvisa-py): skipped")
    sys.exit(77)

enter_namespace()

RESOURCE = "TCPIP::127.0.0.1::inst0::INSTR"


def raw_ask(port, line):
    with socket.create_connection(("127.0.0.1", port), 5) as s:
        s.sendall(line.encode() + b"\n")
        got = b""
        while not got.endswith(b"\n"):
            got += s.recv(4096)
        return got.decode().strip()


def main():
    station = Station(sys.argv[1], sys.argv[2])
    try:
        station.start_simulator()
        app, scpi_port, err = station.start_copy()
        check(wait_for(lambda: registered_port() != 0, 10), "rpcbind has the core channel")
        rm = pyvisa.ResourceManager("@py")
        opts = dict(read_termination="\n", write_termination="\n", timeout=5000)
        a = rm.open_resource(RESOURCE, **opts)
        # The link is up once a whole cycle has gone through: only then does *IDN? name the device.
        check(wait_for(lambda: a.query("SYST:LINK?") == '1,"sim0"', 10), "the link to the simulator is up")
        idn = a.query("*IDN?").split(",")
        check(idn[:3] == ["QZ418", "QZ418 control program", "sim0"], "*IDN? over VXI-11: %s" % idn)
        check(a.query("SOUR1:PULS:AMPL -20;*OPC?") == "1", "*OPC? completes with the device")
        check(a.query("SOUR1:PULS:AMPL?") == "-20.0", "the setting reads back")

        # The status byte: error queue (bit 2), then a message available (bit 4).
        a.write("*CLS;BOGUS")
        check(a.read_stb() & 0x04 == 0x04, "read_stb() shows the error queue")
        a.write("SYST:ERR?")
        check(a.read_stb() & 0x10 == 0x10, "read_stb() shows the waiting answer")
        check(a.read() == '-113,"Undefined header"', "the answer after read_stb()")

        # Two sessions, one exclusive lock; the raw socket may ask but not set meanwhile.
        b = rm.open_resource(RESOURCE, **opts)
        a.lock_excl()
        try:
            b.lock_excl(timeout=300)
            check(False, "a second session's lock fails while the first holds it")
        except pyvisa.errors.VisaIOError:
            check(True, "a second session's lock fails while the first holds it")
        check(raw_ask(scpi_port, "SOUR1:PULS:AMPL -10;:SYST:ERR?;:SOUR1:PULS:AMPL?")
              == '-203,"Command protected";-20.0', "the raw socket's setting is refused with -203")
        a.unlock()
        b.lock_excl(timeout=300)
        check(b.query("SOUR1:PULS:AMPL -10;*OPC?;:SOUR1:PULS:AMPL?") == "1;-10.0", "the lock passed to the second")
        b.unlock()
        b.close()

        a.close()

        # A second copy finds the number taken by a live one and goes on without VXI-11.
        port = registered_port()
        second, second_port, second_err = station.start_copy()
        check(wait_for(lambda: "VXI-11" in open(second_err).read(), 10), "the second copy says why it has no VXI-11")
        check(registered_port() == port, "the first copy keeps its entry")
        check(raw_ask(second_port, "*TST?") == "1", "the second copy's SCPI socket works")
        second.send_signal(signal.SIGTERM)
        second.wait(30)
        check(registered_port() == port, "the second copy's exit leaves the first one's entry")

        # A copy killed leaves its entry behind; the next one replaces it.
        app.kill()
        app.wait()
        check(registered_port() == port, "a killed copy leaves its entry")
        third, _, _ = station.start_copy()
        check(wait_for(lambda: registered_port() not in (0, port), 10), "the next copy replaces the stale entry")
        t = rm.open_resource(RESOURCE, **opts)
        check(t.query("*TST?") == "1", "the new copy answers over VXI-11")
        # This copy has no device: *OPC? never answers, and device clear gets the link out.
        t.timeout = 500
        t.write("*OPC?")
        try:
            t.read()
            check(False, "*OPC? without a device times out")
        except pyvisa.errors.VisaIOError:
            check(True, "*OPC? without a device times out")
        t.clear()
        t.timeout = 5000
        idn = t.query("*IDN?").split(",")
        check(idn[2] == "0", "after clear() a query answers, without the old 1: %s" % idn)
        t.close()
        third.send_signal(signal.SIGTERM)
        third.wait(30)
        check(registered_port() == 0, "the entry is withdrawn at exit")
    finally:
        station.close()
    return finish()


if __name__ == "__main__":
    sys.exit(main())
