# Scene: a phone locks its user's session after proving that it holds the key of the certificate
# that names her, and asks for the session's times. Sourced by scripts/demo.sh while the service
# runs, after the presence scene; uses say, $ctl, $bin and $CORVANE_ROOT.
ops_component=$CORVANE_ROOT/ops-logon.out
ops_phone_log=$CORVANE_ROOT/ops-phone.log
ops_wait() { for _ in $(seq 1 "$1"); do "${@:2}" && return 0; sleep 0.1; done; return 1; }
ops_is() { [[ "$("$ctl" session list | awk -v u="$1" '$2 == u { print $NF; exit }')" == "$2" ]]; }

say "The logon component starts again; erin's phone (paired with her certificate) says hello"
dave_session=$("$ctl" session list | awk '$2 == "dave" { print $1; exit }')
[[ -n $dave_session ]] && "$ctl" session logoff "$dave_session"
"$bin/corvane-logon" --tcp 6001 --udp 6000 >"$ops_component" 2>&1 &
ops_component_pid=$!
ops_wait 100 grep -q "forwarding on" "$ops_component" || true
"$bin/corvane-phone" run erin-phone --name "Erin's phone" >"$ops_phone_log" 2>&1 &
ops_phone_pid=$!
ops_wait 200 grep -q "hello ok" "$ops_phone_log" || true

say "erin logs on through her phone"
"$bin/corvane-phone" erin-phone logon erin CONTOSO --option 1 --delay 600
ops_wait 100 ops_is erin Active || true
"$ctl" session list

say "Her phone asks for the session's times"
"$bin/corvane-phone" erin-phone times erin@contoso.example || true

say "Her phone locks her session: the service reads the certificate, the phone signs its challenge"
"$bin/corvane-phone" erin-phone lock erin || true
ops_wait 50 ops_is erin Disconnected || true
"$ctl" session list
grep "token 0x" "$ops_phone_log" || true

say "The lock in the audit trail (112: the phone's session control, 7: the session locked) and the event log"
sleep 0.2
"$ctl" audit --last 2
tail -n 2 "$CORVANE_ROOT/var/log/corvane/Zentik.Log"

kill "$ops_phone_pid" "$ops_component_pid" 2>/dev/null || true
wait "$ops_phone_pid" "$ops_component_pid" 2>/dev/null || true
