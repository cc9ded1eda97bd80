#!/usr/bin/env bash
# The systemd unit and the Debian package, without touching the machine's own systemd or dpkg:
#   1. a notify socket given in NOTIFY_SOCKET receives READY=1 once the service runs and
#      STOPPING=1 at its stop;
#   2. the unit the install verb writes (ExecStart = the built program) passes
#      systemd-analyze verify; the packaged unit is the same text for /usr/sbin/corvane;
#   3. the service run once under the unit's restrictions by hand: in a mount namespace of its
#      own every mount read-only but its state, log and run directories, a private /tmp and no
#      new privileges; it starts, writes its records and stops, while a write anywhere else
#      fails (what systemd itself would add, such as the other sandboxing it does, is not shown);
#   4. cmake --install lays the files out as Debian does; cpack builds the .deb, lintian finds
#      no error in it, and it installs into and is purged from a throwaway root (dpkg --root;
#      maintainer scripts without chroot, under DPKG_ROOT).
# Parts whose tools are missing, or namespaces that cannot be made, are skipped with a line
# saying so; the test as a whole is skipped (77) when nothing could run.
set -euo pipefail
corvane=$1
ctl=$2
unit_tool=$3
build=$4
work=$(mktemp -d -p "$build")
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; [[ -n "${KEEP:-}" ]] || rm -rf "$work"' EXIT
ran=0
fail() { echo "FAIL: $*"; exit 1; }

# 1. The readiness protocol.
/usr/bin/python3 - "$corvane" "$ctl" "$work/notify" <<'PY' || fail "notify socket"
import os, socket, subprocess, sys
corvane, ctl, d = sys.argv[1:4]
os.makedirs(d)
path = os.path.join(d, "notify.sock")
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(path)
s.settimeout(20)
env = dict(os.environ, NOTIFY_SOCKET=path, CORVANE_ROOT=os.path.join(d, "root"))
p = subprocess.Popen([corvane], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
got = []
try:
    while not any("READY=1" in g.split("\n") for g in got):
        got.append(s.recv(4096).decode())
    subprocess.run([ctl, "stop"], env=env, stdout=subprocess.DEVNULL, check=True)
    while not any("STOPPING=1" in g.split("\n") for g in got):
        got.append(s.recv(4096).decode())
    p.wait(20)
finally:
    if p.poll() is None:
        p.kill()
print("notify socket received:", " | ".join(g.replace("\n", "; ") for g in got))
assert any(g.startswith("STATUS=") or "\nSTATUS=" in g for g in got), got
PY
ran=1

# 2. The unit verifies; the packaged one is the install verb's text.
root=$work/root
CORVANE_ROOT=$root "$corvane" /install 2>/dev/null || fail "install verb"
unit=$root/etc/systemd/system/corvane.service
grep -qx 'Type=notify' "$unit" || fail "the unit is not Type=notify"
if command -v systemd-analyze >/dev/null; then
  cp "$unit" "$work/corvane.service"
  # A line it cannot parse is only a warning to systemd-analyze: any complaint about the unit fails.
  systemd-analyze verify "$work/corvane.service" >"$work/verify.log" 2>&1 || { cat "$work/verify.log"; fail "systemd-analyze verify"; }
  if grep -F "corvane.service" "$work/verify.log"; then fail "systemd-analyze verify complains about the unit"; fi
  echo "systemd-analyze verify: the unit with ExecStart=$corvane passes"
else
  echo "SKIPPED: systemd-analyze is not installed; the unit was not verified"
fi
"$unit_tool" "$corvane" >"$work/packaged.service"
# The same text but for the state root: the package's unit has the machine's directories.
diff <(grep -v -e '^Environment=' -e '^ReadWritePaths=' "$unit") \
     <(grep -v -e '^ReadWritePaths=' -e 'Directory=' -e '^RuntimeDirectoryPreserve=' "$work/packaged.service") ||
  fail "the packaged unit and the install verb's differ beyond the state root"

# 3. ProtectSystem=strict by hand.
if unshare --mount --propagation private true 2>/dev/null && command -v setpriv >/dev/null; then
  mkdir -p "$root/var/lib/corvane" "$root/var/log/corvane" "$root/run/corvane" "$root/etc/corvane"
  CORVANE_ROOT=$root unshare --mount --propagation private bash -s "$corvane" "$root" "$ctl" <<'SH' >"$work/strict.log" 2>&1 ||
set -euo pipefail
corvane=$1 root=$2 ctl=$3
for d in var/lib/corvane var/log/corvane run/corvane; do mount --bind "$root/$d" "$root/$d"; done
# Every other mount read-only (deepest last does not matter: each is remounted on its own).
findmnt -rn -o TARGET | while read -r m; do
  m=$(printf '%b' "$m")
  case $m in
    "$root"/var/lib/corvane|"$root"/var/log/corvane|"$root"/run/corvane|/proc|/proc/*|/sys|/sys/*|/dev|/dev/*) continue ;;
  esac
  mount -o remount,bind,ro "$m" 2>/dev/null || true
done
mount -t tmpfs tmpfs /tmp   # PrivateTmp
if touch "$root/etc/corvane/probe" 2>/dev/null; then echo "a write outside the writable directories succeeded"; exit 1; fi
if touch /usr/probe 2>/dev/null; then echo "/usr is writable"; exit 1; fi
setpriv --no-new-privs "$corvane" >"$root/var/log/corvane/service.out" 2>&1 &
pid=$!
for _ in $(seq 1 200); do grep -q 'service running' "$root/var/log/corvane/service.out" && break; sleep 0.05; done
for _ in $(seq 1 200); do [[ "$("$ctl" status 2>/dev/null)" == "4 RUNNING" ]] && break; sleep 0.05; done
# A logon and a lock on the simulated console: event lines and an audit row for the lock.
id=$("$ctl" session logon alice CORP)
for _ in $(seq 1 200); do grep -q 'alice|Log' "$root/var/log/corvane/Zentik.Log" 2>/dev/null && break; sleep 0.05; done
"$ctl" session lock "$id" >/dev/null
for _ in $(seq 1 200); do grep -q 'alice|Locked' "$root/var/log/corvane/Zentik.Log" 2>/dev/null && break; sleep 0.05; done
kill -TERM $pid
wait $pid
echo "service exit code: $?"
SH
    { cat "$work/strict.log"; fail "the service under ProtectSystem=strict"; }
  grep -q 'service exit code: 0' "$work/strict.log" || { cat "$work/strict.log"; fail "no clean stop"; }
  out=$root/var/log/corvane/service.out
  grep -q 'service running' "$out" || { cat "$out"; fail "the service did not run read-only"; }
  if grep -qi 'read-only\|cannot be written\|cannot be used' "$out"; then cat "$out"; fail "the service met a read-only place"; fi
  [[ -s $root/var/lib/corvane/Corvane/Corvane.dat ]] || fail "no audit file written"
  grep -q 'alice|Locked' "$root/var/log/corvane/Zentik.Log" || fail "no event line written"
  echo "ProtectSystem=strict by hand: ran, wrote $(ls "$root/var/lib/corvane" | tr '\n' ' ')and stopped on SIGTERM"
else
  echo "SKIPPED: no mount namespace here (or no setpriv); the read-only run was not shown"
fi

# 4. The install layout and the package.
DESTDIR=$work/inst cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "cmake --install"; }
for f in usr/sbin/corvane usr/bin/corvane-ctl lib/systemd/system/corvane.service usr/lib/corvane/corvane-pam-hook \
         etc/corvane/trust var/lib/corvane var/log/corvane; do
  [[ -e $work/inst/$f ]] || fail "cmake --install did not lay out /$f"
done
echo "cmake --install: the Debian layout"
if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; fail "cpack"; }
  deb=$(ls "$work"/deb/corvane_*.deb)
  dpkg-deb -c "$deb" | awk '{print $NF}' >"$work/contents"
  for f in ./usr/sbin/corvane ./usr/bin/corvane-ctl ./lib/systemd/system/corvane.service \
           ./usr/share/doc/corvane/copyright ./usr/share/doc/corvane/changelog.Debian.gz \
           ./usr/lib/corvane/corvane-pam-hook ./usr/share/doc/corvane/examples/corvane ./var/lib/corvane/ \
           ./var/log/corvane/ ./etc/corvane/trust/; do
    grep -qxF -- "$f" "$work/contents" || fail "the package lacks $f"
  done
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./lib/systemd/system/corvane.service | grep -qx 'ExecStart="/usr/sbin/corvane"' ||
    fail "the packaged unit does not start /usr/sbin/corvane"
  if command -v lintian >/dev/null; then
    lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian reports an error"; }
    grep -v 'root privileges' "$work/lintian.log" || true
    echo "lintian: no error"
  else
    echo "SKIPPED: lintian is not installed"
  fi
  r=$work/dpkg-root
  mkdir -p "$r/var/lib/dpkg/info" "$r/var/lib/dpkg/updates"
  : >"$r/var/lib/dpkg/status"
  dpkg --root="$r" --force-script-chrootless --force-depends --log=/dev/null -i "$deb" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg -i into a throwaway root"; }
  [[ -x $r/usr/sbin/corvane && -f $r/lib/systemd/system/corvane.service ]] || fail "not installed into the root"
  mkdir -p "$r/var/lib/corvane/registry"  # state the service would have made
  dpkg --root="$r" --force-script-chrootless --log=/dev/null --purge corvane >>"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg --purge"; }
  [[ ! -e $r/usr/sbin/corvane && ! -e $r/var/lib/corvane ]] || fail "the purge left files behind"
  echo "package: built, installed into and purged from $r"
else
  echo "SKIPPED: cpack or dpkg-deb is not available; no package was built"
fi
((ran)) || exit 77
echo "unit and package: all checks passed"
