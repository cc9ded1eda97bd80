#!/usr/bin/env bash
# The running service program and corvane-ctl session on a fresh state root: a user logged on
# before the service started is found by its start-up enumeration; lock, unlock, a remote
# desktop logon, a console disconnect and reconnect and a logoff each reach the service as
# Windows would deliver them; the text event log and the audit trail show them in order.
set -euo pipefail
corvane=$1
ctl=$2
export CORVANE_ROOT=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$CORVANE_ROOT"' EXIT
log=$CORVANE_ROOT/var/log/corvane/Zentik.Log
fail() {
  echo "FAIL: $*"
  echo "--- event log"; cat "$log" 2>/dev/null || true
  echo "--- service"; cat "$CORVANE_ROOT/service.log" 2>/dev/null || true
  exit 1
}

# Waits until the event log has a line ending in the given text (after its time stamp).
expect_line() {
  for _ in $(seq 1 400); do
    grep -qF -- "$1" "$log" 2>/dev/null && return 0
    sleep 0.025
  done
  fail "no event line with: $1"
}
lines() { grep -c . "$log" 2>/dev/null || true; }

[[ "$("$ctl" session logon anna CONTOSO)" == "1" ]] || fail "first console logon is not session 1"
"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
for _ in $(seq 1 200); do [[ "$("$ctl" status 2>/dev/null)" == "4 RUNNING" ]] && break; sleep 0.05; done
[[ "$("$ctl" status)" == "4 RUNNING" ]] || fail "service did not report RUNNING"
# The start-up enumeration, 2 s after the service reports running, finds anna.
expect_line '|1|CONTOSO\anna|Logined(WTS_SESSION_LOGON)|Console|'
pc=$(sed -n 's/.*System:\([^|]*\)|1|.*/\1/p' "$log" | head -1)
[[ -n $pc ]] || fail "no computer name in the event log"
grep -q '|Add$' "$log" || fail "enumerated record not added"

# Each change is handled before corvane-ctl returns: its line is there at once.
"$ctl" session lock 1
grep -qF "System:$pc|1|CONTOSO\\anna|Locked" "$log" || fail "lock not logged"
"$ctl" session unlock 1
grep -qF "System:$pc|1|CONTOSO\\anna|Unlock|Console" "$log" || fail "unlock not logged"
rdp=$("$ctl" session logon bob CONTOSO --rdp)
[[ $rdp =~ ^[0-9]+$ ]] || fail "remote logon printed '$rdp'"
grep -qF "System:$pc|$rdp|CONTOSO\\bob|Logon|Remote Desktop|" "$log" || fail "remote logon not logged"
"$ctl" session list | grep -qx "$rdp bob CONTOSO RDP-Tcp#1 Active" || fail "session list: $("$ctl" session list)"
"$ctl" session disconnect 1
[[ $(grep -cF "System:$pc|1|CONTOSO\\anna|Locked" "$log") == 2 ]] || fail "console disconnect not logged as a lock"
"$ctl" session connect 1
[[ $(grep -cF "System:$pc|1|CONTOSO\\anna|Unlock|Console" "$log") == 2 ]] || fail "reconnect not logged as an unlock"
"$ctl" session logoff "$rdp"
grep -qF "System:$pc|$rdp|CONTOSO\\bob|Logoff|Remote Desktop" "$log" || fail "logoff not logged"
if "$ctl" session unlock 77 2>/dev/null; then fail "unlock of an unknown session succeeded"; fi
[[ $(lines) == 7 ]] || fail "expected 7 event lines, found $(lines)"

"$ctl" stop >/dev/null
# The audit trail: the session events, with user and desktop, in order (the enumeration writes none).
rows=$("$ctl" audit --csv | awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  { printf "%s %s %s\n", $col["event_type"], $col["user_name"], $col["desktop_type"] }')
expected=$'7 anna 1\n8 anna 1\n5 bob 2\n7 anna 1\n8 anna 1\n6 bob 2'
[[ "$rows" == "$expected" ]] || fail "audit rows:"$'\n'"$rows"
echo "session program: all checks passed"
