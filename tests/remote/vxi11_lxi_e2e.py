#!/usr/bin/python3
"""VXI-11 end to end through lxi-tools, inside a private network namespace with its own
rpcbind: `lxi discover` finds the program through rpcbind's broadcast answer, `lxi scpi`
without -r queries and sets over VXI-11, the settings reach the panel (read back over the raw
socket), and a second query on the same run answers.

usage: vxi11_lxi_e2e.py QZ418 QZ418_SIM      (exit 77: lxi-tools or rpcbind missing)
"""
import os
import shutil
import socket
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vxi11_e2e_support import Station, check, enter_namespace, finish, registered_port, wait_for  # noqa: E402

if not shutil.which("lxi"):
    print("lxi-tools is not installed: skipped")
    sys.exit(77)
enter_namespace()


def lxi(*args):
    r = subprocess.run(["lxi"] + list(args), capture_output=True, text=True, timeout=30)
    return r.returncode, r.stdout


def main():
    station = Station(sys.argv[1], sys.argv[2])
    try:
        station.start_simulator()
        app, scpi_port, _ = station.start_copy()
        check(wait_for(lambda: registered_port() != 0, 10), "rpcbind has the core channel")

        rc, out = lxi("discover", "-t", "2")
        check(rc == 0 and "127.0.0.1" in out and "QZ418" in out, "lxi discover finds the program:\n" + out)

        # *IDN? names the device once the link is up (a whole cycle has gone through).
        check(wait_for(lambda: lxi("scpi", "-a", "127.0.0.1", "SYST:LINK?")[1].strip() == '1,"sim0"', 10),
              "the link to the simulator is up")
        rc, out = lxi("scpi", "-a", "127.0.0.1", "*IDN?")
        check(rc == 0 and out.strip().split(",")[:3] == ["QZ418", "QZ418 control program", "sim0"],
              "lxi scpi *IDN? over VXI-11: %r" % out)
        rc, _ = lxi("scpi", "-a", "127.0.0.1", "TRIG:LEV 40;:SOUR2:SIN:AMPL -7")
        check(rc == 0, "lxi scpi sets")
        rc, out = lxi("scpi", "-a", "127.0.0.1", "TRIG:LEV?;:SOUR2:SIN:AMPL?;:SYST:ERR?")
        check(out.strip() == '40;-7.0;0,"No error"', "the settings read back over VXI-11: %r" % out)
        with socket.create_connection(("127.0.0.1", scpi_port), 5) as s:
            s.sendall(b"TRIG:LEV?\n")
            check(s.recv(100) == b"40\n", "the raw socket sees the same panel")
        # A command that cannot be read: the session says so, the next client goes on.
        lxi("scpi", "-a", "127.0.0.1", "SOUR9:MODE PULS")
        rc, out = lxi("scpi", "-a", "127.0.0.1", "*TST?")
        check(rc == 0 and out.strip() == "0", "the next client is answered: %r" % out)
        check(app.poll() is None, "the program still runs")
    finally:
        station.close()
    return finish()


if __name__ == "__main__":
    sys.exit(main())
