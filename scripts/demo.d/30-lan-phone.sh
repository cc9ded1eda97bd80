# Scene: anna's phone on the local network. Sourced by scripts/demo.sh while the service runs
# (after the sessions scene, so anna is at the console); uses its say, $ctl, $bin, $CORVANE_ROOT
# and $lan_phone from 30-lan-phone.prepare.
phone=$bin/corvane-lanphone

say "anna's phone announces itself on the local network (UDP 45451)"
"$phone" announce "$lan_phone" "Anna's phone"

say "The logon component reports that anna logged on with that phone (lock it when the phone goes, after 30 s)"
"$phone" report "$lan_phone" anna CONTOSO --computer "$(hostname | cut -c1-15 | tr a-z A-Z)" --name "Anna's phone" \
  --option 1 --delay 30
sleep 0.3
tail -1 "$CORVANE_ROOT/var/log/corvane/Zentik.Log"

say "The phone asks which sessions anna has here; the answer comes to its UDP port 45452"
"$phone" query "$lan_phone" anna@CONTOSO --wait 1000

say "A phone that is not paired asks the same and hears nothing"
"$phone" query '{00000000-0000-0000-0000-000000000001}' anna@CONTOSO --wait 500

say "A message for the logon component: the service forwards it to UDP 6000 with the phone's address"
"$bin/corvane-logonsink" 6000 1000 &
sink=$!
sleep 0.2
"$phone" send 0x3011 c0ffee
wait "$sink" || true
