#!/usr/bin/env bash
# A phone's session operations with the real programs, in a network namespace of their own:
# phone-1, paired for alice@corp.example, logs alice on; phone-2, paired for bob@corp.example,
# asks to lock and is answered 0x20000013 with nothing locked; phone-1 asks for alice's session
# times (a principal name of a foreign domain is refused), names a container it does not hold
# and is refused at once, starts a delayed shutdown of 600 s, queries it and cancels it; then it
# locks alice's session, proving its key through the CSP stand-in's relay to the phone's soft
# token, and the simulated session manager shows her console session disconnected. The audit trail and the event
# log show each step. Exits 77 (skipped) when no network namespace can be made.
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
log=$CORVANE_ROOT/var/log/corvane/Zentik.Log
fail() {
  echo "FAIL: $*"
  echo "--- last output"; cat "$out" 2>/dev/null || true
  echo "--- sessions"; "$ctl" session list 2>/dev/null || true
  echo "--- logon component"; cat "$component" 2>/dev/null || true
  for p in phone-1 phone-2; do echo "--- $p"; cat "$CORVANE_ROOT/$p.log" 2>/dev/null || true; done
  echo "--- service"; cat "$CORVANE_ROOT/service.log" 2>/dev/null || true
  echo "--- event log"; cat "$log" 2>/dev/null || true
  exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...
  local tries=$(( $1 * 20 )); shift
  for _ in $(seq 1 "$tries"); do "$@" && return 0; sleep 0.05; done
  return 1
}
session_state() { "$ctl" session list | awk -v u="$1" '$2 == u { print $NF; exit }'; }
is_state() { [[ "$(session_state "$1")" == "$2" ]]; }
expect() {  # expect PATTERN WHAT: the last output holds the pattern
  grep -Eq -- "$1" "$out" || fail "$2"
}

"$phone" pair phone-1 --user alice@corp.example >"$out" || fail "pairing phone-1"
expect "^paired phone-1 user alice@corp.example container alice$" "phone-1 not paired"
"$phone" pair phone-2 --user bob@corp.example --container bobs-key >"$out" || fail "pairing phone-2"
"$ctl" reg query 'HKLM\SOFTWARE\Tovrel\Pair' >"$out" || fail "no pairing key"
expect "phone-1" "phone-1 is not in the registry's pairings"
expect "phone-2" "phone-2 is not in the registry's pairings"
"$ctl" session trust add CORP corp.example >/dev/null

"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
wait_running "$ctl" || fail "service did not report RUNNING"
wait_for 10 test -S "$CORVANE_ROOT/run/corvane/ble/host.sock" || fail "the BLE service did not start"
"$logon" --tcp 6001 --udp 6000 --computer TESTPC >"$component" 2>&1 &
wait_for 10 grep -q "forwarding on: reply code=0xc002 length=0 status=0x00000000" "$component" ||
  fail "the component did not announce itself"
"$phone" run phone-1 --name "Field phone" >"$CORVANE_ROOT/phone-1.log" 2>&1 &
"$phone" run phone-2 --name "Other phone" >"$CORVANE_ROOT/phone-2.log" 2>&1 &
wait_for 20 grep -q "hello ok" "$CORVANE_ROOT/phone-1.log" || fail "no hello from phone-1"
wait_for 20 grep -q "hello ok" "$CORVANE_ROOT/phone-2.log" || fail "no hello from phone-2"

# alice logs on through phone-1 (a lock option with a long delay: the phone stays anyway).
"$phone" phone-1 logon alice CORP --option 1 --delay 600 >"$out" || fail "logon of alice"
wait_for 10 grep -q "reported the result to the service: code=0xb013 length=0 status=0x00000000" "$component" ||
  fail "the component's report of alice was not accepted"
wait_for 5 is_state alice Active || fail "alice is not logged on at the console"

# A phone holding another user's certificate: no session of that user, nothing locked.
"$phone" phone-2 lock bobs-key >"$out" && fail "phone-2's lock succeeded"
expect "^status=0x20000013 \\(The specified user session was not found .*\\) operation=2 text=.+" "phone-2's lock not answered 0x20000013"
is_state alice Active || fail "alice's session was touched by phone-2's lock"

# The session's times.
"$phone" phone-1 times alice@corp.example >"$out" || fail "times"
expect "^status=0x00000000 desktop=[0-9]+ state=[0-9]+ logon=[0-9]{14} active=[0-9]* locked=[0-9]* upn=alice@corp.example$" \
  "the session times not answered"

"$phone" phone-1 times carol@elsewhere.example >"$out" && fail "times for a foreign domain succeeded"
expect "^status=0x20000021 \\(UPN cannot log in here.\\)$" "times for a foreign domain not answered 0x20000021"

# A container the phone does not hold: the soft token's refusal comes back at once.
"$phone" phone-1 lock nobody >"$out" && fail "a lock with a container the phone does not hold succeeded"
expect "^status=0x80090016 \\(.+\\)$" "a lock with an unknown container not answered NTE_BAD_KEYSET"
is_state alice Active || fail "alice's session was touched by a lock without a container"

# A delayed shutdown: started, queried, cancelled; the machine is never shut down.
"$phone" phone-1 shutdown start 600 alice >"$out" || fail "shutdown start"
expect "^status=0x00000000 operation=1 seconds=600 text=$" "shutdown start not answered with status 0"
"$phone" phone-1 shutdown query alice >"$out" || fail "shutdown query"
expect "^status=0x00000000 operation=3 seconds=(59[0-9]|600) text=$" "shutdown query without the remaining time"
"$phone" phone-1 shutdown cancel alice >"$out" || fail "shutdown cancel"
expect "^status=0x00000000 operation=2 seconds=(59[0-9]|600) text=$" "shutdown cancel not answered with the time left"
"$phone" phone-1 shutdown query alice >"$out" && fail "a query after the cancel found a shutdown"
expect "^status=0x20000025 \\(No delayed shutdown\\) operation=3 " "a query after the cancel not answered 0x20000025"
shutdowns=$("$ctl" session shutdowns) || fail "no list of shutdown requests"
[[ -z $shutdowns ]] || fail "the machine was shut down"

# The lock with the key proof: the soft token signs the service's challenge through the relay.
"$phone" phone-1 lock alice >"$out" || fail "phone-1's lock of alice"
expect "^status=0x00000000 operation=2 text=$" "phone-1's lock not answered with status 0"
wait_for 5 is_state alice Disconnected || fail "alice's session was not locked"
grep -q "token 0x2024: status 0x00000000" "$CORVANE_ROOT/phone-1.log" || fail "the soft token made no signature"
# A locked session has nothing left to lock.
"$phone" phone-1 lock alice >"$out" && fail "a second lock succeeded"
expect "^status=0x20000014 \\(The specified user is locked\\) operation=2 " "a second lock not answered 0x20000014"

"$ctl" stop >/dev/null || fail "stop"
"$ctl" audit --csv | awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  { print $col["event_type"], $col["user_name"], $col["dev_type"], $col["dev_guid"], $col["result"] }' >"$out"
for row in "131 alice 2 phone-1 0" "132 alice 2 phone-1 0" "112 alice 2 phone-1 0" "112 alice 2 phone-1 536870932"; do
  grep -qx "$row" "$out" || fail "no audit row: $row"
done
(( $(grep -c "^112 " "$out") == 2 )) || fail "phone-2's refused lock or the query was audited"
(( $(grep -c "^13[0-9] " "$out") == 2 )) || fail "the shutdown query was audited"
for line in 'Zentik:[^|]*\|alice@corp\.example\|Shutdown\(600\)\|Field phone:phone-1\|0x00000000$' \
            'Zentik:[^|]*\|alice@corp\.example\|Cancel Shutdown\((59[0-9]|600)\)\|Field phone:phone-1\|0x00000000$' \
            'Zentik:[^|]*\|CORP\\alice\|Locking\|Field phone:phone-1\|0x00000000$' \
            'System:[^|]*\|[0-9]+\|CORP\\alice\|Locked' \
            'Zentik:[^|]*\|CORP\\alice\|Locking\|Field phone:phone-1\|0x20000014$'; do
  grep -Eq -- "$line" "$log" || fail "no event line matching: $line"
done
grep -q "Other phone" "$log" && fail "phone-2's refused lock was logged"
echo "phone session operations scene: all checks passed"
