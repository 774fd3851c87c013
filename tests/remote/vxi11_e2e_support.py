"""What the VXI-11 end-to-end scripts share: a private network namespace (loopback only) with
its own rpcbind, and qz418 with qz418-sim in a temporary folder. Nothing here reaches the
machine's interfaces or its rpcbind."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from e2e_checks import check, finish, wait_for  # noqa: F401 (the scripts import them from here)

CORE_PROGRAM = 395183  # 0x0607AF


def enter_namespace():
    """Runs the calling script again inside `unshare -n -m`, once; exits with its status
    (77 when no namespace can be made or rpcbind is missing)."""
    if os.environ.get("QZ_VXI11_NETNS") == "1":
        return
    if not shutil.which("rpcbind") or not shutil.which("rpcinfo"):
        print("rpcbind is not installed: skipped")
        sys.exit(77)
    root = ["-r"] if os.geteuid() != 0 else []
    cmd = ["unshare"] + root + ["-n", "-m", sys.executable] + sys.argv
    if subprocess.run(["unshare"] + root + ["-n", "-m", "true"], stderr=subprocess.DEVNULL).returncode != 0:
        print("no private network namespace here: skipped")
        sys.exit(77)
    sys.exit(subprocess.run(cmd, env=dict(os.environ, QZ_VXI11_NETNS="1")).returncode)


def answers(port):
    try:
        socket.create_connection(("127.0.0.1", port), 0.2).close()
        return True
    except OSError:
        return False


def registered_port():
    """The port rpcbind has for the VXI-11 core channel over TCP, or 0."""
    out = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True).stdout
    for line in out.splitlines():
        f = line.split()
        if len(f) >= 4 and f[0] == str(CORE_PROGRAM) and f[2] == "tcp":
            return int(f[3])
    return 0


class Station:
    """rpcbind, qz418-sim and copies of qz418, each copy in its own folder."""

    def __init__(self, program, simulator):
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        # rpcbind keeps its socket and state under /run: a private one for this namespace.
        subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/run"], check=True)
        self.top = tempfile.mkdtemp(prefix="qz-vxi11-", dir="/tmp")
        self.program, self.simulator = os.path.abspath(program), os.path.abspath(simulator)
        self.processes = []
        self.rpcbind = None
        self.start_rpcbind()
        self.sim = None
        self.copies = 0

    def start_rpcbind(self):
        self.rpcbind = self.start(["rpcbind", "-f", "-w"])
        assert wait_for(lambda: answers(111), 10), "rpcbind does not start"

    def kill_rpcbind(self):
        """Ends rpcbind without the warm-start file it writes on TERM: a new one starts empty."""
        self.rpcbind.kill()
        self.rpcbind.wait()

    def start(self, cmd, **kw):
        p = subprocess.Popen(cmd, **kw)
        self.processes.append(p)
        return p

    def env(self, name):
        run = os.path.join(self.top, name, "run")
        os.makedirs(run, 0o700, exist_ok=True)
        return dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=run, LC_ALL="C.UTF-8",
                    QZ418_DIALOG_LOG=os.path.join(self.top, name, "dialogs.log"))

    def start_simulator(self, *args):
        env = self.env("qz418-1")
        self.sim = self.start([self.simulator, "--name", "sim0", *args], env=env, cwd=self.top,
                              stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
        assert wait_for(lambda: os.path.exists(os.path.join(env["XDG_RUNTIME_DIR"], "qz418", "sim0.sock")), 10)

    def start_copy(self, port=None, **env):
        """A copy of qz418 with remote control on a free port, or on port (then it may have to
        wait for it): (process, SCPI port, stderr file). Keyword arguments are added to its
        environment."""
        self.copies += 1
        name = "qz418-%d" % self.copies
        folder = os.path.join(self.top, name)
        os.makedirs(os.path.join(folder, "bin"), exist_ok=True)
        exe = os.path.join(folder, "bin", "qz418")
        shutil.copy(self.program, exe)
        wait = port is None
        if wait:
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                port = s.getsockname()[1]
        err = os.path.join(folder, "stderr")
        p = self.start([exe, "--scpi", "--scpi-port", str(port)], env=dict(self.env(name), **env), cwd=folder,
                       stderr=open(err, "w"))
        assert not wait or wait_for(lambda: answers(port), 20), "the program does not listen"
        return p, port, err

    def close(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(self.top, ignore_errors=True)
