#!/usr/bin/python3
"""VXI-11 end to end through PyVISA's pure-Python back end (TCPIP::127.0.0.1::inst0::INSTR),
inside a private network namespace with its own rpcbind: a query against qz418-sim, device
clear out of an *OPC? that cannot finish, exclusive locks from two sessions with the raw
socket's settings refused meanwhile, the status byte, and rpcbind's entry: made again when
rpcbind restarts with an empty table; kept by a running copy
against a second one that waits for it (its SCPI port too) and takes over when it exits;
replaced when left behind by a killed one; withdrawn at exit.

usage: vxi11_pyvisa_e2e.py QZ418 QZ418_SIM      (exit 77: PyVISA or rpcbind missing)
"""
import os
import signal
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vxi11_e2e_support import (Station, answers, check, enter_namespace, finish, registered_port,  # noqa: E402
                               wait_for)

try:
    import pyvisa
except ImportError:
    print("PyVISA is not installed (python3-pyvisa, python3-pyvisa-py): skipped")
    sys.exit(77)

enter_namespace()

RESOURCE = "TCPIP::127.0.0.1::inst0::INSTR"
RETRY_S = 5  # how often the program tries again what failed


def said(err, text):
    """The lines of a copy's stderr that contain text."""
    with open(err, encoding="utf-8") as f:
        return [line for line in f if text in line]


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

        port = registered_port()
        up = "inst0 на порту %d" % port

        def served(query):
            session = rm.open_resource(RESOURCE, **opts)
            answer = session.query(query)
            session.close()
            return answer

        # rpcbind restarted with an empty table: the entry is made again (one line says so).
        before = len(said(err, up))
        station.kill_rpcbind()
        station.start_rpcbind()
        check(wait_for(lambda: registered_port() == port and len(said(err, up)) == before + 1, 30),
              "the entry comes back after rpcbind restarts, and one line says so")
        check(served("*TST?") == "0", "PyVISA finds the program again")

        # A second copy on the same SCPI port finds the port and the number taken by a live
        # copy: it says so once each, tries again without removing anything, and takes both
        # over when the first one exits.
        second, _, second_err = station.start_copy(scpi_port)
        scpi_down = "SCPI выключен: адрес 127.0.0.1, порт %d" % scpi_port
        check(wait_for(lambda: said(second_err, scpi_down) and said(second_err, "(другая копия?)"), 20),
              "the second copy says why it has neither the SCPI socket nor VXI-11")
        time.sleep(RETRY_S + 1)
        check(registered_port() == port, "the first copy keeps its entry while the second tries again")
        check(len(said(second_err, "SCPI выключен")) == 1 and len(said(second_err, "VXI-11 выключен")) == 1,
              "each failure is said once")
        app.send_signal(signal.SIGTERM)
        app.wait(30)
        check(wait_for(lambda: registered_port() not in (0, port), 30),
              "the second copy registers once the first has withdrawn its entry")
        check(wait_for(lambda: answers(scpi_port), 30) and raw_ask(scpi_port, "*TST?") == "1"
              and said(second_err, "SCPI: адрес 127.0.0.1, порт %d" % scpi_port),
              "and listens on the SCPI port the first one left, saying so")
        check(served("*TST?") == "1", "PyVISA reaches the second copy")

        # A copy killed leaves its entry behind; the next one replaces it.
        port = registered_port()
        second.kill()
        second.wait()
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
