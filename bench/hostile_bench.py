#!/usr/bin/python3
"""Memory, CPU and the exchange cycle of the real program under careless and hostile remote
clients, in blocks of SECONDS each: idle; a VXI-11 client sending Null calls and another sending
*IDN? write/read pairs, neither reading a reply; a VXI-11 client writing trace queries and never
reading an answer; two raw-socket clients each sending lines of 10 920 trace queries; one VXI-11
read waiting for an answer that never comes; a VXI-11 client whose interrupt channel never reads
the service requests (one per *IDN? written) sent to it. Each block has a fresh copy of the
program. The cycle is the period between command packets as qz418-sim logs them; memory is the
program's resident size (at the block's start, peak, at its end); CPU is the program's user and
system time over the block; "sent" is what each client sent (calls, pairs, writes, lines;
for the interrupt channel's client, *IDN? writes, each one service request). A block ends early
when the program passes 1.5 GB (older versions do).

Runs inside a private network namespace with its own rpcbind (as the VXI-11 tests do); BLOCK
names (idle, unread, write_only, lines, waiting, srq) run only those blocks:

    /usr/bin/python3 bench/hostile_bench.py build/qz418 build/qz418-sim [SECONDS [BLOCK...]]
"""
import os
import statistics
import sys
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "remote"))
from vxi11_e2e_support import Station, enter_namespace, registered_port, wait_for  # noqa: E402
import hostile_clients as h  # noqa: E402

enter_namespace()

LIMIT_KIB = 1536 * 1024


def cpu_s(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


BLOCKS = [
    ("idle", "idle", []),
    ("unread", "VXI-11: Null calls and *IDN? pairs, replies never read", ["null_unread", "pairs_unread"]),
    ("write_only", "VXI-11: trace queries written, never read", ["write_only_queries"]),
    ("lines", "socket: two clients, lines of 10 920 trace queries", ["huge_line", "huge_line"]),
    ("waiting", "VXI-11: one read waiting for an answer", "waiting_read"),
    ("srq", "VXI-11: service requests to a receiver that never reads", ["srq_unread"]),
]


def main():
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 15
    chosen = sys.argv[4:]
    unknown = set(chosen) - {key for key, _, _ in BLOCKS}
    if unknown:
        sys.exit("no such block: %s" % " ".join(sorted(unknown)))
    station = Station(sys.argv[1], sys.argv[2])
    try:
        log = os.path.join(station.top, "packets.log")
        stale = 0
        print("%-56s %8s %8s %8s %10s %10s %10s %7s  %s" % (
            "block (a fresh copy of the program each)", "median", "mean", "p95", "start RSS", "peak RSS", "end RSS",
            "CPU", "sent"))
        for key, name, kind in BLOCKS:
            if chosen and key not in chosen:
                continue
            # A fresh simulator and program each: what one block did to memory stays with it.
            station.start_simulator("--log", log)
            app, scpi, _ = station.start_copy(XDG_RUNTIME_DIR=station.env("qz418-1")["XDG_RUNTIME_DIR"])
            assert wait_for(lambda: h.raw_ask(scpi, "SYST:LINK?") == '1,"sim0"', 20), "no link"
            assert wait_for(lambda: registered_port() not in (0, stale), 20), "no VXI-11"
            core = registered_port()
            time.sleep(3)  # warm-up: first pages shown, fonts
            waiting = None
            clients = []
            if kind == "waiting_read":
                waiting = h.Rpc(core)
                _, lid = h.create_link(waiting)
                waiting.send(h.DEVICE_READ, h.u32(lid) + h.u32(1 << 20) + h.u32(int(seconds * 1000) + 5000) +
                             h.u32(0) * 3)
            elif kind:
                clients = [h.Flood(k, vxi11_port=core, scpi_port=scpi) for k in kind]
            with open(log) as f:
                f.seek(0, 2)
                start = f.tell()
            cpu0 = cpu_s(app.pid)
            first = h.rss_kib(app.pid)
            t0 = time.time()
            for c in clients:
                c.start()
            peak = 0
            while time.time() - t0 < seconds:
                peak = max(peak, h.rss_kib(app.pid))
                if peak > LIMIT_KIB:
                    break
                time.sleep(0.2)
            last = h.rss_kib(app.pid)
            peak = max(peak, last)
            sent = [c.sent for c in clients]
            used = cpu_s(app.pid) - cpu0
            elapsed = time.time() - t0
            with open(log) as f:
                f.seek(start)
                stamps = [int(line.split()[0]) for line in f if line.strip()]
            stale = core
            for p in (app, station.sim):
                p.kill()
                p.wait()
            for c in clients:
                threading.Thread(target=c.stop, daemon=True).start()
            if waiting:
                waiting.close()
            periods = sorted(b - a for a, b in zip(stamps, stamps[1:]))
            nan = float("nan")
            med = statistics.median(periods) if periods else nan
            mean = statistics.mean(periods) if periods else nan
            p95 = periods[min(len(periods) - 1, int(0.95 * (len(periods) - 1) + 0.5))] if periods else nan
            print("%-56s %6.1fms %6.2fms %6.1fms %7.1f MB %7.1f MB %7.1f MB %5.1f %%  %s%s" % (
                name, med, mean, p95, first / 1024, peak / 1024, last / 1024, 100 * used / elapsed,
                " + ".join(str(n) for n in sent) or "-",
                "  (stopped at %.1f s)" % elapsed if elapsed < seconds - 0.5 else ""), flush=True)
            time.sleep(2)
    finally:
        station.close()


if __name__ == "__main__":
    main()
