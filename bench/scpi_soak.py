#!/usr/bin/python3
"""Memory under a busy remote client: qz418 --scpi against its own qz418-sim, one client that
sets a random field, queries it back and waits with *OPC?, about 44 times a second, for the
given minutes. Prints the program's resident size each minute and the growth per hour after
the first two minutes (warm-up: fonts, caches, first pages shown).

usage: scpi_soak.py QZ418 QZ418_SIM [MINUTES] [--heaptrack FILE]
"""
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time

PAGES = ["PULS", "ASER", "FSER", "SIN"]


def settings():
    """(command, value text) pairs: every kind of field the panel has."""
    out = []
    for n in (1, 2):
        for p in PAGES:
            out.append(("SOUR%d:%s:AMPL" % (n, p), lambda: "%.1f" % random.uniform(-60, 0)))
            out.append(("SOUR%d:%s:FREQ" % (n, p), lambda: "%.3f" % random.uniform(0.1, 16)))
            out.append(("SOUR%d:%s:SIGN" % (n, p), lambda: random.choice(["POS", "NEG"])))
            if p != "SIN":
                out.append(("SOUR%d:%s:DEL" % (n, p), lambda: "%.2f" % random.uniform(0.05, 80000)))
                out.append(("SOUR%d:%s:WIDT" % (n, p), lambda: "%.2f" % random.uniform(0.05, 320)))
            if p in ("ASER", "FSER"):
                out.append(("SOUR%d:%s:PAUS" % (n, p), lambda: "%.2f" % random.uniform(0.05, 320)))
                out.append(("SOUR%d:%s:COUN" % (n, p), lambda: str(random.randint(1, 50))))
            if p in ("PULS", "SIN"):
                out.append(("SOUR%d:%s:RFM" % (n, p), lambda: random.choice(["ON", "OFF"])))
                out.append(("SOUR%d:%s:AM" % (n, p), lambda: random.choice(["ON", "OFF"])))
                out.append(("SOUR%d:%s:AM:FREQ" % (n, p), lambda: "%.2f" % random.uniform(0.01, 100)))
        out.append(("SOUR%d:FSER:STEP" % n, lambda: "%.3f" % random.uniform(0, 2)))
        out.append(("SOUR%d:ASER:ATT" % n, lambda: "%.1f" % random.uniform(-10, 0)))
        out.append(("SOUR%d:MODE" % n, lambda: random.choice(PAGES + ["OFF"])))
    out.append(("TRIG:LEV", lambda: str(random.randint(-120, 120))))
    out.append(("TRIG:SLOP", lambda: random.choice(["POS", "NEG"])))
    out.append(("TRIG:SOUR", lambda: random.choice(["AUTO", "EXT", "CLOC"])))
    out.append(("TRIG:CLOC:PER", lambda: str(random.randint(10, 1000000))))
    out.append(("INP:RANG", lambda: random.choice(["300", "150", "50"])))
    out.append(("INP:LOAD", lambda: random.choice(["50", "HIGH"])))
    return out


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    args = sys.argv[1:]
    trace = None
    if "--heaptrack" in args:
        i = args.index("--heaptrack")
        trace = os.path.abspath(args[i + 1])
        del args[i:i + 2]
    program, simulator = os.path.abspath(args[0]), os.path.abspath(args[1])
    minutes = float(args[2]) if len(args) > 2 else 20
    top = tempfile.mkdtemp(prefix="qz-soak-", dir="/tmp")
    run = os.path.join(top, "run")
    os.mkdir(run, 0o700)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=run, LC_ALL="C.UTF-8")
    sim = subprocess.Popen([simulator], env=env, cwd=top, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    while not os.path.exists(os.path.join(run, "qz418", "sim0.sock")):
        time.sleep(0.05)
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    exe = os.path.join(top, "qz418")
    shutil.copy(program, exe)
    cmd = [exe, "--scpi", "--scpi-port", str(port)]
    if trace:
        cmd = ["heaptrack", "-o", trace] + cmd
    app = subprocess.Popen(cmd, env=env, cwd=top, stdout=subprocess.DEVNULL)
    try:
        for _ in range(600):
            try:
                c = socket.create_connection(("127.0.0.1", port), 0.5)
                break
            except OSError:
                time.sleep(0.1)
        c.settimeout(30)
        f = c.makefile("rwb", buffering=0)

        def ask(line):
            c.sendall(line.encode() + b"\n")
            return f.readline().decode().strip()

        pid = app.pid
        if trace:  # heaptrack starts the program as its child
            out = subprocess.run(["pgrep", "-P", str(app.pid), "-x", "qz418"], capture_output=True,
                                 text=True).stdout.split()
            pid = int(out[0]) if out else app.pid
        fields = settings()
        samples = []
        start = time.time()
        next_sample = start
        n = 0
        while time.time() - start < minutes * 60:
            name, value = random.choice(fields)
            c.sendall(("%s %s\n" % (name, value())).encode())
            ask(name + "?")
            ask("*OPC?")
            n += 1
            now = time.time()
            if now >= next_sample:
                samples.append((now - start, rss_kib(pid)))
                print("%6.1f min  %d KiB  %.1f loops/s" % ((now - start) / 60, samples[-1][1], n / max(now - start, 1e-3)),
                      flush=True)
                next_sample += 60
            time.sleep(max(0.0, 1 / 44.0 - (time.time() - now)))
        print("errors:", ask("SYST:ERR?"))
        late = [(t, r) for t, r in samples if t >= 120]
        if len(late) >= 2:
            mt = sum(t for t, _ in late) / len(late)
            mr = sum(r for _, r in late) / len(late)
            slope = sum((t - mt) * (r - mr) for t, r in late) / sum((t - mt) ** 2 for t, _ in late)
            print("growth after warm-up: %.0f KiB per hour (%d loops)" % (slope * 3600, n))
        c.close()
    finally:
        app.terminate()
        app.wait(30)
        sim.terminate()
        sim.wait()
        shutil.rmtree(top, ignore_errors=True)


if __name__ == "__main__":
    main()
