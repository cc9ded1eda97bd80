#!/usr/bin/env bash
# The service program on a Linux login manager that is not the machine's: a dbus-daemon of this
# test's own (own configuration, socket in the test's directory) with python3-dbusmock's logind
# template, reached by the service alone through DBUS_SYSTEM_BUS_ADDRESS; the real pcscd + vpcd card
# rig and the LAN phone stand-in in namespaces of their own. The template announces nothing by
# itself and only records LockSession / TerminateSession: logind_mock.py emits the signals and the
# checks read its call log. Checked:
#   1. the sessions present at start and one that appears later are in the service's table, with
#      the realm of etc/krb5.conf as their domain; a remote one as a remote desktop session;
#      LockedHint shows as locked, and a session that ends leaves the table;
#   2. a card sign-in reported by the package's PAM hook (run as pam_exec runs it), then the card
#      pulled: LockSession for that session within the delay + 1 s (idle hint set long ago);
#   3. a session that went idle less than the delay ago is spared at the delay, and locked once
#      its idle time reaches the delay; one that never sets the hint is never locked for idleness;
#   4. the LAN phone's remote logoff: TerminateSession for the user's session;
#   5. PrepareForSleep(true/false) reaches the service as suspend and resume;
#   6. the dbus-daemon killed and started again: the service lives, says so, reconnects and sees
#      the sessions of the new bus.
# Exits 77 (skipped) when namespaces cannot be made or a part of the stack is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../device/card_rig.sh"
for tool in dbus-daemon /usr/bin/python3; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import dbusmock' 2>/dev/null || { echo "SKIP: python3-dbusmock is not installed"; exit 77; }
rig_enter_namespaces "$@"

corvane=$1
ctl=$2
phone=$3
card=$4
testpki=$5
pkcs11=${6:-/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so}
[[ -f $pkcs11 ]] || { echo "SKIP: no PKCS#11 module at $pkcs11"; exit 77; }
mock() { /usr/bin/python3 "$here/logind_mock.py" "$1" "$bus" "${@:2}"; }
t_start=$(date +%s%N)
stage() { echo "[$((($(date +%s%N) - t_start) / 1000000)) ms] $*"; }

rig_prepare
bus=$CORVANE_ROOT/bus
trap 'mock stop >/dev/null 2>&1 || true; rig_cleanup' EXIT
fail() {
  echo "FAIL: $*"
  echo "--- sessions"; "$ctl" sessions 2>&1 || true
  echo "--- LockSession calls"; mock calls LockSession 2>&1 || true
  echo "--- TerminateSession calls"; mock calls TerminateSession 2>&1 || true
  echo "--- event log"; cat "$log" 2>/dev/null || true
  echo "--- service"; tail -30 "$CORVANE_ROOT/service.log" 2>/dev/null || true
  echo "--- mock"; tail -20 "$bus/mock.log" 2>/dev/null || true
  exit 1
}
row() { "$ctl" sessions | awk -v id="$1" '$1 == id'; }
wait_row() {  # wait_row ID PATTERN: the session's row matches within 3 s
  for _ in $(seq 1 150); do row "$1" | grep -qE -- "$2" && return 0; sleep 0.02; done
  fail "session $1's row does not match '$2': $(row "$1")"
}
wait_line() {
  for _ in $(seq 1 200); do grep -qF -- "$1" "$2" 2>/dev/null && return 0; sleep 0.02; done
  fail "no line with '$1' in $2"
}
# The logon option is only applied to a session updated within the 10 s before it: a lock and an
# unlock, as at a lock screen where the card is used, bring alice's record up to date.
refresh() {
  mock set 2 LockedHint=true && wait_row 2 ' locked '
  mock set 2 LockedHint=false && wait_row 2 ' active '
}
report() {  # option delay
  local before
  before=$(count_lines "|Logon|$reader:$cardid|")
  "$ctl" report-logon alice CORP --card "$reader" --serial $serial --option $1 --delay $2 >/dev/null || fail "report-logon"
  for _ in $(seq 1 200); do
    (($(count_lines "|Logon|$reader:$cardid|") > before)) && return 0
    sleep 0.02
  done
  fail "the card logon report was not logged"
}
lock_calls() { mock calls LockSession | grep -cx 2 || true; }

# The machine: joined to the realm CORP.EXAMPLE; alice on the console, paired with a LAN phone.
mkdir -p "$CORVANE_ROOT/etc"
printf '[libdefaults]\n  default_realm = CORP.EXAMPLE\n' >"$CORVANE_ROOT/etc/krb5.conf"
guid='{6B29FC40-CA47-1067-B31D-00DD010662DA}'
"$testpki" "$CORVANE_ROOT" "$guid" >"$CORVANE_ROOT/pki.log" 2>&1 &
for _ in $(seq 1 400); do grep -q '^ready ' "$CORVANE_ROOT/pki.log" 2>/dev/null && break; sleep 0.05; done
grep -q '^ready ' "$CORVANE_ROOT/pki.log" || fail "the test PKI is not ready"
"$ctl" reg add "HKLM\\SOFTWARE\\Tovrel\\Pair\\$guid" >/dev/null

mock start >/dev/null || fail "the mock login manager did not start"
mock add 2 alice 1000 --idle-ms 600000
DBUS_SYSTEM_BUS_ADDRESS="unix:path=$bus/system_bus_socket" "$corvane" --sessions=logind \
  >"$CORVANE_ROOT/service.log" 2>&1 &
for _ in $(seq 1 200); do [[ "$("$ctl" status 2>/dev/null)" == "4 RUNNING" ]] && break; sleep 0.05; done
[[ "$("$ctl" status)" == "4 RUNNING" ]] || fail "service did not report RUNNING"
grep -qF 'sessions: systemd-logind on the system bus (--sessions=logind)' "$CORVANE_ROOT/service.log" ||
  fail "no line names the session backend"
stage "service running"

# 1. The table.
wait_row 2 '^2 +alice +CORP +Console +active +console .*alice@corp.example'
mock add 3 bob 1001 --remote
wait_row 3 '^3 +bob +CORP +RDP-Tcp#3 +active +remote '
mock remove 3
for _ in $(seq 1 150); do [[ -z "$(row 3)" ]] && break; sleep 0.02; done
[[ -z "$(row 3)" ]] || fail "bob's ended session is still in the table"
refresh
stage "1. table: sessions listed, locked, unlocked, removed"

# 2. Card sign-in from the PAM hook (pam_exec's environment at session open; the hook finds the
#    card through the PKCS#11 module), card pulled: LockSession within the delay (1 s) + 1 s.
before=$(count_lines "|Logon|$reader:$cardid|")
PAM_TYPE=open_session PAM_USER=alice CORVANE_PKCS11_MODULE=$pkcs11 CORVANE_CARD_DELAY=1 \
  PATH="$(dirname "$ctl"):$PATH" sh "$here/../../packaging/pam/corvane-pam-hook" || fail "the PAM hook failed"
for _ in $(seq 1 200); do (($(count_lines "|Logon|$reader:$cardid|") > before)) && break; sleep 0.02; done
(($(count_lines "|Logon|$reader:$cardid|") > before)) || fail "the PAM hook reported no card logon"
grep -qF "|CORP\alice|Logon|$reader:$cardid|" "$log" || fail "the PAM hook's report names another user or card"
t0=$(date +%s%N)
"$card" remove "$reader" || fail "remove"
ms=$(mock wait-call LockSession 2 2000) || fail "no LockSession for session 2 within 2 s of the pull"
stage "2. card pulled to LockSession: ${ms} ms (bound 2000 ms)"
expect_line "|CORP\\alice|Offline Locked"
# The mock has no screen locker: the lock request leaves LockedHint false, which is said.
wait_line "asked to lock but its LockedHint is still false" "$CORVANE_ROOT/service.log"
"$card" insert "$reader" --serial $serial || fail "insert again"

# 3. Idle for less than the delay (4 s): alice goes idle 2 s after the pull. The first idle probe
#    (at 4-5 s, the offline test runs about once a second) finds her idle for less than the delay
#    and spares her; she is locked once her idle time reaches the delay, not before 6 s.
mock set 2 IdleHint=false
refresh
report 1 4
before=$(lock_calls)
"$card" remove "$reader" || fail "remove (idle)"
t0=$(date +%s%N)
until_ms() { local left=$(( $1 - ($(date +%s%N) - t0) / 1000000 )); ((left > 0)) && sleep "$(printf '%d.%03d' $((left / 1000)) $((left % 1000)))" || true; }
until_ms 2000
mock set 2 IdleHint=true   # alice's last input: now
until_ms 5300
[[ $(lock_calls) == "$before" ]] || fail "locked although alice was idle for less than the delay"
for _ in $(seq 1 200); do (($(lock_calls) > before)) && break; sleep 0.02; done
(($(lock_calls) > before)) || fail "not locked once alice's idle time reached the delay"
stage "3a. idle less than the delay: spared at the delay, locked after $((($(date +%s%N) - t0) / 1000000)) ms"
"$card" insert "$reader" --serial $serial || fail "insert (idle)"
# No idle hint at all: the desktop never reports idleness, the user counts as active.
mock set 2 IdleHint=false
refresh
report 1 1
before=$(lock_calls)
"$card" remove "$reader" || fail "remove (no hint)"
sleep 2.5
[[ $(lock_calls) == "$before" ]] || fail "locked a session that never set its idle hint"
stage "3b. a session without an idle hint is spared"
"$card" insert "$reader" --serial $serial || fail "insert (no hint)"

# 4. The LAN phone's remote logoff of alice: TerminateSession.
"$phone" logoff "$guid" alice --wait 25000 >"$CORVANE_ROOT/phone.out" || fail "no reply to the remote logoff"
grep -q "status=0x00000000 operation=1 " "$CORVANE_ROOT/phone.out" || fail "remote logoff refused: $(cat "$CORVANE_ROOT/phone.out")"
ms=$(mock wait-call TerminateSession 2 2000) || fail "no TerminateSession for session 2"
stage "4. remote logoff: TerminateSession called"

# 5. Sleep and wake.
mock sleep true
wait_line "PrepareForSleep(true) delivered as power event 4 (suspend), result 0" "$CORVANE_ROOT/service.log"
mock sleep false
wait_line "PrepareForSleep(false) delivered as power event 18 (resume), result 0" "$CORVANE_ROOT/service.log"
stage "5. PrepareForSleep reached the service as suspend and resume"

# 6. The bus dies and comes back with another session on it.
mock kill-bus
wait_line "logind: lost the system bus" "$CORVANE_ROOT/service.log"
[[ "$("$ctl" status)" == "4 RUNNING" ]] || fail "the service did not survive the loss of the bus"
mock start >/dev/null || fail "the mock login manager did not start again"
mock add 7 carol 1002
wait_line "logind: the system bus is back" "$CORVANE_ROOT/service.log"
wait_row 7 '^7 +carol +CORP +Console +active '
[[ -z "$(row 2)" ]] || fail "alice's session, gone with the old bus, is still in the table"
stage "6. bus killed and restarted: the service reconnected"

"$ctl" stop >/dev/null || fail "stop"
stage "logind scene: all checks passed"
