#!/usr/bin/python3
"""Careless and hostile clients against the real program, inside a private network namespace
with its own rpcbind: a VXI-11 client that never reads its replies, one that writes queries
and never reads their answers, raw-socket lines of thousands of trace queries, connections
that never send, a lock holder frozen in the middle, another host's abort, and a peer that
vanishes without a word while it holds the lock and every place. Under each the
program stays small, the exchange keeps cycling and the next client is served. No timings are
checked here (bench/hostile_bench.py measures them).

usage: hostile_e2e.py QZ418 QZ418_SIM      (exit 77: rpcbind or namespaces missing)
"""
import os
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vxi11_e2e_support import Station, check, enter_namespace, finish, registered_port, wait_for  # noqa: E402
import hostile_clients as h  # noqa: E402

enter_namespace()

MEMORY_BOUND_KIB = int(os.environ.get("QZ_HOSTILE_MEMORY_MIB", "100")) * 1024
IDLE_MS = 2000  # the idle time after which a connection gives way to a new one, for this test


def main():
    station = Station(sys.argv[1], sys.argv[2])
    try:
        log = os.path.join(station.top, "packets.log")
        station.start_simulator("--log", log)
        app, scpi, _ = station.start_copy(QZ418_REMOTE_IDLE_MS=str(IDLE_MS))
        check(wait_for(lambda: registered_port() != 0, 10), "rpcbind has the core channel")
        core = registered_port()
        check(wait_for(lambda: h.raw_ask(scpi, "SYST:LINK?") == '1,"sim0"', 10), "the link to the simulator is up")
        aport = abort_port(core)

        def packets():
            with open(log) as f:
                return sum(1 for _ in f)

        peak = [0]

        def served(what):
            """The program is small, the exchange goes on, and a new client on each server is
            answered, while what is under way goes on."""
            before = packets()
            peak[0] = max(peak[0], h.rss_kib(app.pid))
            check(peak[0] < MEMORY_BOUND_KIB, "%s: the program stays below %d MB (%d KiB)" % (what, MEMORY_BOUND_KIB // 1024, peak[0]))
            check(h.raw_ask(scpi, "SOUR1:PULS:AMPL -7;*OPC?") == "1", "%s: *OPC? on the socket completes" % what)
            v = h.Rpc(core)
            err, lid = h.create_link(v)
            check(err == 0 and h.ask(v, lid, "*IDN?").startswith("QZ418,"), "%s: a new VXI-11 link is answered" % what)
            v.close()
            check(wait_for(lambda: packets() > before + 2, 10), "%s: the exchange keeps sending packets" % what)

        # 1. Calls whose replies are never read (Null calls, *IDN? pairs), two connections.
        floods = [h.Flood("null_unread", vxi11_port=core), h.Flood("pairs_unread", vxi11_port=core)]
        for f in floods:
            f.start()
        check(wait_for(lambda: all(f.sent > 0 for f in floods), 10), "the non-reading VXI-11 clients send")
        time.sleep(3)
        served("VXI-11 clients that do not read")
        time.sleep(2)
        served("VXI-11 clients that do not read, later")
        for f in floods:
            f.stop()

        # 2. device_write of trace queries and never a device_read: each drops the one before.
        w = h.Flood("write_only_queries", vxi11_port=core)
        w.start()
        check(wait_for(lambda: w.sent > 50, 20), "the write-only client's queries are taken")
        served("a client that writes queries only")
        w.halt.set()
        w.join(30)
        err, data = h.read(w.conn, w.lid)
        check(err == 0 and data.startswith(b"#") and len(data) < 20000,
              "the write-only client finds one trace to read (%d bytes), not hundreds" % len(data))
        check(h.ask(w.conn, w.lid, "SYST:ERR?") == '-410,"Query INTERRUPTED"',
              "its unread answers were interrupted (-410)")
        w.conn.close()

        # 3. Raw-socket lines of 10 920 trace queries, two clients at once.
        lines = [h.Flood("huge_line", scpi_port=scpi), h.Flood("huge_line", scpi_port=scpi)]
        for f in lines:
            f.start()
        check(wait_for(lambda: all(f.sent >= 2 for f in lines), 60), "the long lines are answered")
        served("lines of 10 920 trace queries")
        for f in lines:
            f.stop()
        sizes = [a for f in lines for a in f.answers]
        check(sizes and all(0 < n < 10920 and size < 2 * 1024 * 1024 for n, size in sizes),
              "each long line's answers stop near 1 MiB: %s" % sorted(set(sizes))[:3])
        with socket.create_connection(("127.0.0.1", scpi), 30) as s:
            f = s.makefile("rwb", buffering=0)
            s.sendall(h.HUGE_LINE)
            h.read_block_line(f)
            s.sendall(b"SYST:ERR?\n")
            check(f.readline().strip() == b'-430,"Query DEADLOCKED"', "the next SYST:ERR? says -430")
            f.close()  # the connection closes only with its file

        # 4. A lock holder frozen in the middle, with every other place of the core channel
        # taken by connections that never send.
        holder = subprocess.Popen([sys.executable, "-c", HOLDER, os.path.dirname(os.path.abspath(__file__)),
                                   str(core)], stdout=subprocess.PIPE)
        check(holder.stdout.readline().strip() == b"locked", "a client takes the lock")
        assert holder.pid > 0
        holder.send_signal(signal.SIGSTOP)
        check(h.raw_ask(scpi, "SOUR1:PULS:AMPL -8;:SYST:ERR?") == '-203,"Command protected"',
              "the raw socket's settings are refused while it holds the lock")
        idle = [h.Rpc(core) for _ in range(7)]
        idle_raw = fill(scpi)
        idle_abort = fill(aport)
        ninth = socket.create_connection(("127.0.0.1", scpi), 10)
        check(wait_for(lambda: closed(ninth), 5), "with eight fresh connections the ninth is closed")
        ninth.close()
        time.sleep(IDLE_MS / 1000 + 0.5)
        late = h.Rpc(core)
        err, lid = h.create_link(late)
        check(err == 0 and h.ask(late, lid, "*TST?") == "0", "a new VXI-11 client gets the place of the idlest")
        check(h.raw_ask(scpi, "SOUR1:PULS:AMPL -8;:SYST:ERR?") == '0,"No error"',
              "the frozen holder gave way and its lock went with it")
        check(wait_for(lambda: closed(idle_raw[0]), 5), "the idlest raw connection gave way to the last one")
        fresh = socket.create_connection(("127.0.0.1", aport), 10)
        check(wait_for(lambda: closed(idle_abort[0]), 5), "the idlest abort connection gave way too")
        served("idle connections on every channel")
        for s in idle_raw + idle_abort + [fresh]:
            s.close()
        for r in idle:
            r.close()
        holder.kill()
        holder.wait()

        # 5. Another host's abort: link ids cannot be counted and its abort is refused.
        a = h.Rpc(core)
        _, la = h.create_link(a)
        _, lb = h.create_link(a)
        check(abs(la - lb) > 1, "link ids are not a count (%d, %d)" % (la, lb))
        a.send(h.DEVICE_READ, h.u32(la) + h.u32(1 << 20) + h.u32(3000) + h.u32(0) * 3)
        other = h.Rpc(aport, h.ABORT, source="127.0.0.2")
        check(all(h.abort(other, lid) == 4 for lid in [la, lb, 1, 2, 3, 4]),
              "another host's aborts all get error 4, the real link's too")
        check(h.error_of(a.record()[24:]) == 15, "the waiting read ends with its own timeout, not aborted")
        a.send(h.DEVICE_READ, h.u32(la) + h.u32(1 << 20) + h.u32(20000) + h.u32(0) * 3)
        own = h.Rpc(aport, h.ABORT)
        check(h.abort(own, la) == 0, "the link's own host may abort")
        check(h.error_of(a.record()[24:]) == 23, "and its read ends aborted")
        for c in (a, other, own, late):
            c.close()
        served("after all of them")
        check(h.raw_ask(scpi, "*IDN?").startswith("QZ418,"), "the program still answers")
        app.send_signal(signal.SIGTERM)
        app.wait(30)
        vanished_peer(station)
    finally:
        station.close()
    return finish()


# A client that takes the lock, says so, and then does nothing (it is stopped from outside).
HOLDER = """
import sys, time
sys.path.insert(0, sys.argv[1])
import hostile_clients as h
c = h.Rpc(int(sys.argv[2]))
err, lid = h.create_link(c, lock=True)
print("locked" if err == 0 else "error %d" % err, flush=True)
time.sleep(3600)
"""


def vanished_peer(station):
    """6. A client takes the lock, 16 links and every place of the core channel and the SCPI
    socket, then vanishes without FIN or RST (a cable pulled, a host off): its address goes
    into a black hole. This copy keeps the default idle limit, so nothing gives way to a new
    connection: keep-alive (shortened here) alone ends its connections, their links and the lock."""
    app, scpi, _ = station.start_copy(QZ418_REMOTE_KEEPALIVE="1,1,2")
    check(wait_for(lambda: registered_port() != 0, 10), "a copy with short keep-alive registers")
    core = registered_port()
    gone = [h.Rpc(core, source=PEER) for _ in range(8)]
    links = [h.create_link(r, lock=i == 0) for i, r in enumerate(gone * 2)]
    check([e for e, _ in links] == [0] * 16, "a client takes the lock, 16 links and the 8 places of the core channel")
    gone_raw = [socket.create_connection(("127.0.0.1", scpi), 10, source_address=(PEER, 0)) for _ in range(8)]
    gone_raw[0].sendall(SETTING.encode() + b"\n")
    with gone_raw[0].makefile("rb") as f:
        check(f.readline().strip() == b'-203,"Command protected"', "a raw-socket setting is refused (-203)")
    for port in (core, scpi):
        ninth = socket.create_connection(("127.0.0.1", port), 10)
        check(wait_for(lambda: closed(ninth), 5), "it has every place: a ninth connection is closed at once")
        ninth.close()
    # Its last ACKs come late (delayed): lost with it, the program's last answers would wait for
    # them and keep-alive, which probes idle connections only, would not start.
    check(wait_for(all_acked, 10), "the program has nothing unacknowledged for it")
    # The lock holder's last call, a read that times out, is answered after it is gone: that
    # answer stays unacknowledged, which keep-alive alone would not end.
    gone[0].send(h.DEVICE_READ, b"".join(h.u32(v) for v in (links[0][1], 1024, 2000, 0, 0, 0)))
    subprocess.run(["ip", "route", "add", "blackhole", PEER, "table", "local"], check=True)
    check(wait_for(lambda: raw_or_none(scpi, SETTING) == '0,"No error"', 30),
          "keep-alive frees a place on the SCPI socket and the lock")
    check(wait_for(lambda: all_back(core), 30), "the 8 places of the core channel, 16 links and the lock are back")
    # A live client that takes nothing of its answers goes the same way: its window stays closed.
    stuck = socket.socket()
    stuck.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    stuck.connect(("127.0.0.1", scpi))
    stuck.sendall(b"TRAC:DATA?\n" * 200)
    end = "dport = :%d" % stuck.getsockname()[1]
    check(wait_for(lambda: not subprocess.run(["ss", "-tnH", end], capture_output=True, text=True).stdout, 30),
          "a client that never reads its answers is disconnected")
    stuck.close()


PEER = "127.0.0.3"  # the address of the client that vanishes
SETTING = "SOUR1:PULS:AMPL -8;:SYST:ERR?"


def all_acked():
    out = subprocess.run(["ss", "-tnH", "dst", PEER], capture_output=True, text=True).stdout.splitlines()
    return len(out) == 16 and all(line.split()[2] == "0" for line in out)  # the send queues


def all_back(core):
    back = []  # eight new connections to the core channel, two links each, the first with the lock
    try:
        back = [h.Rpc(core) for _ in range(8)]
        return [h.create_link(r, lock=i == 0)[0] for i, r in enumerate(back * 2)] == [0] * 16
    except OSError:
        return False  # one of them had no place
    finally:
        for r in back:
            r.close()


def raw_or_none(port, line):
    try:
        return h.raw_ask(port, line, 5)
    except OSError:
        return None  # closed at once: no place


def abort_port(core):
    c = h.Rpc(core)
    r = c.call(h.CREATE_LINK, h.u32(1) + h.u32(0) + h.u32(0) + h.opaque(b"inst0"))
    lid = h.error_of(r[4:8])
    port = h.error_of(r[8:12])
    c.call(h.DESTROY_LINK, h.u32(lid))
    c.close()
    return port


def fill(port):
    """Eight connections that never send, once the connections of the steps before have left
    (the program notices a close only as it comes)."""
    for _ in range(40):
        conns = [socket.create_connection(("127.0.0.1", port), 10) for _ in range(8)]
        time.sleep(0.2)
        if not any(closed(c) for c in conns):
            for c in conns:
                c.setblocking(True)
            return conns
        for c in conns:
            c.close()
        time.sleep(0.5)
    return conns


def closed(s):
    s.setblocking(False)
    try:
        return s.recv(1) == b""
    except BlockingIOError:
        return False
    except OSError:
        return True


if __name__ == "__main__":
    sys.exit(main())
