#!/usr/bin/env bash
# The presence locks of a phone, with the real programs in a network namespace of their own:
#   1. anna logs on through the phone with option 1 (lock) and delay 10; the phone walks away;
#      her console session is disconnected (locked) 10 to 12 s later, not before; the phone
#      comes back and its unlock brings her back into that same session on the console;
#   2. bob logs on with option 2 (logoff) and delay 10; the phone walks away while bob keeps
#      typing, and his session stays; once he stops, it is logged off after the delay;
#   3. carol logs on with a signal option of -70 and delay 10; the phone stays but its signal
#      falls to -80, and her session is locked after the delay;
# and the audit trail and the event log show each action. Exits 77 (skipped) when no network
# namespace can be made.
set -euo pipefail
# shellcheck source=tests/support/scene_netns.sh
source "$(dirname "$0")/../support/scene_netns.sh"

corvane=$1
ctl=$2
phone=$3
logon=$4
export CORVANE_ROOT=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$CORVANE_ROOT"' EXIT
out=$CORVANE_ROOT/out
component=$CORVANE_ROOT/logon.out
fail() {
  echo "FAIL: $*"
  echo "--- last output"; cat "$out" 2>/dev/null || true
  echo "--- sessions"; "$ctl" session list 2>/dev/null || true
  echo "--- logon component"; cat "$component" 2>/dev/null || true
  echo "--- phone"; cat "$CORVANE_ROOT/phone.log" 2>/dev/null || true
  echo "--- service"; cat "$CORVANE_ROOT/service.log" 2>/dev/null || true
  exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...
  local tries=$(( $1 * 20 )); shift
  for _ in $(seq 1 "$tries"); do "$@" && return 0; sleep 0.05; done
  return 1
}
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
session_id() { "$ctl" session list | awk -v u="$1" '$2 == u { print $1; exit }'; }
session_state() { "$ctl" session list | awk -v u="$1" '$2 == u { print $NF; exit }'; }
is_state() { [[ "$(session_state "$1")" == "$2" ]]; }
is_gone() { [[ -z "$(session_id "$1")" ]]; }
phone_logon() {  # phone_logon USER OPTION DELAY: the phone's logon, reported back by the component
  local reports
  reports=$(grep -c "reported the result to the service: code=0xb013 length=0 status=0x00000000" "$component" || true)
  "$phone" phone-1 logon "$1" CORP --option "$2" --delay "$3" >"$out" || fail "logon of $1"
  grep -qx "status 0x00000000" "$out" || fail "logon reply for $1"
  wait_for 10 bash -c "(( \$(grep -c 'reported the result to the service: code=0xb013 length=0 status=0x00000000' '$component') > $reports ))" ||
    fail "the component's report of $1 was not accepted"
  wait_for 5 is_state "$1" Active || fail "$1 is not logged on at the console"
}
come_back() {
  "$phone" phone-1 back >"$out" || fail "back"
  wait_for 10 bash -c "(( \$(grep -c 'hello ok' '$CORVANE_ROOT/phone.log') > $1 ))" || fail "no hello after coming back"
}

"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
wait_running "$ctl" || fail "service did not report RUNNING"
wait_for 10 test -S "$CORVANE_ROOT/run/corvane/ble/host.sock" || fail "the BLE service did not start"
"$logon" --tcp 6001 --udp 6000 --computer TESTPC >"$component" 2>&1 &
wait_for 10 grep -q "forwarding on: reply code=0xc002 length=0 status=0x00000000" "$component" ||
  fail "the component did not announce itself"
"$phone" run phone-1 --name "Field phone" --rssi -60 >"$CORVANE_ROOT/phone.log" 2>&1 &
wait_for 20 grep -q "hello ok" "$CORVANE_ROOT/phone.log" || fail "no hello"

# 1. Option 1, delay 10: the lock comes 10 to 12 s after the phone has gone.
phone_logon anna 1 10
"$phone" phone-1 away >"$out" || fail "away"
gone=$(now_ms)
wait_for 15 is_state anna Disconnected || fail "anna's session was not locked after the phone went away"
elapsed=$(( $(now_ms) - gone ))
echo "lock ${elapsed} ms after the phone went away (delay 10 s)"
(( elapsed >= 10000 && elapsed <= 12000 )) || fail "anna's session was locked ${elapsed} ms after the phone went away"

# 1b. The phone comes back and asks to unlock: anna is back in the same session, at the console.
anna=$(session_id anna)
come_back "$(grep -c 'hello ok' "$CORVANE_ROOT/phone.log")"
"$phone" phone-1 unlock anna CORP --option 1 --delay 10 >"$out" || fail "unlock of anna after her return"
grep -qx "status 0x00000000" "$out" || fail "unlock reply for anna"
wait_for 5 is_state anna Active || fail "anna's session was not reconnected"
[[ "$(session_id anna)" == "$anna" ]] || fail "anna came back to session $(session_id anna), not her own $anna"
"$ctl" session list | awk -v id="$anna" '$1 == id && $4 == "Console" { found = 1 } END { exit !found }' ||
  fail "anna's session is not on the console"

# 2. Option 2, delay 10: no logoff while the user types; the logoff once the delay has passed
#    since the last input.
"$ctl" session logoff "$(session_id anna)" >/dev/null || fail "logoff of anna"
wait_for 10 is_gone anna || fail "anna's session did not end"
phone_logon bob 2 10
bob=$(session_id bob)
"$phone" phone-1 away >"$out" || fail "away"
for _ in $(seq 1 14); do
  "$ctl" session idle "$bob" 0 >/dev/null || fail "bob's input"
  sleep 1
done
is_state bob Active || fail "bob's session was acted on while he was typing"
typed=$(now_ms)
wait_for 15 is_gone bob || fail "bob's session was not logged off after he stopped typing"
elapsed=$(( $(now_ms) - typed ))
echo "logoff ${elapsed} ms after the last input (delay 10 s)"
(( elapsed >= 8000 )) || fail "bob's session was logged off only ${elapsed} ms after his last input"

# 3. A signal option of -70, delay 10: the phone stays, its signal falls, the session is locked.
come_back "$(grep -c 'hello ok' "$CORVANE_ROOT/phone.log")"
phone_logon carol -70 10
"$phone" phone-1 rssi -80 >"$out" || fail "rssi"
weak=$(now_ms)
wait_for 20 is_state carol Disconnected || fail "carol's session was not locked on the weak signal"
elapsed=$(( $(now_ms) - weak ))
echo "away lock ${elapsed} ms after the signal fell (delay 10 s)"
(( elapsed >= 9000 )) || fail "carol's session was locked only ${elapsed} ms after the signal fell"

"$ctl" stop >/dev/null || fail "stop"
"$ctl" audit --csv | awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  { print $col["event_type"], $col["user_name"], $col["dev_type"], $col["dev_guid"], $col["logon_option"], $col["logon_param"] }' \
  >"$out"
grep -qx "121 anna 2 phone-1 1 10" "$out" || fail "no audit row of anna's lock"
grep -qx "122 bob 2 phone-1 2 10" "$out" || fail "no audit row of bob's logoff"
grep -Eq "^[0-9]+ carol 2 phone-1 -70 10$" "$out" || fail "no audit row of carol's away lock"
log=$CORVANE_ROOT/var/log/corvane/Zentik.Log
for line in "anna.*Offline Locked" "bob.*Offline Logoff" "carol.*Away Loocked"; do
  grep -Eq -- "$line" "$log" || fail "no event line matching: $line"
done
echo "phone presence scene: all checks passed"
