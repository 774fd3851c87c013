#!/usr/bin/env bash
# The Debian package as a user gets it: builds the .deb from a finished build tree, unpacks it
# into a throwaway root (the machine's installed packages are never touched), checks every
# file's place and the metadata validators, runs the unpacked tools, and then the unpacked
# qz418 under Xvfb against the unpacked qz418-sim as an unprivileged user who may not write
# the unpacked bin folder, until it is connected. Its state must land in that user's config
# folder.
#
# usage: package_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)

fail() {
  echo "package test: FAIL: $*" >&2
  exit 1
}
note() { echo "package test: $*"; }
need() { command -v "$1" >/dev/null || fail "$1 is missing (scripts/install-deps installs it)"; }
for tool in cpack dpkg-deb Xvfb setpriv desktop-file-validate appstreamcli man file systemd-analyze; do need "$tool"; done

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
prefix=$(cache CMAKE_INSTALL_PREFIX)
app_id=$(cache QZ418_APP_ID)
version=$(sed -n 's/^CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p;s/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' \
  "$build/CPackConfig.cmake" | head -n 1)
[[ -n "$prefix" && -n "$app_id" && -n "$version" ]] || fail "cannot read the build's settings"

work=$(mktemp -d "${TMPDIR:-/tmp}/qz418-package.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# ---- Build and inspect the package -----------------------------------------------------------
(cd "$build" && cpack -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/cpack/qz418_"$version"_*.deb 2>/dev/null | head -n 1)
[[ -f "$deb" ]] || fail "no qz418_${version}_*.deb"
note "built $(basename "$deb") ($(stat -c %s "$deb") bytes)"

control=$(dpkg-deb -f "$deb")
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == qz418 && $(field Version) == "$version" ]] || fail "name or version: $control"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || fail "architecture: $(field Architecture)"
[[ $(field Maintainer) == *@* ]] || fail "maintainer: $(field Maintainer)"
depends=$(field Depends)
for dep in qt6-qpa-plugins qt6-translations-l10n libqt6widgets6 libusb-1.0-0 libudev1 libqcustomplot; do
  [[ "$depends" == *"$dep"* ]] || fail "Depends lacks $dep: $depends"
done
[[ $(field Description | wc -l) -ge 3 ]] || fail "no long description"
dpkg-deb -e "$deb" "$work/control"
grep -q 'udevadm control --reload-rules' "$work/control/postinst" || fail "postinst does not reload the udev rules"

root=$work/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
p=${prefix#/}
expected=(
  "$p/bin/qz418" "$p/bin/qz418-codes" "$p/bin/qz418-sim"
  "$p/lib/udev/rules.d/60-qz418.rules" "$p/lib/systemd/user/qz418.service"
  "$p/share/applications/qz418.desktop"
  "$p/share/doc/qz418/changelog.gz" "$p/share/doc/qz418/copyright"
  "$p/share/icons/hicolor/256x256/apps/qz418.png" "$p/share/icons/hicolor/48x48/apps/qz418.png"
  "$p/share/icons/hicolor/scalable/apps/qz418.svg"
  "$p/share/man/man1/qz418-codes.1.gz" "$p/share/man/man1/qz418-sim.1.gz" "$p/share/man/man1/qz418.1.gz"
  "$p/share/metainfo/$app_id.metainfo.xml"
)
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
want=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
[[ "$actual" == "$want" ]] || fail "files differ from the expected ones:
$(diff <(echo "$want") <(echo "$actual"))"
for f in qz418 qz418-sim qz418-codes; do
  [[ $(stat -c %a "$root/$p/bin/$f") == 755 ]] || fail "$f is not mode 755"
done
[[ $(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u) == root/root ]] || fail "files not owned by root"
for size in 48 256; do
  file "$root/$p/share/icons/hicolor/${size}x${size}/apps/qz418.png" | grep -q "$size x $size" ||
    fail "the ${size} px icon has another size"
done
desktop-file-validate "$root/$p/share/applications/qz418.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/$p/share/metainfo/$app_id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log"; fail "appstreamcli validate"; }
for page in qz418 qz418-sim qz418-codes; do
  text=$(MANWIDTH=80 man -l "$root/$p/share/man/man1/$page.1.gz" 2>"$work/man.err")
  [[ ! -s "$work/man.err" ]] || { cat "$work/man.err"; fail "man -l $page warns"; }
  grep -q "^SYNOPSIS" <<<"$text" && grep -q "^DESCRIPTION" <<<"$text" && grep -q -- "--version" <<<"$text" ||
    fail "man page $page lacks a section"
done
# The station's user unit starts the installed program. systemd-analyze checks that the command
# and the manual page it names exist: the copy it checks names the unpacked program, and man
# looks among the unpacked pages. It needs a runtime folder of its own.
unit=$root/$p/lib/systemd/user/qz418.service
grep -qx "ExecStart=$prefix/bin/qz418 --unattended --scpi" "$unit" || fail "the unit starts: $(grep ExecStart "$unit")"
mkdir -p "$work/unit" "$work/unit-run" && chmod 700 "$work/unit-run"
sed "s|^ExecStart=$prefix/bin/|ExecStart=$root/$p/bin/|" "$unit" >"$work/unit/qz418.service"
MANPATH=$root/$p/share/man XDG_RUNTIME_DIR=$work/unit-run systemd-analyze --user verify "$work/unit/qz418.service" >"$work/unit.log" 2>&1 &&
  [[ ! -s "$work/unit.log" ]] || { cat "$work/unit.log"; fail "systemd-analyze --user verify qz418.service"; }
if command -v lintian >/dev/null; then
  lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian reports an error"; }
  note "lintian: $(grep -c '^E:' "$work/lintian.log") errors, $(grep -c '^W:' "$work/lintian.log") warnings"
else
  note "lintian not installed: not run"
fi

# ---- The unpacked tools -----------------------------------------------------------------------
bin=$root/$p/bin
[[ $("$bin/qz418" --version) == "qz418 $version" ]] || fail "qz418 --version: $("$bin/qz418" --version 2>&1)"
codes=$(printf 'time 100.245\namp -2.3\nclock 1000\nfreq 2.5\n' | "$bin/qz418-codes")
[[ "$codes" == $'20049\nC471CD\n200000\n209715' ]] || fail "qz418-codes printed: $codes"

# ---- The unpacked program, connected, as a user who may not write its folder ---------------------
# nobody when run as root; otherwise this user, with the bin folder's write bits taken away.
if [[ $(id -u) == 0 ]]; then
  as_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups --)
  owner=nobody
  chmod 755 "$work"
else
  as_user=()
  owner=$(id -un)
  chmod a-w "$bin"
fi
home=$work/home
run=$work/run
out=$work/out
mkdir -p "$home" "$run" "$out"
chmod 700 "$run"
[[ $owner == "$(id -un)" ]] || chown "$owner" "$home" "$run" "$out"
"${as_user[@]}" test -w "$bin" && fail "the test user may write $bin"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
display=:$(head -n 1 "$work/display")
[[ $display != : ]] || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }

user_env=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$run" LANG=C.UTF-8 DISPLAY="$display"
  QT_QPA_PLATFORM=xcb QZ418_LINK_LOG="$out/link.log" QZ418_DIALOG_LOG="$out/dialogs.log")
"${as_user[@]}" "${user_env[@]}" "$bin/qz418-sim" --name pkg0 </dev/null >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -S "$run/qz418/pkg0.sock" ]] && break; sleep 0.1; done
[[ -S "$run/qz418/pkg0.sock" ]] || { cat "$work/sim.log"; fail "qz418-sim made no socket"; }

"${as_user[@]}" "${user_env[@]}" "$bin/qz418" >"$work/qz418.log" 2>&1 &
app=$!
pids+=($app)
connected=
for _ in $(seq 300); do
  grep -q "^status: Подключен virtual:pkg0" "$out/link.log" 2>/dev/null && { connected=1; break; }
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
[[ -n $connected ]] || { cat "$work/qz418.log" "$out/link.log" 2>/dev/null; fail "qz418 did not connect"; }
note "the unpacked qz418 connected to the unpacked qz418-sim as $owner"

kill -TERM "$app"
for _ in $(seq 300); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "qz418 did not end on SIGTERM"
wait "$app"
rc=$?
[[ $rc == 0 ]] || { cat "$work/qz418.log"; fail "qz418 ended with $rc"; }

config=$home/.config/qz418
for f in qz418.ini Scenes.ini; do
  [[ -s "$config/$f" ]] || fail "no $f in the user's config folder"
  [[ $(stat -c %U "$config/$f") == "$owner" ]] || fail "$f is not the user's"
done
[[ $(stat -c %a "$config") == 700 ]] || fail "the config folder is mode $(stat -c %a "$config"), not 700"
grep -q '^\[MainForm\]' "$config/qz418.ini" || fail "the state file has no panel section"
[[ $(ls "$bin") == $'qz418\nqz418-codes\nqz418-sim' ]] || fail "something was written beside the executable: $(ls "$bin")"
[[ ! -s "$out/dialogs.log" ]] || fail "a message box came up: $(cat "$out/dialogs.log")"
note "state saved in $config; nothing beside the executable"
echo "package test: PASS"
