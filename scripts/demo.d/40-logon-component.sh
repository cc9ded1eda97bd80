# Scene: the logon component (corvane-logon) and the loopback stream channel. Sourced by
# scripts/demo.sh while the service runs, after the sessions scene (anna is at the console) and
# the LAN phone scene (which used UDP 6000 before the logon component takes it); uses its say,
# $ctl, $bin, $CORVANE_ROOT and $lan_phone.
logon_out=$CORVANE_ROOT/logon.out
wait_for() { for _ in $(seq 1 100); do grep -q "$1" "$logon_out" 2>/dev/null && return 0; sleep 0.05; done; return 1; }

say "The logon component starts: it listens on TCP 6001 and UDP 6000 and announces itself over TCP 45451"
"$bin/corvane-logon" --tcp 6001 --udp 6000 --keyed >"$logon_out" 2>&1 &
logon_pid=$!
wait_for "forwarding on" || true
cat "$logon_out"

say "corvane-ctl stream: the CSP's view of the channel, a keyed status query (0x4103) and an unknown code"
"$ctl" stream 0x4103 --keyed
"$ctl" ble-status
"$ctl" stream 0x4444 || echo "(a failed status: corvane-ctl stream exits $?)"

say "anna locks the console and walks away"
"$ctl" session lock "$console"

say "Back at the desk, her phone asks to unlock: the request is relayed to the logon component (0x5102)"
"$ctl" relay "$lan_phone" unlock anna CONTOSO --option 1 --delay 30 --name "Anna's phone"
wait_for "reported the result" || true
sed -n '/relayed/,$p' "$logon_out"
"$ctl" session list

say "The logon component's report (0x3013 over the stream channel) in the event log and the audit trail"
sleep 0.2
tail -2 "$CORVANE_ROOT/var/log/corvane/Zentik.Log"
"$ctl" audit --last 1

kill "$logon_pid" 2>/dev/null || true
wait "$logon_pid" 2>/dev/null || true
