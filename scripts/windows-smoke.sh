#!/usr/bin/env bash
# The service under Wine's service control manager: /install (twice, the second repairing the
# first), net start, RUNNING, the stored HostGUID and host key (RSAKey), net stop, STOPPED and the
# process gone, a second start that keeps RSAKey,
# /uninstall, a second /uninstall ("Couldn't open service", exit code -1) and a start from the
# console (exit code -2). Run by scripts/windows-ci.sh in the prefix it prepared (WINEPREFIX,
# with its persistent wineserver running); exits non-zero when any check fails.
#   scripts/windows-smoke.sh <windows build dir>
set -euo pipefail
build=$(cd "${1:?windows build directory}" && pwd)
: "${WINEPREFIX:?run from scripts/windows-ci.sh}"
unset DISPLAY WAYLAND_DISPLAY
logs=$build/wine-logs/smoke
rm -rf "$logs"
mkdir -p "$logs"

echo "=== windows: the service under Wine's service control manager ==="
services_key='HKLM\System\CurrentControlSet\Services\Corvane'
program_dir="$WINEPREFIX/drive_c/Program Files/Corvane"
program='C:\Program Files\Corvane\corvane.exe'
old_program='C:\Corvane-old\corvane.exe'
mkdir -p "$program_dir" "$WINEPREFIX/drive_c/Corvane-old"
cp "$build/bin/corvane.exe" "$program_dir/corvane.exe"
# The idle-time program lies beside the service's program, where the service finds it.
cp "$build/bin/UserIdleTime.exe" "$program_dir/UserIdleTime.exe"
cp "$build/bin/corvane.exe" "$WINEPREFIX/drive_c/Corvane-old/corvane.exe"

step=0
out=
err=
fail() {
  echo "FAIL: $*"
  echo "--- output of the last command ($out):"; cat "$out" 2>/dev/null || true
  echo "--- its errors:"; cat "$err" 2>/dev/null || true
  exit 1
}
# Runs one Wine command with a time limit; its exit code lands in $rc, its output in $out/$err.
run() {
  step=$((step + 1))
  out=$logs/step$step.out
  err=$logs/step$step.err
  echo "+ wine $*" >"$logs/step$step.cmd"
  rc=0
  timeout 120 wine "$@" >"$out" 2>"$err" </dev/null || rc=$?
}
expect_rc() {  # expected code (Windows exit code & 0xFF), what
  [[ $rc -eq $1 ]] || fail "$2: exit code $rc, expected $1"
}
expect_out() {  # extended regex, what
  tr -d '\r' <"$out" | grep -Eq -- "$1" || fail "$2: output lacks /$1/"
}
service_state() {  # prints the state number sc reports, or nothing
  run sc query Corvane
  tr -d '\r' <"$out" | sed -n 's/^ *STATE *: *\([0-9]*\).*/\1/p'
}
wait_state() {  # state number, name
  for _ in $(seq 1 150); do
    [[ "$(service_state)" == "$1" ]] && return 0
    sleep 0.2
  done
  fail "the service did not report $1 $2"
}
service_process_running() { pgrep -f -i 'Program Files.Corvane.corvane\.exe' >/dev/null; }
tovrel_value() {  # name: the data of a value under HKLM\SOFTWARE\Tovrel
  run reg query 'HKLM\SOFTWARE\Tovrel' /v "$1"
  tr -d '\r' <"$out" | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
reg_value() {  # name: the data of the service's registry value
  run reg query "$services_key" /v "$1"
  tr -d '\r' <"$out" | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

# A first install from another folder; the second, from the real one, must repair it.
run "$old_program" /install
expect_rc 0 "/install from $old_program"
run reg add "$services_key" /v Start /t REG_DWORD /d 3 /f
run reg add "$services_key" /v DisplayName /t REG_SZ /d "Stale Name" /f
run "$program" /install
expect_rc 0 "/install over an installed service"
[[ "$(reg_value ImagePath)" == "\"$program\"" ]] || fail "ImagePath is $(reg_value ImagePath)"
[[ "$(reg_value Start)" == "0x2" ]] || fail "start type is $(reg_value Start), expected automatic (0x2)"
[[ "$(reg_value Type)" == "0x110" ]] || fail "service type is $(reg_value Type)"
[[ "$(reg_value DisplayName)" == "Corvane Service" ]] || fail "display name is $(reg_value DisplayName)"
[[ "$(reg_value Description)" == "This service is used for Zentik_Logon and Tovrel"* ]] ||
  fail "description is $(reg_value Description)"
echo "installed, and repaired by a second /install"

run net start Corvane
expect_rc 0 "net start Corvane"
wait_state 4 RUNNING
service_process_running || fail "no service process while RUNNING"
run reg query 'HKLM\SOFTWARE\Tovrel' /v HostGUID
expect_out 'HostGUID +REG_SZ +\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$' "HostGUID"
echo "running, HostGUID stored"
# The host key pair, enciphered: a 2048-bit private key is well over 1000 bytes.
rsa_key=$(tovrel_value RSAKey)
[[ "$rsa_key" =~ ^[0-9A-Fa-f]{2000,}$ ]] || fail "RSAKey is not a stored key pair: '${rsa_key:0:80}'"
echo "RSAKey stored"
# shellcheck source=scripts/windows-smoke-lan.sh
source "$(dirname "$0")/windows-smoke-lan.sh"
# shellcheck source=scripts/windows-smoke-stream.sh
source "$(dirname "$0")/windows-smoke-stream.sh"
# shellcheck source=scripts/windows-smoke-audit.sh
source "$(dirname "$0")/windows-smoke-audit.sh"

run net stop Corvane
expect_rc 0 "net stop Corvane"
wait_state 1 STOPPED
for _ in $(seq 1 100); do service_process_running || break; sleep 0.2; done
service_process_running && fail "the service process is still there 20 s after STOPPED"
echo "stopped, process exited"

# A second start loads the stored host key instead of replacing it.
run net start Corvane
expect_rc 0 "net start Corvane (second start)"
wait_state 4 RUNNING
[[ "$(tovrel_value RSAKey)" == "$rsa_key" ]] || fail "the second start replaced RSAKey"
run net stop Corvane
expect_rc 0 "net stop Corvane (second start)"
wait_state 1 STOPPED
for _ in $(seq 1 100); do service_process_running || break; sleep 0.2; done
service_process_running && fail "the service process is still there 20 s after the second STOPPED"
echo "a second start keeps RSAKey"

run "$program" /uninstall
expect_rc 0 "/uninstall"
run sc query Corvane
[[ $rc -ne 0 ]] || fail "the service is still registered after /uninstall"
echo "uninstalled"

run "$program" /uninstall
expect_rc 255 "/uninstall of a missing service (exit code -1)"
grep -q "Couldn't open service" "$err" || fail "/uninstall of a missing service did not say \"Couldn't open service\""
echo "a second /uninstall says \"Couldn't open service\" and exits -1"

run "$program"
expect_rc 254 "a start from the console (exit code -2)"
echo "started from the console: exit code -2"

echo "windows: all checks passed"
