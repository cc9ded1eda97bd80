#!/usr/bin/env bash
# The service program on the real command port, in a network namespace of its own (so that it
# collides with nothing): a paired phone announces itself, the logon component reports the
# user's logon through that phone, the phone's session query is answered on UDP 45452, a code
# for the logon component is forwarded with the phone's address, and an unpaired phone's query
# gets no answer. Exits 77 (skipped) when no network namespace can be made.
set -euo pipefail
# shellcheck source=tests/support/scene_netns.sh
source "$(dirname "$0")/../support/scene_netns.sh"

corvane=$1
ctl=$2
phone=$3
sink=$4
export CORVANE_ROOT=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$CORVANE_ROOT"' EXIT
log=$CORVANE_ROOT/var/log/corvane/Zentik.Log
out=$CORVANE_ROOT/out
fail() {
  echo "FAIL: $*"
  echo "--- last output"; cat "$out" 2>/dev/null || true
  echo "--- event log"; cat "$log" 2>/dev/null || true
  echo "--- service"; cat "$CORVANE_ROOT/service.log" 2>/dev/null || true
  exit 1
}

guid='{6B29FC40-CA47-1067-B31D-00DD010662DA}'
"$ctl" reg add "HKLM\\SOFTWARE\\Tovrel\\Pair\\$guid" >/dev/null
"$ctl" reg add 'HKLM\SOFTWARE\Tovrel\LogonOptions' /v LogonPortUDP /t REG_DWORD /d 6000 >/dev/null
"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
wait_running "$ctl" || fail "service did not report RUNNING"
console=$("$ctl" session logon anna CORP)

"$phone" announce "$guid" "Anna's phone" >"$out" || fail "announce"

# The logon component's report: one event line (the datagram thread writes it shortly after).
"$phone" report "$guid" anna CORP --computer TESTPC --name "Anna's phone" --option 2 --delay 30 >"$out" || fail "report"
line="Zentik:TESTPC|CORP\\anna|Logon|Anna's phone:$guid|0x00000000:0x00000000|"
for _ in $(seq 1 200); do grep -qF -- "$line" "$log" 2>/dev/null && break; sleep 0.025; done
grep -qF -- "$line" "$log" || fail "no event line: $line"

# What the service knows of the phone now (corvane-ctl devices): for scripts, and for people.
"$ctl" devices --json >"$out" || fail "devices --json"
python3 - "$out" "$guid" <<'PY' || fail "devices --json: $(cat "$out")"
import json, sys
phones = [d for d in json.load(open(sys.argv[1]))["devices"] if d["kind"] == "lan"]
assert len(phones) == 1, phones
p = phones[0]
assert (p["id"], p["name"], p["paired"], p["address"]) == (sys.argv[2], "Anna's phone", True, "127.0.0.1"), p
assert 0 <= p["seen_seconds_ago"] <= 13, p
assert p["options"] == [{"user": "anna", "domain": "CORP", "option": 2, "delay": 30, "handled": False}], p
PY
"$ctl" devices >"$out" || fail "devices"
grep -q "^lan  *$guid  *Anna's phone  *seen [0-9]* s ago  *address 127.0.0.1:45452, paired$" "$out" ||
  fail "devices table: $(cat "$out")"
grep -qF "$guid option: CORP\\anna: log off when the device is gone, after 30 s" "$out" || fail "devices table option"

# The session query of the paired phone: one reply, for anna's active console session.
"$phone" query "$guid" anna@CORP --wait 1500 --expect 1 >"$out" || fail "no reply to the session query"
# Replies leave from a fresh socket of their own, not from the command port.
grep -q "session reply from 127.0.0.1:[0-9]*: status=0x00000000 state=5 device=$guid " "$out" || fail "reply"
grep -q "upn=anna@CORP$" "$out" || fail "reply principal name"
host=$("$ctl" reg query 'HKLM\SOFTWARE\Tovrel' /v HostGUID | awk '/HostGUID/ {print $3}')
grep -qF "host=$host " "$out" || fail "reply does not carry the host GUID $host"

# An unpaired phone asks in vain.
"$phone" query '{00000000-0000-0000-0000-000000000001}' anna@CORP --wait 500 >"$out" || true
grep -q "session reply" "$out" && fail "an unpaired phone got a reply"

# A code for the logon component goes to its datagram port with the phone's address appended.
"$sink" 6000 1500 1 >"$CORVANE_ROOT/sink" 2>&1 &
sinkpid=$!
for _ in $(seq 1 100); do grep -q listening "$CORVANE_ROOT/sink" 2>/dev/null && break; sleep 0.02; done
"$phone" send 0x3011 c0ffee >"$out" || fail "send"
wait $sinkpid || { cat "$CORVANE_ROOT/sink"; fail "nothing forwarded to the logon component"; }
grep -q "forwarded code=0x3011 length=3 status=0x00000000 from=127.0.0.1:[0-9]* payload=c0ffee" "$CORVANE_ROOT/sink" ||
  { cat "$CORVANE_ROOT/sink"; fail "forwarded envelope"; }

"$ctl" session logoff "$console"
"$ctl" stop >/dev/null || fail "stop"
# The report's audit row: a logon (101) through a phone on the local network (1), option and delay.
"$ctl" audit --csv | awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  { print $col["event_type"], $col["user_name"], $col["logon_server"], $col["dev_type"], $col["logon_option"], $col["logon_param"] }' \
  >"$out"
grep -qx "101 anna CORP 1 2 30" "$out" || fail "no audit row of the logon report"
echo "LAN phone scene: all checks passed"
