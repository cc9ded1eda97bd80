#!/usr/bin/env bash
# Every program as a new user meets it: --help and --version print and exit 0 without starting
# anything; bad use exits 2 with one line; a running phone answers bad words with one line and
# lives on, and a phone that is gone leaves no socket in the way; an audit file the service
# cannot use is left untouched and said so at start, in the event log and by corvane-ctl status,
# and rows are kept again once it is moved away; a PKCS#11 library that does not load and ports
# held by another program are said once.
set -euo pipefail
# shellcheck source=tests/support/scene_netns.sh
source "$(dirname "$0")/../support/scene_netns.sh"
corvane=$1 ctl=$2 phone=$3 lanphone=$4 logonsink=$5 logon=$6 card=$7
export CORVANE_ROOT=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$CORVANE_ROOT"' EXIT
fail() { echo "FAIL: $*"; cat "$CORVANE_ROOT/service.log" 2>/dev/null || true; exit 1; }

# expect_usage COMMAND...: bad use exits 2 with one line on stderr.
expect_usage() {
  local rc=0 err
  err=$("$@" 2>&1 >/dev/null) || rc=$?
  [[ $rc == 2 ]] || fail "'$*' exited $rc ($err)"
  [[ $(printf '%s\n' "$err" | wc -l) == 1 ]] || fail "'$*' printed more than one line: $err"
}

# Help and version, each as the whole argument list, on an empty state root that stays empty.
for program in "$corvane" "$ctl" "$phone" "$lanphone" "$logonsink" "$logon" "$card"; do
  name=$(basename "$program")
  for word in --help -h '/?' --version; do
    out=$("$program" "$word" 2>&1) || fail "$name $word exited $?"
    [[ -n "$out" ]] || fail "$name $word printed nothing"
  done
  [[ "$("$program" --version)" =~ ^$name\ [0-9] ]] || fail "$name --version: $("$program" --version)"
done
[[ -z "$(ls -A "$CORVANE_ROOT")" ]] || fail "help or version left state behind: $(find "$CORVANE_ROOT")"

# The card player without a resource manager or a reader: one line each, and an insert that
# failed (or a card process that is gone) leaves no pid file to refuse the next insert.
export CORVANE_CARD_DIR=$CORVANE_ROOT/cards PCSCLITE_CSOCK_NAME=$CORVANE_ROOT/no-pcscd.sock CORVANE_VPCD_PORT=1
reader="Virtual PCD 00 01"
for attempt in first second; do
  rc=0; "$card" insert "$reader" --wait 200 2>"$CORVANE_ROOT/card.err" || rc=$?
  [[ $rc == 1 && $(wc -l <"$CORVANE_ROOT/card.err") == 1 ]] || fail "$attempt insert without pcscd: $rc $(cat "$CORVANE_ROOT/card.err")"
  ! grep -q "already" "$CORVANE_ROOT/card.err" || fail "$attempt insert refused by a leftover pid file"
  [[ ! -e "$CORVANE_CARD_DIR/Virtual_PCD_00_01.pid" ]] || fail "a failed insert left its pid file"
done
echo 2147483647 >"$CORVANE_CARD_DIR/Virtual_PCD_00_01.pid"
"$card" insert "$reader" --wait 200 2>"$CORVANE_ROOT/card.err" || true
! grep -q "already" "$CORVANE_ROOT/card.err" || fail "the pid file of a gone card refused the insert"
rc=0; "$card" play --port 1 2>"$CORVANE_ROOT/card.err" || rc=$?
[[ $rc == 1 && $(wc -l <"$CORVANE_ROOT/card.err") == 1 ]] || fail "play without a reader: $rc $(cat "$CORVANE_ROOT/card.err")"
expect_usage "$card" play
rm -rf "$CORVANE_CARD_DIR"
unset CORVANE_CARD_DIR PCSCLITE_CSOCK_NAME CORVANE_VPCD_PORT

# Bad use: exit 2 and one line on stderr, nothing sent.
expect_usage "$ctl" bogus
expect_usage "$ctl" status extra
expect_usage "$ctl" control abc
expect_usage "$ctl" power 99999999999
expect_usage "$lanphone" --port 99999 announce phone-1 Phone
expect_usage "$lanphone" --delay abc report phone-1 anna CONTOSO
expect_usage "$lanphone" --colour red announce phone-1 Phone
expect_usage "$logonsink" abc
expect_usage "$logonsink" 45452 -1
expect_usage "$phone" run ../escape
expect_usage "$phone" run phone-1 --rssi abc

# A running phone: bad words from its client and from anything else on its socket.
"$phone" run phone-1 >"$CORVANE_ROOT/phone.log" 2>&1 &
phone_pid=$!
socket=$CORVANE_ROOT/run/corvane/ble/phone-phone-1.sock
for _ in $(seq 1 100); do [[ -S $socket ]] && break; sleep 0.05; done
[[ -S $socket ]] || fail "the phone made no socket"
for words in "rssi abc" "rssi 99999999999" "logon anna CONTOSO --option abc" "logon anna CONTOSO --delay 99999999999" \
             "shutdown start 4294967296 anna" "dance"; do
  # shellcheck disable=SC2086
  expect_usage "$phone" phone-1 $words
done
# The same words straight to the phone's socket, past the client's checks.
raw_answer=$(python3 - "$socket" <<'PY'
import socket, struct, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.connect(sys.argv[1])
intro = (b"VXB1C\0\0\0" + b"phone-1").ljust(48, b"\0")
text = b"rssi\n99999999999"
s.sendall(intro + struct.pack("<H", len(text)) + text)
print(s.recv(4096).decode().splitlines()[0])
PY
) || fail "no raw answer"
[[ "$raw_answer" == "rc 2" ]] || fail "the phone answered '$raw_answer' to a bad raw request"
kill -0 $phone_pid 2>/dev/null || fail "the phone died of bad input"
[[ "$("$phone" phone-1 rssi -60)" == "rssi -60" ]] || fail "the phone no longer answers"
# A second phone with the same ID is refused and leaves the running one's socket alone.
if "$phone" run phone-1 2>"$CORVANE_ROOT/second.log"; then fail "a second phone-1 ran"; fi
grep -q "already running" "$CORVANE_ROOT/second.log" || fail "no reason for the second phone-1"
[[ "$("$phone" phone-1 rssi -61)" == "rssi -61" ]] || fail "the running phone lost its socket"
# A phone that is killed leaves its socket; the next command says so and removes it.
kill -KILL $phone_pid
wait $phone_pid 2>/dev/null || true
[[ -S $socket ]] || fail "expected a leftover socket after SIGKILL"
rc=0; "$phone" phone-1 status 2>"$CORVANE_ROOT/gone.log" || rc=$?
[[ $rc == 1 ]] || fail "a command to a gone phone exited $rc"
grep -q "not running" "$CORVANE_ROOT/gone.log" || fail "no 'not running' for a gone phone"
[[ ! -e $socket ]] || fail "the leftover socket stayed"

# An audit file that is not ours: left untouched, and said so.
audit=$CORVANE_ROOT/var/lib/corvane/Corvane/Corvane.dat
mkdir -p "$(dirname "$audit")"
head -c 4096 /dev/urandom >"$audit"
sum=$(md5sum <"$audit")
# A PKCS#11 library that does not load, and both channel ports held by another program for a
# moment: one line each, also for the bind that follows.
"$ctl" reg add 'HKLM\SOFTWARE\Tovrel' /v LibPkcs11 /t REG_SZ /d "$CORVANE_ROOT/no-such-pkcs11.so" >/dev/null
python3 -c '
import socket, time
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("0.0.0.0", 45451))
t = socket.socket(socket.AF_INET, socket.SOCK_STREAM); t.bind(("0.0.0.0", 45451)); t.listen(1)
open("'"$CORVANE_ROOT"'/ports-held", "w").close()
time.sleep(2)' &
for _ in $(seq 1 100); do [[ -e $CORVANE_ROOT/ports-held ]] && break; sleep 0.05; done
"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
for _ in $(seq 1 200); do [[ "$("$ctl" status 2>/dev/null | head -1)" == "4 RUNNING" ]] && break; sleep 0.05; done
[[ "$("$ctl" status | head -1)" == "4 RUNNING" ]] || fail "service not running"
[[ $(grep -c "audit trail is off: $audit is not a database" "$CORVANE_ROOT/service.log") == 1 ]] ||
  fail "no single diagnostic line for the audit file"
grep -q "|Audit off|$audit|is not a database" "$CORVANE_ROOT/var/log/corvane/Zentik.Log" || fail "no event line"
"$ctl" status | grep -q "^audit trail off: $audit is not a database" || fail "status does not say the audit trail is off"
"$ctl" session logon anna CONTOSO >/dev/null
"$ctl" session lock 1 >/dev/null
sleep 0.3
[[ "$(md5sum <"$audit")" == "$sum" ]] || fail "the audit file was changed"
[[ $(grep -c "LibPkcs11 $CORVANE_ROOT/no-such-pkcs11.so cannot be loaded: .*No such file" "$CORVANE_ROOT/service.log") == 1 ]] ||
  fail "no single diagnostic line for the PKCS#11 library"
for port in UDP TCP; do
  for _ in $(seq 1 100); do grep -q "$port port 45451 is bound now" "$CORVANE_ROOT/service.log" && break; sleep 0.05; done
  [[ $(grep -c "$port port 45451 cannot be bound" "$CORVANE_ROOT/service.log") == 1 ]] || fail "no single line for the held $port port"
  [[ $(grep -c "$port port 45451 is bound now" "$CORVANE_ROOT/service.log") == 1 ]] || fail "no single line for the $port bind"
done
"$ctl" token slots >/dev/null 2>&1 || true  # a slot refresh retries the library
[[ $(grep -c "LibPkcs11 " "$CORVANE_ROOT/service.log") == 1 ]] || fail "the library's problem was said again on a retry"
# Moved away: the next events are recorded again.
mv "$audit" "$CORVANE_ROOT/not-ours.dat"
"$ctl" session unlock 1 >/dev/null
for _ in $(seq 1 100); do "$ctl" audit 2>/dev/null | grep -q anna && break; sleep 0.05; done
"$ctl" audit | grep -q anna || fail "no rows after the file was moved away"
[[ $("$ctl" status | wc -l) == 1 ]] || fail "status still reports a problem: $("$ctl" status)"
"$ctl" stop >/dev/null
echo "tools command line: all checks passed"
