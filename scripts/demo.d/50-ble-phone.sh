# Scene: a phone over Bluetooth LE logs its user on. Sourced by scripts/demo.sh while the service
# runs, after the logon component scene (anna is at the console, the component has ended); uses
# its say, $ctl, $bin, $CORVANE_ROOT and $console, and for its devices step $lan_phone of the LAN
# phone scene and the card rig of the card scene (card, $card_pcscd, $card_reader, $card_id).
ble_component=$CORVANE_ROOT/ble-logon.out
ble_phone_log=$CORVANE_ROOT/ble-phone.log
ble_wait() { for _ in $(seq 1 200); do grep -q "$1" "$2" 2>/dev/null && return 0; sleep 0.05; done; return 1; }

say "The BLE service runs: the BLE library stand-in lies beside the program and the simulated radio is on"
"$ctl" ble-status

say "anna logs off; the console waits for the next user"
"$ctl" session logoff "$console"

say "The logon component starts again and announces itself"
"$bin/corvane-logon" --tcp 6001 --udp 6000 >"$ble_component" 2>&1 &
ble_component_pid=$!
ble_wait "forwarding on" "$ble_component" || true

say "carol's phone comes into range: it connects through the BLE library, says hello and checks its session key"
"$bin/corvane-phone" run carol-phone --name "Carol's phone" --rssi -58 >"$ble_phone_log" 2>&1 &
ble_phone_pid=$!
ble_wait "hello ok" "$ble_phone_log" || true
cat "$ble_phone_log"

say "The phone asks for a logon of carol (0x3021): the service relays it to the logon component, which logs her on"
"$bin/corvane-phone" carol-phone logon carol CONTOSO --option 1 --delay 30
ble_wait "reported the result" "$ble_component" || true
# The component logs her on as it reports; the list is shown once her session is there.
for _ in $(seq 1 200); do "$ctl" session list | grep -q " carol .* Active$" && break; sleep 0.05; done
sed -n '/relayed/,$p' "$ble_component"
"$ctl" session list

say "The logon component's report in the audit trail: dev_type 2, a phone over Bluetooth LE"
sleep 0.2
"$ctl" audit --last 1

say "The phone lists its user's session (0x3027), and the stream channel lists the phone (0x4101)"
"$bin/corvane-phone" carol-phone sessions
"$ctl" stream 0x4101

say "What the service knows of its devices right now (corvane-ctl devices): a LAN phone, a BLE phone, a card reader"
# anna's LAN phone announces itself again (a LAN phone is dropped 13 s after its last
# announcement), and a card goes into the reader and logs carol on (no action when it leaves).
"$bin/corvane-lanphone" announce "$lan_phone" "Anna's phone" >/dev/null
if [[ -n "${card_pcscd:-}" ]]; then
  card insert "$card_reader" --serial 0011223344556677 --label "Carol's card" >/dev/null
  "$bin/corvane-lanphone" report "$card_id" carol CONTOSO --type 3 --computer "$(hostname | cut -c1-15 | tr a-z A-Z)" \
    --name "$card_reader" --option 0 --delay 0 >/dev/null
  for _ in $(seq 1 100); do "$ctl" devices --json | grep -q '"kind":"card"' && break; sleep 0.02; done
fi
"$ctl" devices
say "The same for scripts (corvane-ctl devices --json)"
"$ctl" devices --json
if [[ -n "${card_pcscd:-}" ]]; then
  card remove "$card_reader" >/dev/null 2>&1 || true
  kill "$card_pcscd" 2>/dev/null || true
  wait "$card_pcscd" 2>/dev/null || true
fi

say "The phone leaves; with the radio switched off the BLE service stops within about 2 s"
"$bin/corvane-phone" carol-phone away
sleep 1
"$ctl" radio off
sleep 2.5
"$ctl" ble-status
"$ctl" radio on

kill "$ble_phone_pid" "$ble_component_pid" 2>/dev/null || true
wait "$ble_phone_pid" "$ble_component_pid" 2>/dev/null || true
