# Scene: Windows sessions on the simulated machine. Sourced by scripts/demo.sh while the service
# runs; uses its say, $ctl and $CORVANE_ROOT.

say "The service takes stock of the existing sessions two seconds after it starts"
sleep 2.2

say "anna of the domain CONTOSO logs on at the console; the session manager tells the service"
console=$("$ctl" session logon anna CONTOSO)
echo "console session: $console"

say "She locks the console, then unlocks it"
"$ctl" session lock "$console"
"$ctl" session unlock "$console"

say "bob connects over remote desktop and logs on"
rdp=$("$ctl" session logon bob CONTOSO --rdp)
echo "remote desktop session: $rdp"
"$ctl" session list

say "bob logs off; his session is gone"
"$ctl" session logoff "$rdp"
"$ctl" session list

say "The text event log (Zentik.Log) the service wrote"
cat "$CORVANE_ROOT/var/log/corvane/Zentik.Log"

say "The audit trail it recorded (corvane-ctl audit)"
"$ctl" audit
