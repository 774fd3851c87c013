#!/usr/bin/env python3
"""qz418.exe against qz418-sim.exe under wine, and the same session with the Linux build.

One session: the program starts from a scratch folder that holds a Scenes.ini, links to the
simulator, sends its command packets (checked byte by byte against values worked out by hand),
applies the scenes the simulator's status reports request (3, then 5: the packet changes), and
is closed as an operator closes the panel (Windows: WM_CLOSE through taskkill; Linux: SIGTERM,
which the program turns into the same close). Its exit then writes qz418.ini and Scenes.ini:
cp1251, CR LF only, and the same sections, keys and values from both builds, the window
geometry keys aside (the two window systems place windows differently).

  e2e_wine.py WINDOWS_BUILD [LINUX_BUILD]

Without a Linux build folder (or without its programs) the comparison is skipped with a note
and the Windows session is still checked. Exit 0 on success, 1 on a failure.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "wine-run")

# Scene 1 keeps every default; scenes 3 and 5 give only the keys that differ. Whole numbers
# read the same whatever the decimal separator.
SCENES_INI = (
    "[ScenaForm]\r\nCommentEdit=Defaults\r\n"
    "[ScenaForm_2]\r\nCommentEdit=Импульс -40 дБ 500 мкс\r\nCh1_PageControl=0\r\n"
    "Ch1I_AmplPBSuperSpin=-40\r\nCh1I_DelayPBSuperSpin=500\r\n"
    "[ScenaForm_4]\r\nCommentEdit=Серия -20 дБ 1000 мкс\r\nCh1_PageControl=1\r\n"
    "Ch1A_AmplPBSuperSpin=-20\r\nCh1A_DelayPBSuperSpin=1000\r\n"
).encode("cp1251")

# Channel 1 of each scene as the packet carries it: the mode byte (offset 3), the upper three
# bytes of the amplitude word (6-8) and the delay count (11-13), in the log's lower-case hex.
# Sine at -2.3 dB: 10^(-2.3/20) * 4294967295 = C471CD74h, delay preset 1; pulse at -40 dB:
# 028F5C28h, 500 us at 5 ns a count = 0186A0h; a series at -20 dB: 19999999h, 1000 us = 030D40h.
SCENE_BYTES = {1: ("03", "c471cd", "000001"), 3: ("00", "028f5c", "0186a0"), 5: ("01", "199999", "030d40")}

# Keys that say where a window is and how big, which each window system decides for itself.
GEOMETRY_KEYS = {"left", "top", "width", "height", "clientwidth", "clientheight", "windowstate", "pixelsperinch"}


def scene_of(hexline):
    for scene, (mode, amplitude, delay) in SCENE_BYTES.items():
        if hexline[6:8] == mode and hexline[12:18] == amplitude and hexline[22:28] == delay:
            return scene
    return 0


class Failure(Exception):
    pass


def wait_for(what, done, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if done():
            return
        time.sleep(0.1)
    raise Failure("timed out waiting for " + what)


def packets(log):
    try:
        with open(log, encoding="ascii") as f:
            lines = f.read().splitlines()
    except FileNotFoundError:
        return []
    return [l.split(" ", 1)[1] for l in lines if " " in l]


class Session:
    """One run of the program against the simulator in a scratch folder."""

    def __init__(self, name, program, sim, windows):
        self.name = name
        self.windows = windows
        self.work = tempfile.mkdtemp(prefix="qz418-e2e-%s-" % name)
        self.app = os.path.join(self.work, "app")
        self.run = os.path.join(self.work, "run")
        os.makedirs(self.app)
        os.makedirs(self.run, mode=0o700)
        os.makedirs(os.path.join(self.work, "home"))
        self.program = os.path.join(self.app, os.path.basename(program))
        shutil.copy2(program, self.program)
        self.sim = sim
        with open(os.path.join(self.app, "Scenes.ini"), "wb") as f:
            f.write(SCENES_INI)
        self.log = os.path.join(self.work, "packets.log")
        self.env = dict(os.environ)
        self.env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8")
        for k in ("LANGUAGE", "LC_NUMERIC"):
            self.env.pop(k, None)
        if windows:
            # The Windows programs read the folder as a Windows path (wine maps / to Z:).
            self.env["XDG_RUNTIME_DIR"] = "Z:" + self.run.replace("/", "\\")
        else:
            # Wine needs the real home (its prefix's owner); the Linux program gets a scratch one.
            self.env.update(HOME=os.path.join(self.work, "home"), XDG_CONFIG_HOME=os.path.join(self.work, "home"))
            self.env["XDG_RUNTIME_DIR"] = self.run
            self.env["QT_QPA_PLATFORM"] = "offscreen"
        self.sim_proc = None
        self.proc = None

    def command(self, path, *args):
        return [WINE_RUN, path, *args] if self.windows else [path, *args]

    def start(self):
        self.sim_proc = subprocess.Popen(self.command(self.sim, "--name", "sim0", "--log", self.sim_path(self.log)),
                                         stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, env=self.env, cwd=self.work,
                                         stderr=open(os.path.join(self.work, "sim-stderr.txt"), "wb"))
        # Real windows (on the display wine-run gives), so that the close reaches the panel.
        args = ["--unattended"] + (["-platform", "windows"] if self.windows else [])
        self.proc = subprocess.Popen(self.command(self.program, *args), env=self.env, cwd=self.app,
                                     stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.work, "stderr.txt"), "wb"))

    def sim_path(self, path):
        return "Z:" + path.replace("/", "\\") if self.windows else path

    def sim_says(self, line):
        self.sim_proc.stdin.write((line + "\n").encode())
        self.sim_proc.stdin.flush()

    def close_program(self):
        if self.windows:
            # Without /F taskkill sends WM_CLOSE to the program's top-level windows: the panel's
            # close, the exit an operator makes.
            subprocess.run([WINE_RUN, "taskkill.exe", "/im", os.path.basename(self.program)], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        else:
            if self.proc.pid <= 0:
                raise Failure("no program to close")
            self.proc.send_signal(signal.SIGTERM)
        try:
            code = self.proc.wait(timeout=120)
        except subprocess.TimeoutExpired:
            raise Failure("%s: the program did not end after its close" % self.name)
        if code != 0:
            raise Failure("%s: the program ended with %d" % (self.name, code))

    def stop(self):
        if self.sim_proc and self.sim_proc.poll() is None:
            try:
                self.sim_says("quit")
                self.sim_proc.wait(timeout=60)
            except (OSError, subprocess.TimeoutExpired):
                self.sim_proc.kill()
                self.sim_proc.wait()
        if self.proc and self.proc.poll() is None:
            if self.windows:
                # The Windows process lives in wine's server, not under wine-run.
                subprocess.run([WINE_RUN, "taskkill.exe", "/f", "/im", os.path.basename(self.program)], env=self.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
            self.proc.kill()
            self.proc.wait()

    def stderr(self):
        out = ""
        for name in ("sim-stderr.txt", "stderr.txt"):
            with open(os.path.join(self.work, name), "rb") as f:
                out += name + ":\n" + f.read().decode("utf-8", "replace")
        return out

    def exercise(self):
        """The session; returns the exit's files as {name: bytes}."""
        self.start()
        wait_for(self.name + ": three command packets", lambda: len(packets(self.log)) >= 3, 120)
        first = packets(self.log)[0]
        if len(first) != 128:
            raise Failure("%s: a packet of %d hex digits: %s" % (self.name, len(first), first))
        if scene_of(first) != 1:
            raise Failure("%s: the first packet does not carry the panel's defaults: %s" % (self.name, first))
        # A request acts once; a report without one (scene 0) re-arms it.
        for scene in (3, 5):
            self.sim_says("scene %d" % scene)
            wait_for("%s: the packet of scene %d" % (self.name, scene),
                     lambda: any(scene_of(p) == scene for p in packets(self.log)), 60)
            count = len(packets(self.log))
            self.sim_says("scene 0")
            wait_for(self.name + ": packets after the scene", lambda: len(packets(self.log)) >= count + 3, 60)
        self.close_program()
        # Every packet is one of the scenes, in the order they were asked for.
        order = []
        for i, p in enumerate(packets(self.log)):
            scene = scene_of(p)
            if scene == 0:
                raise Failure("%s: packet %d is none of the scenes: %s" % (self.name, i, p))
            if not order or order[-1] != scene:
                order.append(scene)
        if order != [1, 3, 5]:
            raise Failure("%s: the packets went through scenes %s, not 1, 3, 5" % (self.name, order))
        files = {}
        for name in ("qz418.ini", "Scenes.ini"):
            path = os.path.join(self.app, name)
            if not os.path.exists(path):
                raise Failure("%s: the exit did not write %s" % (self.name, name))
            with open(path, "rb") as f:
                files[name] = f.read()
        return files


def check_text(name, data):
    """cp1251 with CR LF line ends only; the text as a list of lines."""
    if b"\n" in data.replace(b"\r\n", b"") or b"\r" in data.replace(b"\r\n", b""):
        raise Failure("%s: a line end other than CR LF" % name)
    try:
        text = data.decode("cp1251")
    except UnicodeDecodeError as e:
        raise Failure("%s: not cp1251: %s" % (name, e))
    if not text.endswith("\r\n"):
        raise Failure("%s: the last line has no CR LF" % name)
    return text.split("\r\n")[:-1]


def without_geometry(lines):
    return [l for l in lines if l.split("=", 1)[0].strip().lower() not in GEOMETRY_KEYS]


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    win_build = sys.argv[1]
    linux_build = sys.argv[2] if len(sys.argv) > 2 else ""
    results = {}
    runs = [("windows", os.path.join(win_build, "qz418.exe"), os.path.join(win_build, "qz418-sim.exe"), True)]
    linux_program = os.path.join(linux_build, "qz418") if linux_build else ""
    if linux_program and os.access(linux_program, os.X_OK) and os.access(os.path.join(linux_build, "qz418-sim"), os.X_OK):
        runs.append(("linux", linux_program, os.path.join(linux_build, "qz418-sim"), False))
    else:
        print("note: no Linux build given (or not built): the files are not compared with the Linux build's")
    failed = 0
    for name, program, sim, windows in runs:
        s = Session(name, program, sim, windows)
        try:
            files = s.exercise()
            results[name] = {n: check_text("%s %s" % (name, n), d) for n, d in files.items()}
            print("%s: %d packets, scenes 3 and 5 applied, %s written (cp1251, CR LF)" %
                  (name, len(packets(s.log)), " and ".join(files)))
        except Failure as e:
            failed += 1
            print("FAIL", e)
            print(s.stderr()[-3000:])
        finally:
            s.stop()
            if not failed:
                shutil.rmtree(s.work, ignore_errors=True)
            else:
                print("kept", s.work)
    if not failed and "linux" in results:
        for n in ("qz418.ini", "Scenes.ini"):
            w, l = without_geometry(results["windows"][n]), without_geometry(results["linux"][n])
            if w != l:
                failed += 1
                print("FAIL %s differs between the builds (geometry aside):" % n)
                for a, b in zip(w + [""] * len(l), l + [""] * len(w)):
                    if a != b:
                        print("  windows: %r\n  linux:   %r" % (a, b))
            else:
                print("%s: the same as the Linux build's (%d lines, geometry aside)" % (n, len(w)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
