#!/usr/bin/python3
"""The LAN announcement against the system's own tools: a private D-Bus system bus, Avahi
daemon and rpcbind on loopback in new network, mount, PID and UTS namespaces, so nothing
reaches the real interfaces; qz418 listens on a TEST-NET address given to lo there, once it is
there: the program starts before the address is up, as at a boot whose network comes late.
Each service is announced only while it answers: _vxi-11._tcp while rpcbind has the entry.

usage: discovery_e2e.py QZ418 QZ418_SIM   (exit 77: no namespaces allowed, or a tool missing)
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_checks import check, finish, wait_for  # noqa: E402

ADDRESS, PORT, HOST = "192.0.2.1", 5025, "qz-test"
RETRY_S = 5  # how often a server that cannot listen tries again
NAME = "QZ418 on " + HOST
BUS_CONF = """<busconfig><type>system</type><listen>unix:path=/run/dbus/system_bus_socket</listen>
<auth>EXTERNAL</auth><policy context="default"><allow user="*"/><allow own="*"/>
<allow send_destination="*"/><allow receive_sender="*"/></policy></busconfig>
"""
# Avahi leaves loopback alone unless told; IPv4 only keeps the answers to one line each.
AVAHI_CONF = """[server]\nuse-ipv6=no\nallow-interfaces=lo\n[wide-area]\nenable-wide-area=no\n"""
def enter_namespaces():
    tools = ["unshare", "ip", "hostname", "dbus-daemon", "avahi-daemon", "avahi-browse", "avahi-publish", "lxi",
             "rpcbind"]
    missing = [t for t in tools if not shutil.which(t)]
    if missing:
        print("missing %s: skipped" % " ".join(missing))
        sys.exit(77)
    ns = ["unshare", "-n", "-m", "-p", "-u", "-f", "--kill-child", "--mount-proc"]
    if os.geteuid() != 0:
        ns.insert(1, "-r")
    if subprocess.run(ns + ["true"], stderr=subprocess.DEVNULL).returncode != 0:
        print("private namespaces are not permitted here: skipped")
        sys.exit(77)
    os.environ["QZ_DISCOVERY_NS"] = "1"
    os.execvp(ns[0], ns + [sys.executable, os.path.abspath(__file__)] + sys.argv[1:])


def browse(service):
    """avahi-browse's resolved entries of that type: {name: (port, {key: value})}."""
    out = subprocess.run(["avahi-browse", "-rpt", service], capture_output=True, text=True, timeout=20).stdout
    found = {}
    for line in out.splitlines():
        f = line.split(";")
        if f[0] != "=" or len(f) < 10:
            continue
        name = re.sub(r"\\(\d{3})", lambda m: chr(int(m.group(1))), f[3])
        txt = dict(t.split("=", 1) for t in re.findall(r'"([^"]*)"', f[9]) if "=" in t)
        found[name] = (int(f[8]), txt)
    return found


def query(text):
    with socket.create_connection((ADDRESS, PORT), 5) as s:
        s.sendall(text.encode() + b"\n")
        reply = b""
        while not reply.endswith(b"\n"):
            reply += s.recv(4096)
    return reply.decode().strip()


def main():
    program, simulator = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    # /run private to the namespace: the bus socket and the daemon's pid file
    subprocess.run(["sh", "-ec", "mount -t tmpfs tmpfs /run; mkdir /run/dbus /run/avahi-daemon; hostname %s; "
                    "ip link set lo up" % HOST], check=True)
    top = tempfile.mkdtemp(prefix="qz-discovery-", dir="/tmp")
    run = os.path.join(top, "run")
    os.mkdir(run, 0o700)
    os.mkdir(os.path.join(top, "bin"))
    exe = os.path.join(top, "bin", "qz418")
    shutil.copy(program, exe)
    for name, text in (("bus.conf", BUS_CONF), ("avahi.conf", AVAHI_CONF)):
        with open(os.path.join(top, name), "w") as f:
            f.write(text)
    link_log = os.path.join(top, "link.log")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=run, LC_ALL="C.UTF-8",
               QZ418_DIALOG_LOG=os.path.join(top, "dialogs.log"), QZ418_LINK_LOG=link_log,
               DBUS_SYSTEM_BUS_ADDRESS="unix:path=/run/dbus/system_bus_socket")
    # Everything started here ends with this namespace's first process, this script.
    subprocess.Popen(["dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + os.path.join(top, "bus.conf")],
                     env=env, stderr=subprocess.DEVNULL)
    assert wait_for(lambda: os.path.exists("/run/dbus/system_bus_socket"), 10), "no system bus"

    def identity():
        try:
            return query("*IDN?")
        except OSError:
            return None

    def start(listen):
        return subprocess.Popen([exe, "--scpi-listen", listen], env=env, cwd=top), wait_for(identity, 30)

    def log_lines(text):
        if not os.path.exists(link_log):
            return []
        with open(link_log, encoding="utf-8") as f:
            return [l for l in f if text in l]

    def start_rpcbind():
        return subprocess.Popen(["rpcbind", "-f"], stderr=subprocess.DEVNULL)

    try:
        # The address comes after the program: the SCPI socket waits for it, and says so once.
        app = subprocess.Popen([exe, "--scpi-listen", ADDRESS], env=env, cwd=top)
        down = "SCPI выключен: адрес %s, порт %d" % (ADDRESS, PORT)
        check(wait_for(lambda: log_lines(down), 30), "the events window says the SCPI socket waits for its address")
        time.sleep(RETRY_S + 1)  # a retry that fails again says nothing
        subprocess.run(["ip", "addr", "add", ADDRESS + "/32", "dev", "lo"], check=True)
        idn = wait_for(identity, 30)
        check(bool(idn) and idn.startswith("QZ418,"), "remote control answers once the address is up, without "
              "an Avahi daemon or rpcbind")
        check(len(log_lines(down)) == 1 and len(log_lines("SCPI: адрес %s, порт %d" % (ADDRESS, PORT))) == 1,
              "one line when the SCPI socket fails first, one when it comes up")
        check(wait_for(lambda: log_lines("discovery is off"), 10), "the events window says discovery is off")
        subprocess.Popen(["avahi-daemon", "-f", os.path.join(top, "avahi.conf"), "--no-drop-root", "--no-chroot",
                          "--no-rlimits"], env=env, stderr=subprocess.DEVNULL)
        entry = wait_for(lambda: browse("_scpi-raw._tcp").get(NAME), 20)
        check(len(log_lines("discovery is off")) == 1, "discovery off is said once")
        manufacturer, model, device, version = idn.split(",")
        expected = {"txtvers": "1", "Manufacturer": manufacturer, "Model": model, "SerialNumber": device,
                    "FirmwareVersion": version}
        check(entry == (PORT, expected), "a daemon started later gets _scpi-raw._tcp with *IDN?'s fields: %s" % (entry,))
        check(NAME not in browse("_vxi-11._tcp"), "no _vxi-11._tcp without rpcbind")
        rpcbind = start_rpcbind()
        vxi11 = wait_for(lambda: browse("_vxi-11._tcp").get(NAME), 30)
        check(vxi11 == (111, expected), "_vxi-11._tcp on the portmapper's port once rpcbind has the entry: %s" % (vxi11,))

        sim = subprocess.Popen([simulator, "--name", "sim0"], env=env, cwd=top, stdin=subprocess.PIPE,
                               stdout=subprocess.DEVNULL)
        linked = wait_for(lambda: query("SYST:LINK?").startswith("1,"), 30)
        device = query("*IDN?").split(",")[2]
        serial = wait_for(lambda: browse("_scpi-raw._tcp").get(NAME, (0, {}))[1].get("SerialNumber") == device, 15)
        check(linked and device == "sim0" and serial, "SerialNumber follows the link to %s" % device)

        lxi = subprocess.run(["lxi", "discover", "-m", "-t", "2"], capture_output=True, text=True, timeout=30).stdout
        check('Found "%s" on address %s' % (NAME, ADDRESS) in lxi and "scpi-raw service on port %d" % PORT in lxi
              and "vxi-11 service on port 111" in lxi, "lxi discover -m lists both services:\n" + lxi)

        # rpcbind gone: VXI-11 cannot be found any more, and is no longer announced; it comes
        # back with a new rpcbind (which starts with an empty table).
        rpcbind.kill()
        rpcbind.wait()
        check(wait_for(lambda: NAME not in browse("_vxi-11._tcp"), 30), "_vxi-11._tcp goes when rpcbind does")
        check(NAME in browse("_scpi-raw._tcp"), "_scpi-raw._tcp stays")
        check(len(log_lines("VXI-11 выключен: rpcbind не запущен")) == 2,
              "the events window says once per outage that rpcbind is not running")
        rpcbind = start_rpcbind()
        check(wait_for(lambda: browse("_vxi-11._tcp").get(NAME), 30) is not None, "and comes back with rpcbind")

        app.send_signal(signal.SIGTERM)
        app.wait(30)
        check(wait_for(lambda: NAME not in browse("_scpi-raw._tcp") and NAME not in browse("_vxi-11._tcp"), 10),
              "the entries go with the program")

        # Someone else holds the name: the next start, on every interface, takes the alternative.
        subprocess.Popen(["avahi-publish", "-s", NAME, "_scpi-raw._tcp", "9"], env=env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: NAME in browse("_scpi-raw._tcp"), 10)
        app, idn = start("0.0.0.0")
        renamed = wait_for(lambda: browse("_scpi-raw._tcp").get(NAME + " #2"), 20)
        check(renamed is not None and renamed[0] == PORT and browse("_scpi-raw._tcp")[NAME][0] == 9,
              "a held name makes it announce as \"%s #2\"" % NAME)
        app.send_signal(signal.SIGTERM)
        app.wait(30)
    finally:
        shutil.rmtree(top, ignore_errors=True)
    return finish()


if __name__ == "__main__":
    os.environ["PATH"] += ":/usr/sbin:/sbin"
    if os.environ.get("QZ_DISCOVERY_NS") != "1":
        enter_namespaces()
    sys.exit(main())
