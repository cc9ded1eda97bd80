# The real smart-card stack for the card scene and the removal benchmark, sourced by both: a pcscd
# of its own with vpcd's two virtual readers in a private mount and network namespace (the
# machine's pcscd, if any, is never touched), cards played by corvane-card, OpenSC's PKCS#11
# module as LibPkcs11, and the service program on a fresh state root with anna at the console.
# Expects $corvane, $ctl, $phone, $card and $pkcs11; the caller has re-entered itself with
# rig_enter_namespaces first.

# Re-runs the calling script ($0 with the arguments given) inside namespaces of its own; exits 77
# (skipped) when they cannot be made or a part of the stack is missing.
rig_enter_namespaces() {
  [[ -n "${CORVANE_IN_NS:-}" ]] && return 0
  for tool in pcscd unshare; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  [[ -f /usr/lib/pcsc/drivers/serial/libifdvpcd.so ]] || { echo "SKIP: vsmartcard-vpcd is not installed"; exit 77; }
  if ! unshare --mount --net --propagation private true 2>/dev/null; then
    echo "SKIP: unshare --mount --net is not permitted here; the card rig needs namespaces of its own"
    exit 77
  fi
  exec env CORVANE_IN_NS=1 unshare --mount --net --propagation private \
    bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
}

reader="Virtual PCD 00 00"
serial=0011223344556677
# The card's identity as the service reads it: the 16 serial characters taken as a GUID.
cardid='{31313030-3232-3333-3434-353536363737}'

rig_cleanup() {
  for f in "$CORVANE_CARD_DIR"/*.pid; do [[ -f $f ]] && kill "$(cat "$f")" 2>/dev/null; done
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  umount /run/pcscd 2>/dev/null || true
  rm -rf "$CORVANE_ROOT"
}

fail() {
  echo "FAIL: $*"
  echo "--- sessions"; "$ctl" session list 2>&1 || true
  echo "--- event log"; cat "$log" 2>/dev/null || true
  echo "--- service"; tail -20 "$CORVANE_ROOT/service.log" 2>/dev/null || true
  echo "--- pcscd"; tail -20 "$CORVANE_ROOT/pcscd.log" 2>/dev/null || true
  echo "--- cards"; tail -20 "$CORVANE_CARD_DIR/card.log" 2>/dev/null || true
  exit 1
}

start_pcscd() {
  pcscd -f >>"$CORVANE_ROOT/pcscd.log" 2>&1 &
  pcscd_pid=$!
  "$card" state "$reader" >/dev/null || fail "pcscd did not come up"
}

# pcscd with the stock configuration (vpcd's readers on the namespace's loopback), its socket
# directory bound over /run/pcscd in this mount namespace only; the card in the first reader; the
# service running with anna logged on at the console ($session).
rig_start() {
  rig_prepare
  "$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
  for _ in $(seq 1 200); do [[ "$("$ctl" status 2>/dev/null)" == "4 RUNNING" ]] && break; sleep 0.05; done
  [[ "$("$ctl" status)" == "4 RUNNING" ]] || fail "service did not report RUNNING"
  session=$("$ctl" session logon anna CONTOSO)
}

# Everything of rig_start but the service: pcscd up, the card in the first reader, LibPkcs11 set.
rig_prepare() {
  export CORVANE_ROOT=$(mktemp -d)
  export CORVANE_CARD_DIR=$CORVANE_ROOT/cards
  log=$CORVANE_ROOT/var/log/corvane/Zentik.Log
  trap rig_cleanup EXIT
  mkdir -p "$CORVANE_ROOT/pcscd" /run/pcscd
  mount --bind "$CORVANE_ROOT/pcscd" /run/pcscd
  start_pcscd
  # OpenSC's PKCS#11 module, told to use its default driver for the emulated PKCS#15 card.
  export OPENSC_CONF=$CORVANE_ROOT/opensc.conf
  printf 'app default {\n  enable_default_driver = true;\n}\n' >"$OPENSC_CONF"
  "$card" insert "$reader" --serial $serial || fail "insert"
  "$ctl" reg add 'HKLM\SOFTWARE\Tovrel' /v LibPkcs11 /t REG_SZ /d "$pkcs11" >/dev/null
}

state() { "$ctl" session list | awk -v id="$session" '$1 == id { print $5 }'; }
# Waits (bounded) for the session state; prints the milliseconds it took from `since` (ns).
wait_state() {
  local want=$1 bound_ms=$2 since=$3
  while :; do
    [[ "$(state)" == "$want" ]] && { echo $((($(date +%s%N) - since) / 1000000)); return 0; }
    (($(date +%s%N) - since > bound_ms * 1000000)) && return 1
    sleep 0.01
  done
}
expect_line() {
  for _ in $(seq 1 400); do
    grep -qF -- "$1" "$log" 2>/dev/null && return 0
    sleep 0.01
  done
  fail "no event line with: $1"
}
count_lines() {
  local n
  n=$(grep -cF -- "$1" "$log" 2>/dev/null) || true
  echo "${n:-0}"
}
# The logon component's report of anna's card logon: option and delay.
report() {
  local before
  before=$(count_lines "|Logon|$reader:$cardid|")
  "$phone" report "$cardid" anna CONTOSO --type 3 --computer TESTPC --name "$reader" --option $1 --delay $2 >/dev/null ||
    fail "report"
  for _ in $(seq 1 400); do
    (($(count_lines "|Logon|$reader:$cardid|") > before)) && return 0
    sleep 0.01
  done
  fail "the report was not logged"
}
reconnect() { "$ctl" session connect "$session" >/dev/null; [[ "$(state)" == Active ]] || fail "session not active again"; }
