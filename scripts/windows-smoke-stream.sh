# The running service under Wine serves its loopback stream channel to a client on Linux: a key
# exchange under an RSA key made by openssl, whose unwrapped block has the layout and the check
# block of the session key, then a keyed status query (0x4103) whose reply decrypts to the
# 28-byte BleStatus record; and a connection that arrives from a non-loopback address is closed
# without a byte. Sourced by scripts/windows-smoke.sh while the service runs, after
# windows-smoke-lan.sh (uses its lan_hex and the smoke's fail); every byte is built and read
# here with bash, dd and the openssl command, against the message layouts alone.

stream_dir=$(mktemp -d)
stream_hex() { xxd -p "$@" | tr -d '\n'; }
stream_read() {  # COUNT FILE: exactly COUNT bytes of the connection on fd 3, at most 10 s
  timeout 10 dd bs=1 count="$1" of="$2" <&3 2>/dev/null || true
  [[ $(stat -c %s "$2") == "$1" ]]
}

openssl genrsa -out "$stream_dir/key.pem" 1024 2>/dev/null || fail "openssl cannot make an RSA key"
openssl rsa -in "$stream_dir/key.pem" -RSAPublicKey_out -outform DER -out "$stream_dir/pub.der" 2>/dev/null
der_size=$(stat -c %s "$stream_dir/pub.der")
exec 3<>/dev/tcp/127.0.0.1/45451 || fail "no stream channel on TCP 45451"
{ printf "$(lan_hex u16 0x1011)$(lan_hex u16 $((der_size + 2)))$(lan_hex u32 0)$(lan_hex u16 2)"
  cat "$stream_dir/pub.der"; } >&3
stream_read $((8 + 2 + 128)) "$stream_dir/reply" || fail "no key exchange reply"
[[ $(head -c 10 "$stream_dir/reply" | stream_hex) == 11908200000000000200 ]] ||
  fail "key exchange reply header $(head -c 10 "$stream_dir/reply" | stream_hex)"
tail -c 128 "$stream_dir/reply" >"$stream_dir/wrapped"
openssl pkeyutl -decrypt -inkey "$stream_dir/key.pem" -pkeyopt rsa_padding_mode:none -in "$stream_dir/wrapped" \
  -out "$stream_dir/block" || fail "the wrapped key does not unwrap"
block=$(stream_hex "$stream_dir/block")
[[ ${block:0:4} == 0002 && ${block:206:2} == 00 ]] || fail "unwrapped block $block"
padding=${block:4:202}
[[ ! $(echo "$padding" | fold -w2 | grep -x 00) ]] || fail "a zero byte in the padding: $padding"
session_key=${block:208:32}
check=$(printf '\0\0\0\0' | openssl enc -des-ede-cbc -K "$session_key" -iv 0000000000000000 | stream_hex)
[[ $check == "${block:240:16}" ]] || fail "check block ${block:240:16}, expected $check"

printf "$(lan_hex u16 0x4103)$(lan_hex u16 0)$(lan_hex u32 0)" >&3
stream_read 40 "$stream_dir/status" || fail "no reply to the keyed status query"
[[ $(head -c 8 "$stream_dir/status" | stream_hex) == 03c1200000000000 ]] ||
  fail "status reply header $(head -c 8 "$stream_dir/status" | stream_hex)"
plain=$(tail -c 32 "$stream_dir/status" | openssl enc -d -des-ede-cbc -K "$session_key" -iv 0000000000000000 | stream_hex)
[[ ${#plain} == 56 ]] || fail "the keyed status reply decrypts to '$plain'"
exec 3>&-
echo "key exchange and a keyed status query from Linux: BleStatus $plain"

# A peer that is not 127.0.0.1: this machine's own non-loopback address, if it has one.
stream_peer=$(ip -4 -o addr show scope global 2>/dev/null | awk '{print $4}' | cut -d/ -f1 | head -1)
if [[ -n $stream_peer ]]; then
  exec 3<>"/dev/tcp/$stream_peer/45451" || fail "no stream channel on $stream_peer:45451"
  printf "$(lan_hex u16 0x4103)$(lan_hex u16 0)$(lan_hex u32 0)" >&3 2>/dev/null || true
  timeout 10 dd bs=1 count=1 of="$stream_dir/peer" <&3 2>/dev/null || true
  [[ ! -s $stream_dir/peer ]] || fail "a peer at $stream_peer got bytes back"
  exec 3>&-
  echo "a connection from $stream_peer was closed without a byte"
else
  echo "no non-loopback address here: the peer check is skipped"
fi
rm -rf "$stream_dir"
