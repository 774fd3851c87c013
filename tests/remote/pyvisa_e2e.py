#!/usr/bin/python3
"""End to end through a client nobody here wrote: PyVISA (pure-Python back end) against
qz418 --scpi driving qz418-sim --log. Checks the packet bytes the simulator received, that
*OPC? answers only after the packet carrying the change, that queries read back the panel's
values and that the panel's fields hold them (its state file, written at exit); that the
answers about the device change together with the panel's link text when the simulator is
unplugged, that *OPC? without a device gives up at once with -241 and no reply, so that the
next query gets its own answer; and that PyVISA with its default settings (Nagle on) makes
its set-and-query pairs without waiting for delayed acknowledgements.

usage: pyvisa_e2e.py QZ418 QZ418_SIM      (exit 77: PyVISA is not installed, skipped)
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_checks import check, finish, wait_for  # noqa: E402

try:
    import pyvisa
except ImportError:
    print("PyVISA is not installed (python3-pyvisa, python3-pyvisa-py): skipped")
    sys.exit(77)

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def packets(log):
    """The simulator's log: one (ms, 64 bytes) per command packet received."""
    out = []
    with open(log) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2 and len(parts[1]) == 128:
                out.append((int(parts[0]), bytes.fromhex(parts[1])))
    return out


def main():
    program, simulator = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    top = tempfile.mkdtemp(prefix="qz-pyvisa-", dir="/tmp")
    run = os.path.join(top, "run")
    os.mkdir(run, 0o700)
    os.mkdir(os.path.join(top, "bin"))
    exe = os.path.join(top, "bin", "qz418")
    shutil.copy(program, exe)
    log = os.path.join(top, "sim.log")
    link_log = os.path.join(top, "link.log")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=run,
               QZ418_DIALOG_LOG=os.path.join(top, "dialogs.log"), QZ418_LINK_LOG=link_log,
               LC_ALL="C.UTF-8")
    sim = subprocess.Popen([simulator, "--name", "sim0", "--log", log], env=env, cwd=top,
                           stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    app = None
    try:
        assert wait_for(lambda: os.path.exists(os.path.join(run, "qz418", "sim0.sock")), 10), "no simulator socket"
        port = free_port()
        app = subprocess.Popen([exe, "--scpi", "--scpi-port", str(port)], env=env, cwd=top)

        def listening():
            try:
                socket.create_connection(("127.0.0.1", port), 0.2).close()
                return True
            except OSError:
                return False

        assert wait_for(listening, 20), "the program does not listen"
        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n",
                                write_termination="\n", timeout=10000)

        # The device is named once the link is up: after the first cycle through, not at start.
        check(wait_for(lambda: inst.query("SYST:LINK?") == '1,"sim0"', 10), "the link is up")
        idn = inst.query("*IDN?").split(",")
        check(idn[:3] == ["QZ418", "QZ418 control program", "sim0"], "*IDN? names the simulator: %s" % idn)

        # A known panel, then its packet reaches the device.
        inst.write("*RST")
        check(inst.query("*OPC?") == "1", "*OPC? after *RST")
        before = packets(log)[-1][1]

        # The change: level +120, positive edge, "50В" with the 50-ohm load, channel 1
        # amplitude -20 dB and delay 80 000 us (pulse page, as after *RST).
        # *OPC? on the same line: a separate message could arrive a cycle later (the client's
        # Nagle delay) and hide an *OPC? that answers too early.
        opc = inst.query("TRIG:LEV 120;SLOP POS;:INP:RANG 50;LOAD 50;:SOUR1:PULS:AMPL -20 DB;DEL 80 MS;*OPC?")
        after_opc = packets(log)
        check(opc == "1", "*OPC? answers 1")
        carrying = [p for _, p in after_opc if p[0] == 0xF8]
        check(len(carrying) >= 1, "*OPC? returned after the simulator had a packet with the change")
        if carrying:
            changed = {i: carrying[0][i] for i in range(64) if carrying[0][i] != before[i]}
            expected = {0: 0xF8, 1: 0x39, 6: 0x19, 7: 0x99, 8: 0x99, 11: 0xF4, 12: 0x24, 13: 0x00}
            check(changed == expected, "exactly the expected bytes changed: %s" % {k: hex(v) for k, v in changed.items()})
            check(carrying[0] == bytes.fromhex(inst.query("SYST:PACK?")), "SYSTem:PACKet? is the packet sent")

        # Queries read back what the panel shows.
        check(inst.query("SOUR1:PULS:AMPL?;DEL?;:TRIG:LEV?;SLOP?;:INP:RANG?;LOAD?")
              == "-20.0;80000.000;120;POS;50;50", "queries read the panel's values")
        # The device reports the amplitude it has set: -20 dB on channel 1 (the sim echoes it).
        check(wait_for(lambda: inst.query("STAT:DEV?").split(",")[1] == "-20.00", 5), "STATus:DEVice? shows -20 dB")
        # Each channel's frequency from its own bytes of the report.
        inst.query("SOUR2:MODE PULS;:SOUR2:PULS:FREQ 4;:SOUR1:PULS:FREQ 2;*OPC?")
        check(wait_for(lambda: inst.query("STAT:DEV?").split(",")[2:6:3] == ["2.00000", "4.00000"], 5),
              "STATus:DEVice? shows channel 1 at 2 MHz and channel 2 at 4 MHz: %s" % inst.query("STAT:DEV?"))
        inst.query("SOUR2:MODE OFF;*OPC?")

        # Refused values change nothing on the device either.
        n = len(packets(log))
        inst.write("SOUR1:PULS:AMPL 3")
        check(inst.query("SYST:ERR?") == '-222,"Data out of range"', "+3 dB is refused with -222")
        inst.query("*OPC?")
        check(all(p[6:9] == bytes([0x19, 0x99, 0x99]) for _, p in packets(log)[n:]), "no packet carried +3 dB")

        # The documented example: scene 3, wait, measure.
        inst.write("SCEN:APPL 3")
        inst.query("*OPC?")
        peak, width = (float(v) for v in inst.query("MEAS:PULS?").split(","))
        check(inst.query("SCEN:SEL?") == "3", "scene 3 is selected")
        data = inst.query_binary_values("TRAC:DATA?", datatype="f")
        check(len(data) == 4096, "TRACe:DATA? gives 4096 values")

        # Set-and-query pairs as PyVISA makes them by default: two writes, Nagle on. Waiting
        # for a delayed acknowledgement (40 ms) would allow about 25 a second.
        t0 = time.time()
        for i in range(100):
            inst.write("SOUR1:PULS:AMPL %.1f" % (-i / 10.0))
            inst.query("SOUR1:PULS:AMPL?")
        pairs_per_second = 100 / (time.time() - t0)
        check(pairs_per_second > 200, "100 set-and-query pairs at %.0f a second" % pairs_per_second)

        def panel_link_down():
            with open(link_log, encoding="utf-8") as f:
                statuses = [l for l in f.read().split("\n") if l.startswith("status: ")]
            return bool(statuses) and statuses[-1] == "status: нет связи c QZ418!!!"

        def sim_command(line):
            sim.stdin.write(line.encode() + b"\n")
            sim.stdin.flush()

        # Unplugged: the answers about the device change with the panel's link text, never
        # before or after it.
        check(not panel_link_down() and inst.query("SYST:LINK?") == '1,"sim0"', "linked before the unplug")
        sim_command("unplug")
        disagreements = []
        end = time.time() + 10
        while time.time() < end:
            panel_before = panel_link_down()
            answers = inst.query("SYST:LINK?;*TST?;*IDN?;STAT:DEV?").split(";")
            panel_after = panel_link_down()
            remote_down = answers[0] == '0,""'
            if (panel_before and not remote_down) or (remote_down and not panel_after):
                disagreements.append((panel_before, answers, panel_after))
            if remote_down:
                check(answers[1] != "0", "*TST? fails without the link: %s" % answers[1])
                check(answers[2].split(",")[2] == "0", "*IDN? names no device: %s" % answers[2])
                check(answers[3].startswith("NONE,9.91E37"), "STATus:DEVice? knows nothing: %s" % answers[3])
                break
        else:
            check(False, "SYSTem:LINK? still 1 ten seconds after the unplug")
        check(not disagreements, "the answers and the panel's link text change together: %s" % disagreements[:3])

        # *OPC? without a device gives up at once: no reply, -241, and the next query has its
        # own answer.
        inst.write("SOUR1:PULS:AMPL -7;*OPC?")
        check(inst.query("SOUR1:PULS:AMPL?") == "-7.0", "the query after a failed *OPC? gets its own answer")
        check(inst.query("SYST:ERR?") == '-241,"Hardware missing"', "*OPC? without a device: -241")
        sim_command("plug")
        check(wait_for(lambda: inst.query("SYST:LINK?") == '1,"sim0"', 10), "linked again after plugging in")
        check(inst.query("*OPC?;:SOUR1:PULS:AMPL?") == "1;-7.0", "*OPC? answers again once linked")
        check(inst.query("*IDN?").split(",")[2] == "sim0", "no late reply is left over")

        # Back to the settings above, then the panel's fields at exit (its state file).
        inst.write("*RST;:TRIG:LEV 120;:SOUR1:PULS:AMPL -20;DEL 80000")
        inst.query("*OPC?")
        inst.close()
        app.send_signal(signal.SIGTERM)
        app.wait(30)
        ini = open(os.path.join(top, "bin", "qz418.ini"), encoding="cp1251").read().replace("\r", "")
        values = dict(l.split("=", 1) for l in ini.split("\n") if "=" in l)

        def number(key):
            return float(values.get(key, "nan").replace(",", ".").replace("\xa0", ""))

        check(number("Ch1I_AmplPBSuperSpin") == -20, "the panel's amplitude field holds -20")
        check(number("Ch1I_DelayPBSuperSpin") == 80000, "the panel's delay field holds 80 000")
        check(number("SyncLevelPBSpinEdit") == 120, "the panel's level field holds 120")
    finally:
        if app and app.poll() is None:
            app.kill()
        sim.kill()
        sim.wait()
        shutil.rmtree(top, ignore_errors=True)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
