#!/usr/bin/env bash
# The service program on a fresh state root: it starts in the foreground, stores a host GUID,
# reports RUNNING, answers a pause with 120, stops on corvane-ctl stop and on SIGTERM with exit
# code 0 within 2 s (corvane-ctl stop returning only once the process has ended, so that a start
# right after it succeeds), keeps its host GUID across starts, refuses a second start on the same
# state root while it runs, refuses a state root that is not a directory, and runs on through
# SIGHUP with its event log reopened.
set -euo pipefail
corvane=$1
ctl=$2
export CORVANE_ROOT=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$CORVANE_ROOT"' EXIT
fail() { echo "FAIL: $*"; cat "$CORVANE_ROOT/service.log" 2>/dev/null; exit 1; }

wait_running() {
  for _ in $(seq 1 200); do
    [[ "$("$ctl" status 2>/dev/null)" == "4 RUNNING" ]] && return 0
    sleep 0.05
  done
  fail "service did not report RUNNING"
}

wait_exit() {  # pid, seconds
  local pid=$1 deadline=$((SECONDS + $2))
  while kill -0 "$pid" 2>/dev/null; do
    ((SECONDS <= deadline)) || fail "service still running after $2 s"
    sleep 0.05
  done
  wait "$pid"
}

# First start, stopped with corvane-ctl.
"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
pid=$!
wait_running
guid=$("$ctl" reg query 'HKLM\SOFTWARE\Tovrel' /v HostGUID | awk '/HostGUID/ {print $3}')
[[ $guid =~ ^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$ ]] || fail "HostGUID '$guid'"
key=$("$ctl" reg query 'HKLM\SOFTWARE\Tovrel' /v RSAKey | awk '/RSAKey/ {print $2, length($3), $3}')
[[ "$key" == REG_BINARY\ * && $(echo "$key" | cut -d" " -f2) -gt 2000 ]] || fail "no enciphered host key stored ($key)"
[[ "$("$ctl" control 2)" == "120" ]] || fail "pause not answered 120"
[[ "$("$ctl" power resume)" == "0" ]] || fail "power resume"
"$ctl" stop >/dev/null || fail "ctl stop"
# The stop returns only once the service process has ended (a zombie until this shell reaps it).
st=$(ps -o stat= -p $pid 2>/dev/null || true)
[[ -z $st || $st == Z* ]] || fail "ctl stop returned while the service process runs ($st)"
[[ "$("$ctl" status)" == "1 STOPPED" ]] || fail "status after stop"

# Second start, at once after the stop: not refused; it keeps the GUID; SIGTERM stops it.
"$corvane" >>"$CORVANE_ROOT/service.log" 2>&1 &
pid2=$!
rc=0; wait_exit $pid 2 || rc=$?
[[ $rc == 0 ]] || fail "exit code $rc after ctl stop"
pid=$pid2
wait_running
guid2=$("$ctl" reg query 'HKLM\SOFTWARE\Tovrel' /v HostGUID | awk '/HostGUID/ {print $3}')
[[ "$guid" == "$guid2" ]] || fail "HostGUID changed: $guid -> $guid2"
key2=$("$ctl" reg query 'HKLM\SOFTWARE\Tovrel' /v RSAKey | awk '/RSAKey/ {print $2, length($3), $3}')
[[ "$key" == "$key2" ]] || fail "host key replaced on the second start"

# Started again on the same root while it runs: refused with ERROR_SERVICE_ALREADY_RUNNING (1056;
# the shell sees its low byte, 32) and one line, and the running service is left alone.
event_log=$CORVANE_ROOT/var/log/corvane/Zentik.Log
log_before=$( { cat "$event_log" 2>/dev/null || true; } | md5sum)
rc=0; timeout 10 "$corvane" >"$CORVANE_ROOT/second.log" 2>&1 || rc=$?
[[ $rc == 32 ]] || { cat "$CORVANE_ROOT/second.log"; fail "second start exited $rc"; }
[[ $(wc -l <"$CORVANE_ROOT/second.log") == 1 ]] || { cat "$CORVANE_ROOT/second.log"; fail "more than one line"; }
grep -q "already running (error 1056)" "$CORVANE_ROOT/second.log" || fail "no error line for the second start"
kill -0 $pid 2>/dev/null || fail "the first service is gone"
[[ "$("$ctl" status)" == "4 RUNNING" ]] || fail "the control socket no longer reaches the first service"
[[ "$( { cat "$event_log" 2>/dev/null || true; } | md5sum)" == "$log_before" ]] ||
  fail "the second start wrote to the event log"

# Log rotation: the event log is moved away and the service gets SIGHUP. It runs on, and its
# next line starts a new event log at the old path.
anna=$("$ctl" session logon anna CONTOSO) || fail "logon of anna"
for _ in $(seq 1 100); do grep -q "|Logon|" "$event_log" 2>/dev/null && break; sleep 0.05; done
mv "$event_log" "$event_log.1"
kill -HUP $pid
sleep 0.3
kill -0 $pid 2>/dev/null || fail "SIGHUP ended the service"
[[ "$("$ctl" status)" == "4 RUNNING" ]] || fail "status after SIGHUP"
"$ctl" session lock "$anna" >/dev/null || fail "lock of anna's session"
for _ in $(seq 1 100); do [[ -s $event_log ]] && break; sleep 0.05; done
grep -qF 'anna|Locked' "$event_log" || { cat "$event_log" 2>/dev/null; fail "no new event log after SIGHUP"; }
grep -q "SIGHUP" "$CORVANE_ROOT/service.log" || fail "no diagnostic line for SIGHUP"
kill -TERM $pid
rc=0; wait_exit $pid 2 || rc=$?
[[ $rc == 0 ]] || fail "exit code $rc after SIGTERM"

# A state root that is not a directory: refused at once, with one line and exit code 1.
not_a_dir=$(mktemp -d)
touch "$not_a_dir/root-is-a-file"
rc=0; CORVANE_ROOT=$not_a_dir/root-is-a-file timeout 10 "$corvane" >"$CORVANE_ROOT/file-root.log" 2>&1 || rc=$?
[[ $rc == 1 ]] || { cat "$CORVANE_ROOT/file-root.log"; fail "a file as state root exited $rc"; }
[[ $(wc -l <"$CORVANE_ROOT/file-root.log") == 1 ]] || { cat "$CORVANE_ROOT/file-root.log"; fail "more than one line"; }
grep -q "root-is-a-file is not a directory" "$CORVANE_ROOT/file-root.log" || fail "no error line for a file as state root"
rm -rf "$not_a_dir"

# A state root whose places cannot be written: the service starts anyway, says what went wrong
# on its diagnostic output, and still stops on SIGTERM with exit code 0.
blocked=$(mktemp -d)/root
mkdir "$blocked"
touch "$blocked/var"
CORVANE_ROOT=$blocked "$corvane" >"$CORVANE_ROOT/blocked.log" 2>&1 &
pid=$!
for _ in $(seq 1 100); do grep -q "running in the foreground" "$CORVANE_ROOT/blocked.log" && break; sleep 0.05; done
grep -q "SOFTWARE.Tovrel cannot be opened" "$CORVANE_ROOT/blocked.log" || fail "no diagnostic for the unwritable root"
kill -TERM $pid
rc=0; wait_exit $pid 2 || rc=$?
[[ $rc == 0 ]] || { cat "$CORVANE_ROOT/blocked.log"; fail "exit code $rc with an unwritable root"; }
rm -rf "$(dirname "$blocked")"

# The verbs: /install writes the unit, a second /install repairs it, -Uninstall removes it,
# and uninstalling a missing service fails with -1 and "Couldn't open service".
"$corvane" /install >/dev/null 2>&1 || fail "/install"
"$corvane" /INSTALL >/dev/null 2>&1 || fail "second /install"
grep -q "^ExecStart=\"$corvane\"" "$CORVANE_ROOT/etc/systemd/system/corvane.service" || fail "unit ExecStart"
"$corvane" -Uninstall >/dev/null 2>&1 || fail "-Uninstall"
[[ ! -e "$CORVANE_ROOT/etc/systemd/system/corvane.service" ]] || fail "unit left after uninstall"
rc=0; "$corvane" -uninstall >"$CORVANE_ROOT/uninstall.log" 2>&1 || rc=$?
[[ $rc == 255 ]] || fail "uninstall of a missing service exited $rc"
grep -q "Couldn't open service" "$CORVANE_ROOT/uninstall.log" || fail "no message for the missing service"

# The control tool fails clearly when there is nothing to control.
if "$ctl" stop 2>/dev/null; then fail "stop of a stopped service succeeded"; fi
if "$ctl" bogus 2>/dev/null; then fail "unknown verb accepted"; fi
echo "service program: all checks passed"
