"""Careless and hostile remote clients, shared by tests/remote/hostile_e2e.py and
bench/hostile_bench.py: a VXI-11 client that never reads its replies, one that writes queries
and never reads their answers, one whose interrupt channel never reads the service requests it
is sent, one raw-socket line of thousands of trace queries, and a small ONC RPC client to build
them from. Each flood runs on its own thread until stop() is called."""
import socket
import struct
import threading

CORE, ABORT, INTERRUPT = 0x0607AF, 0x0607B0, 0x0607B1
NULL, DEVICE_ABORT, CREATE_LINK, DEVICE_WRITE, DEVICE_READ, DESTROY_LINK = 0, 1, 10, 11, 12, 23
DEVICE_ENABLE_SRQ, CREATE_INTR_CHAN = 20, 25
END = 8
# 10 920 trace queries in one line of 65 524 bytes (each after the first continues the path).
HUGE_LINE = b"TRAC:DATA?" + b";DATA?" * 10919 + b"\n"


def u32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def opaque(b):
    return u32(len(b)) + b + b"\0" * (-len(b) % 4)


class Rpc:
    """One TCP connection to a VXI-11 channel."""

    def __init__(self, port, program=CORE, source="127.0.0.1", timeout=30):
        self.program = program
        self.s = socket.create_connection(("127.0.0.1", port), timeout, source_address=(source, 0))
        self.xid = 0

    def send(self, proc, args=b""):
        self.xid += 1
        body = struct.pack(">IIIIII", self.xid, 0, 2, self.program, 1, proc) + b"\0" * 16 + args
        self.s.sendall(u32(0x80000000 | len(body)) + body)

    def _read(self, n):
        got = b""
        while len(got) < n:
            b = self.s.recv(n - len(got))
            if not b:
                raise ConnectionError("closed")
            got += b
        return got

    def record(self):
        data = b""
        while True:
            h = struct.unpack(">I", self._read(4))[0]
            data += self._read(h & 0x7FFFFFFF)
            if h & 0x80000000:
                return data

    def call(self, proc, args=b""):
        """The results of an accepted reply (after xid, type, reply status, verifier, status)."""
        self.send(proc, args)
        return self.record()[24:]

    def close(self):
        self.s.close()


def error_of(results):
    return struct.unpack(">i", results[:4])[0]


def create_link(rpc, lock=False):
    r = rpc.call(CREATE_LINK, u32(1) + u32(1 if lock else 0) + u32(0) + opaque(b"inst0"))
    return error_of(r), struct.unpack(">i", r[4:8])[0]


def write(rpc, lid, text, io_ms=5000):
    return error_of(rpc.call(DEVICE_WRITE, u32(lid) + u32(io_ms) + u32(0) + u32(END) + opaque(text.encode())))


def read(rpc, lid, io_ms=5000):
    """(error, data) of device_read."""
    r = rpc.call(DEVICE_READ, u32(lid) + u32(1 << 20) + u32(io_ms) + u32(0) + u32(0) + u32(0))
    n = struct.unpack(">I", r[8:12])[0]
    return error_of(r), r[12:12 + n]


def ask(rpc, lid, text):
    write(rpc, lid, text)
    return read(rpc, lid)[1].decode(errors="replace").strip()


def abort(rpc, lid):
    return error_of(rpc.call(DEVICE_ABORT, u32(lid)))


def raw_ask(port, line, timeout=30):
    with socket.create_connection(("127.0.0.1", port), timeout) as s:
        s.sendall(line.encode() + b"\n")
        got = b""
        while not got.endswith(b"\n"):
            b = s.recv(65536)
            if not b:
                break
            got += b
        return got.decode(errors="replace").strip()


class Flood(threading.Thread):
    """Sends for ever (until stop()) what one kind of hostile client sends."""

    def __init__(self, kind, vxi11_port=0, scpi_port=0):
        super().__init__(daemon=True)
        self.kind, self.vxi11_port, self.scpi_port = kind, vxi11_port, scpi_port
        self.sent = 0
        self.halt = threading.Event()
        self.conn = None
        self.receiver = None  # srq_unread: the interrupt channel's end, never read

    def run(self):
        try:
            getattr(self, "_" + self.kind)()
        except OSError:
            pass  # stopped: the socket was shut down under a blocking send

    def _null_unread(self):
        # Null calls, replies never read.
        self.conn = Rpc(self.vxi11_port)
        call = struct.pack(">IIIIII", 0, 0, 2, CORE, 1, NULL) + b"\0" * 16
        batch = b"".join(u32(0x80000000 | len(call)) + call for _ in range(1000))
        while not self.halt.is_set():
            self.conn.s.sendall(batch)
            self.sent += 1000

    def _pairs_unread(self):
        # *IDN? written and read by calls whose replies are never read.
        self.conn = Rpc(self.vxi11_port)
        _, lid = create_link(self.conn)
        w = u32(lid) + u32(5000) + u32(0) + u32(END) + opaque(b"*IDN?")
        r = u32(lid) + u32(1 << 20) + u32(5000) + u32(0) + u32(0) + u32(0)
        while not self.halt.is_set():
            self.conn.send(DEVICE_WRITE, w)
            self.conn.send(DEVICE_READ, r)
            self.sent += 1

    def _write_only_queries(self):
        # device_write of trace queries, device_read never.
        self.conn = Rpc(self.vxi11_port)
        _, self.lid = create_link(self.conn)
        while not self.halt.is_set():
            write(self.conn, self.lid, "TRAC:DATA?")
            self.sent += 1

    def _srq_unread(self):
        # Service requests to an interrupt channel that never reads them. Under *SRE 16 the
        # request follows MAV: each *IDN? written drops the unread answer of the one before (MAV
        # falls) and then answers (MAV rises), so every write makes one device_intr_srq call;
        # sent counts the writes. The receive buffer is small (set before listen(), so the
        # accepted socket has it) and the call carries the longest handle (40 bytes): the calls
        # wait on the program's side, about 88 bytes each with the record mark.
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.settimeout(30)
        self.conn = Rpc(self.vxi11_port)
        err, lid = create_link(self.conn)
        if err:
            raise RuntimeError("create_link: error %d" % err)
        port = listener.getsockname()[1]
        err = error_of(self.conn.call(CREATE_INTR_CHAN, u32(0x7F000001) + u32(port) + u32(INTERRUPT) + u32(1) +
                                      u32(0)))
        if err:
            raise RuntimeError("create_intr_chan: error %d" % err)
        with listener:
            self.receiver = listener.accept()[0]
        err = error_of(self.conn.call(DEVICE_ENABLE_SRQ, u32(lid) + u32(1) + opaque(bytes(range(0x41, 0x69)))))
        if err or write(self.conn, lid, "*SRE 16"):
            raise RuntimeError("device_enable_srq or *SRE 16 failed")
        while not self.halt.is_set():
            write(self.conn, lid, "*IDN?")
            self.sent += 1

    def _huge_line(self):
        # One line of 10 920 trace queries (65 524 bytes), again and again, answers read.
        line = HUGE_LINE
        self.conn = socket.create_connection(("127.0.0.1", self.scpi_port), 60)
        f = self.conn.makefile("rb")
        self.answers = []
        with f:
            while not self.halt.is_set():
                self.conn.sendall(line)
                n, size = read_block_line(f)
                if n is None:
                    return
                self.answers.append((n, size))
                self.sent += 1

    def stop(self):
        self.halt.set()
        if self.conn is not None:
            s = self.conn.s if isinstance(self.conn, Rpc) else self.conn
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        self.join(30)
        if self.conn is not None:
            (self.conn.s if isinstance(self.conn, Rpc) else self.conn).close()
        if self.receiver is not None:
            self.receiver.close()


def read_block_line(f):
    """Reads one line of IEEE 488.2 definite-length blocks separated by ';' without keeping
    them: (number of blocks, bytes), or (None, bytes) when the connection closed."""
    n = size = 0
    while True:
        c = f.read(1)
        if not c:
            return None, size
        if c == b"\n" and n == 0:
            return 0, size
        if c != b"#":
            return None, size
        digits = int(f.read(1))
        length = int(f.read(digits))
        left = length
        while left:
            chunk = f.read(min(left, 1 << 20))
            if not chunk:
                return None, size
            left -= len(chunk)
        n += 1
        size += 2 + digits + length + 1
        sep = f.read(1)
        if sep == b"\n":
            return n, size
        if sep != b";":
            return None, size


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0
