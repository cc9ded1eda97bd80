# Scene: anna's smart card. Sourced by scripts/demo.sh while the service runs (anna is at the
# console); uses say, $ctl, $bin, $CORVANE_ROOT, $console and the pcscd of 40-card.prepare.
if [[ -z "${card_pcscd:-}" ]]; then
  say "No pcscd with vpcd's virtual readers here: the smart-card scene is skipped"
else
  card_reader='Virtual PCD 00 00'
  # The card's identity as the service reads it: the token serial "0011223344556677" as a GUID.
  card_id='{31313030-3232-3333-3434-353536363737}'
  card_log=$CORVANE_ROOT/var/log/corvane/Zentik.Log
  card_state() { "$ctl" session list | awk -v id="$console" '$1 == id { print $5 }'; }

  say "anna's smart card is in the reader '$card_reader'"
  card state "$card_reader"

  say "anna logs on with the card; the logon component reports it (a card reader, lock when the card goes, no delay)"
  "$bin/corvane-lanphone" report "$card_id" anna CONTOSO --type 3 --computer "$(hostname | cut -c1-15 | tr a-z A-Z)" \
    --name "$card_reader" --option 1 --delay 0
  for _ in $(seq 1 100); do grep -qF "|Logon|$card_reader:" "$card_log" && break; sleep 0.02; done
  tail -1 "$card_log"

  say "anna pulls her card out of the reader: the service locks her session"
  card remove "$card_reader"
  for _ in $(seq 1 200); do [[ "$(card_state)" == Disconnected ]] && break; sleep 0.01; done
  "$ctl" session list | awk -v id="$console" '$1 == id'
  tail -4 "$card_log"

  say "She puts the card back and unlocks her session: nothing more happens"
  card insert "$card_reader" --serial 0011223344556677 --label "Anna's card"
  "$ctl" session connect "$console" >/dev/null
  "$ctl" session list | awk -v id="$console" '$1 == id'
  tail -2 "$card_log"

  # The card leaves the reader; the demo's pcscd stays for the devices step of the BLE scene.
  card remove "$card_reader" >/dev/null 2>&1 || true
fi
