# Scene: the phone that logged its user on walks away, and the session is locked once the delay
# the user chose has passed; the phone comes back and its unlock request brings the user back
# into the same session. Sourced by scripts/demo.sh while the service runs, after the BLE
# phone scene (carol is at the console, the radio is back on); uses say, $ctl, $bin and
# $CORVANE_ROOT.
presence_component=$CORVANE_ROOT/presence-logon.out
presence_phone_log=$CORVANE_ROOT/presence-phone.log
presence_wait() { for _ in $(seq 1 "$1"); do "${@:2}" && return 0; sleep 0.1; done; return 1; }
presence_state() { "$ctl" session list | awk -v u="$1" '$2 == u { print $NF; exit }'; }
presence_is() { [[ "$(presence_state "$1")" == "$2" ]]; }

say "carol logs off; the radio is on again and the BLE service comes back"
presence_wait 100 presence_is carol Active || true
carol_session=$("$ctl" session list | awk '$2 == "carol" { print $1; exit }')
[[ -n $carol_session ]] && "$ctl" session logoff "$carol_session"
presence_wait 100 test -S "$CORVANE_ROOT/run/corvane/ble/host.sock" || true
"$ctl" ble-status

say "The logon component starts again; dave's phone comes into range and says hello"
"$bin/corvane-logon" --tcp 6001 --udp 6000 >"$presence_component" 2>&1 &
presence_component_pid=$!
presence_wait 100 grep -q "forwarding on" "$presence_component" || true
"$bin/corvane-phone" run dave-phone --name "Dave's phone" --rssi -55 >"$presence_phone_log" 2>&1 &
presence_phone_pid=$!
presence_wait 200 grep -q "hello ok" "$presence_phone_log" || true

say "dave logs on through his phone with option 1 (lock when the phone is gone) and a delay of 10 s"
"$bin/corvane-phone" dave-phone logon dave CONTOSO --option 1 --delay 10
presence_wait 100 presence_is dave Active || true
"$ctl" session list

dave_session=$("$ctl" session list | awk '$2 == "dave" { print $1; exit }')

say "dave walks away with his phone: the link drops, and 10 s later his session is locked"
"$bin/corvane-phone" dave-phone away
presence_start=$(date +%s%N)
presence_wait 150 presence_is dave Disconnected || true
echo "locked after $(( ($(date +%s%N) - presence_start) / 1000000 )) ms"
"$ctl" session list

say "The lock in the audit trail (121: locked because the device went offline) and the event log"
sleep 0.2
"$ctl" audit --last 2
tail -n 2 "$CORVANE_ROOT/var/log/corvane/Zentik.Log"

say "dave comes back: his phone says hello again and is rebound to the same device"
presence_hellos=$(grep -c "hello ok" "$presence_phone_log" || true)
"$bin/corvane-phone" dave-phone back
presence_wait 200 eval '(( $(grep -c "hello ok" "$presence_phone_log") > presence_hellos ))' || true

say "His phone asks to unlock (0x3022): Windows reconnects his session to the console and unlocks it"
"$bin/corvane-phone" dave-phone unlock dave CONTOSO --option 1 --delay 10
presence_wait 100 presence_is dave Active || true
"$ctl" session list
dave_back=$("$ctl" session list | awk '$2 == "dave" && $NF == "Active" { print $1; exit }')
if [[ -n $dave_session && $dave_back == "$dave_session" ]]; then
  echo "dave is back in his own session $dave_session"
else
  echo "dave did not get his session $dave_session back (now: '${dave_back}')" >&2
  exit 1
fi
sleep 0.2
tail -n 4 "$CORVANE_ROOT/var/log/corvane/Zentik.Log"

kill "$presence_phone_pid" "$presence_component_pid" 2>/dev/null || true
wait "$presence_phone_pid" "$presence_component_pid" 2>/dev/null || true
