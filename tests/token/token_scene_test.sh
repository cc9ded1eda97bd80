#!/usr/bin/env bash
# Tokens as the CSP sees them, through the service program on the real command port (TCP 45451)
# in a network namespace of its own: a SoftHSM2 token set up with OpenSC's pkcs11-tool, behind
# the test token module named as LibPkcs11. Checked:
#   1. corvane-ctl token slots and token state show the token's slot with the serial pkcs11-tool
#      reports, and the free slot without a token;
#   2. containers created through the service's own token operations (pkcs11-tool cannot make
#      them) are listed by corvane-ctl token containers, plain and keyed, and the key pair
#      pkcs11-tool made is found in its container;
#   3. the token pulled (through the module's control file) while clients loop on requests: the
#      requests fail or see no token, the service runs on; put back, it is served again;
#   4. unknown slots give the service's error and a non-zero exit, bad arguments a usage error;
#   5. the PIN never reaches the event log or the service's output.
# Exits 77 (skipped) when no network namespace can be made or SoftHSM2 or pkcs11-tool is missing.
set -euo pipefail
# shellcheck source=tests/support/scene_netns.sh
source "$(dirname "$0")/../support/scene_netns.sh"

corvane=$1
ctl=$2
module=$3
softhsm=/usr/lib/softhsm/libsofthsm2.so
[[ -f $softhsm ]] || { echo "SKIP: no SoftHSM2 at $softhsm"; exit 77; }
command -v pkcs11-tool >/dev/null || { echo "SKIP: no pkcs11-tool"; exit 77; }

export CORVANE_ROOT=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null; rm -rf "$CORVANE_ROOT"' EXIT
export SOFTHSM2_CONF=$CORVANE_ROOT/softhsm2.conf
export CORVANE_TESTTOKEN_CONTROL=$CORVANE_ROOT/token-control
mkdir -p "$CORVANE_ROOT/tokens"
printf 'directories.tokendir = %s/tokens\nlog.level = ERROR\n' "$CORVANE_ROOT" >"$SOFTHSM2_CONF"
: >"$CORVANE_TESTTOKEN_CONTROL"
log=$CORVANE_ROOT/var/log/corvane/Zentik.Log
out=$CORVANE_ROOT/out
fail() {
  echo "FAIL: $*"
  echo "--- last output"; cat "$out" 2>/dev/null || true
  echo "--- event log"; cat "$log" 2>/dev/null || true
  echo "--- service"; cat "$CORVANE_ROOT/service.log" 2>/dev/null || true
  exit 1
}

# Token operation payloads for corvane-ctl stream: u32 slot, u16 sub-opcode, u16 data length,
# four unused bytes, then the data (all little-endian hex).
le16() { printf '%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)); }
le32() { le16 $(($1 & 65535)); le16 $((($1 >> 16) & 65535)); }
text_hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; printf '00'; }
operation() { printf '%s%s%s00000000%s' "$(le32 "$1")" "$(le16 "$2")" "$(le16 $((${#3} / 2)))" "$3"; }
# One keyed token operation; "reply code=... status=... payload=..." on stdout.
token_op() { "$ctl" stream 0x7011 0 "$(operation "$1" "$2" "${3:-}")" --keyed | sed 's/ length=[0-9]*//'; }

pin=583619
tool="pkcs11-tool --module $softhsm"
$tool --init-token --slot-index 0 --label scene --so-pin 1234 >/dev/null 2>&1 || fail "pkcs11-tool --init-token"
$tool --slot-index 0 --init-pin --login --login-type so --so-pin 1234 --pin $pin >/dev/null 2>&1 || fail "pkcs11-tool --init-pin"
$tool --slot-index 0 --login --pin $pin --keypairgen --key-type rsa:1024 --label made-by-tool \
  --id "$(printf 'Alpha_cspX' | od -An -v -tx1 | tr -d ' \n')" >/dev/null 2>&1 || fail "pkcs11-tool --keypairgen"
$tool --list-slots >"$out" 2>&1 || fail "pkcs11-tool --list-slots"
serial=$(awk '/token label *: scene/ { found = 1 } found && /serial num/ { print $NF; exit }' "$out")
[[ -n $serial ]] || fail "pkcs11-tool shows no serial for the token"

"$ctl" reg add 'HKLM\SOFTWARE\Tovrel' /v LibPkcs11 /t REG_SZ /d "$module" >/dev/null
"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
wait_running "$ctl" || fail "service did not report RUNNING"

# 1. The slots: the token pkcs11-tool made, and SoftHSM2's free slot.
"$ctl" token slots >"$out" || fail "token slots"
[[ $(head -1 "$out") == "status=0x00000000" ]] || fail "token slots status"
grep -q "^count=2$" "$out" || fail "token slots count"
line=$(grep "^slot=0x[0-9A-F]\{8\} present=1 serial=$serial description=SoftHSM slot ID 0x" "$out") ||
  fail "no slot with the token's serial $serial"
slot=$(sed 's/^slot=\(0x[0-9A-F]*\) .*/\1/' <<<"$line")
grep -q "^slot=0x[0-9A-F]\{8\} present=0 serial= description=SoftHSM slot ID 0x" "$out" || fail "no free slot"
"$ctl" token state "$slot" --keyed >"$out" || fail "token state"
[[ $(cat "$out") == "status=0x00000000"$'\n'"$line" ]] || fail "token state output"

# 2. Containers made through the service's own operations, once the user has logged in.
token_op "$slot" 0x2012 "$(text_hex $pin)" >"$out"
grep -q "^reply code=0xa012 status=0x00000000 payload=0100ff00$" "$out" || fail "login"
for name in Alpha Beta; do
  token_op "$slot" 0x2001 "$(text_hex $name)" >"$out"
  grep -q "^reply code=0xa001 status=0x00000000 payload=[0-9a-f]\{8\}$" "$out" || fail "create container $name"
done
for keyed in "" --keyed; do
  "$ctl" token containers "$slot" $keyed >"$out" || fail "token containers $keyed"
  [[ $(head -2 "$out") == "status=0x00000000"$'\n'"count=2" ]] || fail "token containers $keyed: status and count"
  grep -q "^container=0x[0-9A-F]\{8\} name=Alpha$" "$out" || fail "container Alpha not listed"
  grep -q "^container=0x[0-9A-F]\{8\} name=Beta$" "$out" || fail "container Beta not listed"
done
alpha=$(sed -n 's/^container=\(0x[0-9A-F]*\) name=Alpha$/\1/p' "$out")
# The exchange key pkcs11-tool made belongs to Alpha: key spec 1, 1024 bits, exponent 65537.
token_op "$slot" 0x2022 "$(le32 "$alpha")$(le32 1)" >"$out"
grep -q "^reply code=0xa022 status=0x00000000 payload=0100000000040000010001" "$out" || fail "Alpha's public key"

# 3. The token pulled while two clients loop on requests, then put back.
loop() {
  while [[ ! -e $CORVANE_ROOT/stop ]]; do
    "$ctl" token "$@" || true
  done
}
loop state "$slot" >"$CORVANE_ROOT/loop-state" 2>&1 &
state_loop=$!
loop containers "$slot" --keyed >"$CORVANE_ROOT/loop-containers" 2>&1 &
containers_loop=$!
sleep 0.5
echo "remove $slot" >>"$CORVANE_TESTTOKEN_CONTROL"
for _ in $(seq 1 200); do
  grep -q "present=0" "$CORVANE_ROOT/loop-state" && grep -q "^status=0x[89A-F]" "$CORVANE_ROOT/loop-containers" && break
  sleep 0.05
done
echo "insert $slot" >>"$CORVANE_TESTTOKEN_CONTROL"
sleep 1
touch "$CORVANE_ROOT/stop"
wait $state_loop $containers_loop
echo "during the removal: $(grep -c '^status=' "$CORVANE_ROOT/loop-state") state requests," \
  "$(grep -c 'present=0' "$CORVANE_ROOT/loop-state") without the token;" \
  "$(grep -c '^status=' "$CORVANE_ROOT/loop-containers") container listings," \
  "$(grep -c '^status=0x[89A-F]' "$CORVANE_ROOT/loop-containers") failed" \
  "($(grep -o '^status=0x[89A-F].*' "$CORVANE_ROOT/loop-containers" | sort -u | tr '\n' ' '))"
cp "$CORVANE_ROOT/loop-state" "$out"
grep -q "^slot=$slot present=0 " "$out" || fail "the removal was not seen by token state"
cp "$CORVANE_ROOT/loop-containers" "$out"
grep -q "^status=0x[89A-F]" "$out" || fail "token containers did not fail without the token"
[[ "$("$ctl" status)" == "4 RUNNING" ]] || fail "service not running after the removal"
served=""
for _ in $(seq 1 100); do
  if "$ctl" token containers "$slot" >"$out" && grep -q "^count=2$" "$out"; then served=1; break; fi
  sleep 0.1
done
[[ -n $served ]] || fail "the token put back was not served again"
# Removal logged the user out and the containers were listed anew: the CSP looks Alpha up again.
alpha=$(sed -n 's/^container=\(0x[0-9A-F]*\) name=Alpha$/\1/p' "$out")
"$ctl" token state "$slot" >"$out" || fail "token state after the insertion"
grep -q "^slot=$slot present=1 serial=$serial " "$out" || fail "token state after the insertion"
token_op "$slot" 0x2012 "$(text_hex $pin)" >"$out"
grep -q "^reply code=0xa012 status=0x00000000 payload=0100ff00$" "$out" || fail "login after the insertion"
token_op "$slot" 0x2022 "$(le32 "$alpha")$(le32 1)" >"$out"
grep -q "^reply code=0xa022 status=0x00000000 payload=0100000000040000010001" "$out" ||
  fail "Alpha's public key after the insertion"

# 4. Unknown slots and bad arguments.
expect_exit() {
  local want=$1; shift
  local rc=0
  "$ctl" token "$@" >"$out" 2>&1 || rc=$?
  [[ $rc == "$want" ]] || fail "token $*: exit $rc, expected $want"
}
expect_exit 1 state 0x7777
grep -q "^status=0x80090011 (.\+)$" "$out" || fail "unknown slot in token state"
expect_exit 1 containers 0x7777 --keyed
grep -q "^status=0x8010000C (.\+)$" "$out" || fail "unknown slot in token containers"
for args in "" "frob" "slots extra" "state" "state nine" "containers" "containers 1 2" "slots --port 0" "slots --port 70000"; do
  # shellcheck disable=SC2086
  expect_exit 2 $args
  grep -q "usage: corvane-ctl token" "$out" || fail "no usage line for 'token $args'"
done

"$ctl" stop >/dev/null || fail "stop"
# 5. No PIN in what the service wrote.
! grep -rq "$pin" "$CORVANE_ROOT/var" "$CORVANE_ROOT/service.log" || fail "the PIN reached a log"
echo "token scene: all checks passed"
