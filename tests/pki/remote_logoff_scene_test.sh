#!/usr/bin/env bash
# A phone on the network logs its user's session off through the service program, proving its key
# through the CSP stand-in: alice's certificate logs alice off (status 0); a revoked certificate is
# refused with 0x80090351 and the session stays; an expired one with 0x80090355; bob's with
# 0x20000013; and a forged CRL, newer and empty, served afterwards does not clear the revoked
# certificate. Runs in a network namespace of its own (the command port is fixed); exits 77
# (skipped) when none can be made.
set -euo pipefail
# shellcheck source=tests/support/scene_netns.sh
source "$(dirname "$0")/../support/scene_netns.sh"

corvane=$1
ctl=$2
phone=$3
testpki=$4
export CORVANE_ROOT=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$CORVANE_ROOT"' EXIT
out=$CORVANE_ROOT/out
fail() {
  echo "FAIL: $*"
  echo "--- last output"; cat "$out" 2>/dev/null || true
  echo "--- sessions"; "$ctl" session list 2>/dev/null || true
  echo "--- service"; cat "$CORVANE_ROOT/service.log" 2>/dev/null || true
  exit 1
}

guid='{6B29FC40-CA47-1067-B31D-00DD010662DA}'
"$testpki" "$CORVANE_ROOT" "$guid" >"$CORVANE_ROOT/pki.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 400); do grep -q '^ready ' "$CORVANE_ROOT/pki.log" 2>/dev/null && break; sleep 0.05; done
grep -q '^ready ' "$CORVANE_ROOT/pki.log" || { cat "$CORVANE_ROOT/pki.log"; fail "the test PKI is not ready"; }

"$ctl" reg add "HKLM\\SOFTWARE\\Tovrel\\Pair\\$guid" >/dev/null
"$ctl" session trust add CORP corp.example >/dev/null
"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
pids+=($!)
wait_running "$ctl" || fail "service did not report RUNNING"
session=$("$ctl" session logon alice CORP)
session_alive() { "$ctl" session list | grep -q "^$session "; }
session_alive || fail "alice's session is not listed"

# Revoked: the CRL of the distribution point names the certificate; the session stays.
"$phone" logoff "$guid" revoked --wait 25000 >"$out" || fail "no reply for the revoked certificate"
grep -q "logoff reply from 127.0.0.1:[0-9]*: status=0x80090351 (.*) operation=1 device=$guid .*container=revoked text=." "$out" ||
  fail "revoked certificate not refused with 0x80090351"
sleep 0.3
session_alive || fail "the session went away after a refused logoff"

# A forged list, newer and revoking nothing, now stands at the distribution point: it is not
# kept and does not clear the certificate (the genuine list kept in Cache still decides).
cp "$CORVANE_ROOT/pki/forged.crl" "$CORVANE_ROOT/pki/served.crl"
"$phone" logoff "$guid" revoked --wait 25000 >"$out" || fail "no reply after the forged CRL"
grep -q "status=0x80090351 " "$out" || fail "the forged CRL cleared the revoked certificate"
cmp -s "$CORVANE_ROOT/pki/genuine.crl" "$CORVANE_ROOT"/var/lib/corvane/VSCCrl/Cache/*.crl || fail "the cache does not hold the genuine CRL"

"$phone" lock "$guid" expired --wait 25000 >"$out" || fail "no reply for the expired certificate"
grep -q "status=0x80090355 (.*) operation=2 " "$out" || fail "expired certificate not refused with 0x80090355"

"$phone" logoff "$guid" bob --wait 25000 >"$out" || fail "no reply for bob's certificate"
grep -q "status=0x20000013 .*container=bob text=." "$out" || fail "bob's certificate not answered 0x20000013"

# An unknown container gets no reply at all.
"$phone" logoff "$guid" nobody --wait 800 >"$out" && fail "a reply for a container the CSP does not hold"

session_alive || fail "the session went away before alice's own logoff"
"$phone" logoff "$guid" alice --wait 25000 >"$out" || fail "no reply for alice's certificate"
grep -q "logoff reply from 127.0.0.1:[0-9]*: status=0x00000000 operation=1 device=$guid .*container=alice text=$" "$out" ||
  fail "alice's logoff not answered with status 0"
for _ in $(seq 1 100); do session_alive || break; sleep 0.05; done
session_alive && fail "alice's session is still there"

"$ctl" stop >/dev/null || fail "stop"
echo "Remote logoff scene: all checks passed"
