# The running service under Wine hears a phone on the local network: a presence datagram and a
# logon result report for that phone, sent from Linux to UDP 45451 with bash's /dev/udp, leave the
# report's line in the text event log. Sourced by scripts/windows-smoke.sh while the service runs
# (uses its fail); the datagrams are built byte by byte, little-endian, as the phone and the logon
# component build them.

lan_hex() {  # bytes as \xHH escapes: lan_hex u16|u32 VALUE, or lan_hex slot TEXT SIZE, or lan_hex str TEXT
  local i out=
  case $1 in
    u16) printf '\\x%02x\\x%02x' $(($2 & 255)) $(($2 >> 8 & 255)) ;;
    u32) printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($2 & 255)) $(($2 >> 8 & 255)) $(($2 >> 16 & 255)) $(($2 >> 24 & 255)) ;;
    slot) for ((i = 0; i < $3; i++)); do
            if ((i < ${#2})); then out+=$(printf '\\x%02x' "'${2:i:1}"); else out+='\x00'; fi
          done
          printf '%s' "$out" ;;
    str) lan_hex slot "$2" $((${#2} + 1)) ;;
  esac
}
lan_send() {  # CODE STATUS PAYLOAD-ESCAPES PAYLOAD-LENGTH
  printf "$(lan_hex u16 "$1")$(lan_hex u16 "$4")$(lan_hex u32 "$2")$3" >/dev/udp/127.0.0.1/45451
}

lan_phone='{6B29FC40-CA47-1067-B31D-00DD010662DA}'
lan_send 1 0 "$(lan_hex u16 45452)$(lan_hex u32 0)$(lan_hex slot "$lan_phone" 40)$(lan_hex str 'Linux phone')" $((46 + 12))
# The logon result report: anna of WINEDOM logged on (1) with that phone (kind 1); three strings.
strings="$(lan_hex str anna)$(lan_hex str 'Linux phone')$(lan_hex str '')"
lan_send 0x3013 0 "$(lan_hex u32 0)$(lan_hex u16 1)$(lan_hex u16 1)$(lan_hex slot "$lan_phone" 40)$(lan_hex slot '' 40)$(
  lan_hex slot WINEPC 16)$(lan_hex slot WINEDOM 16)$(lan_hex u16 0)$(lan_hex u16 5)$(lan_hex u16 17)$(
  lan_hex u32 1)$(lan_hex u32 30)$strings" $((134 + 5 + 12 + 1))

lan_line="Zentik:WINEPC|WINEDOM\\anna|Logon|Linux phone:$lan_phone|0x00000000:0x00000000|"
lan_log=$WINEPREFIX/drive_c/windows/system32/Zentik.Log
for _ in $(seq 1 100); do grep -qF -- "$lan_line" "$lan_log" 2>/dev/null && break; sleep 0.1; done
grep -qF -- "$lan_line" "$lan_log" 2>/dev/null || fail "no event line for the phone's logon report in $lan_log"
echo "a phone's datagrams from Linux reached the service: $lan_line"
