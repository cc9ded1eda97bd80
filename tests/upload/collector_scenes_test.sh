#!/usr/bin/env bash
# The audit shipper against a real collector: rsyslog with its reliable-logging input (imrelp)
# over TLS, a Direct main queue and a file action flushed at the end of every transaction, so that
# what it acknowledged is on disk. Scenes: every row arrives once; rsyslog killed mid-stream and
# restarted; the service killed with -9 mid-stream and restarted; a collector whose certificate
# comes from another CA gets nothing and the shipper says why; a collector that answers garbage
# leaves the service running and the shipper reconnecting.
set -euo pipefail
source "$(dirname "$0")/../support/scene_netns.sh"
corvane=$1
ctl=$2
fill=$3
command -v rsyslogd >/dev/null || { echo "SKIP: rsyslogd is not installed (Debian packages rsyslog, rsyslog-relp)"; exit 77; }
[[ -e /usr/lib/x86_64-linux-gnu/rsyslog/imrelp.so || -n "$(find /usr/lib -name imrelp.so 2>/dev/null | head -1)" ]] ||
  { echo "SKIP: rsyslog's imrelp module is not installed (Debian package rsyslog-relp)"; exit 77; }

T=$(mktemp -d)
export CORVANE_ROOT=$T/root
mkdir -p "$CORVANE_ROOT"
svc_pid=
rs_pid=
cleanup() {
  [[ -n $svc_pid ]] && kill -9 $svc_pid 2>/dev/null || true
  [[ -n $rs_pid ]] && kill -9 $rs_pid 2>/dev/null || true
  rm -rf "$T"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- service log"; tail -20 "$T/service.log" 2>/dev/null || true
  echo "--- rsyslog log"; tail -20 "$T/rsyslog.log" 2>/dev/null || true
  exit 1
}
PORT=20514

# A test CA and the collector's certificate for "localhost"; a second CA with a certificate of
# its own for the untrusted collector.
make_ca() {  # dir
  mkdir -p "$1"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1/ca.key" -out "$1/ca.pem" -days 2 -subj "/CN=$(basename "$1") CA" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -keyout "$1/server.key" -out "$1/server.csr" -subj "/CN=localhost" 2>/dev/null
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth,clientAuth\n' >"$1/ext"
  openssl x509 -req -in "$1/server.csr" -CA "$1/ca.pem" -CAkey "$1/ca.key" -CAcreateserial -out "$1/server.pem" \
    -days 2 -extfile "$1/ext" 2>/dev/null
}
make_ca "$T/good"
make_ca "$T/other"
# A certificate of the good CA for another name.
openssl req -newkey rsa:2048 -nodes -keyout "$T/good/elsewhere.key" -out "$T/good/elsewhere.csr" -subj "/CN=elsewhere.test" 2>/dev/null
printf 'subjectAltName=DNS:elsewhere.test\n' >"$T/good/elsewhere.ext"
openssl x509 -req -in "$T/good/elsewhere.csr" -CA "$T/good/ca.pem" -CAkey "$T/good/ca.key" -CAcreateserial \
  -out "$T/good/elsewhere.pem" -days 2 -extfile "$T/good/elsewhere.ext" 2>/dev/null

start_rsyslog() {  # ca-dir output-file [port [cert-name [extra input parameters]]]
  local port=${3:-$PORT} cert=${4:-server} extra=${5:-}
  # One collector at a time: the one before goes first, so that none outlives the test.
  if [[ -n $rs_pid ]]; then kill -9 $rs_pid 2>/dev/null || true; wait $rs_pid 2>/dev/null || true; fi
  mkdir -p "$T/rswork"
  cat >"$T/rsyslog.conf" <<CONF
global(workDirectory="$T/rswork")
module(load="imrelp" tls.tlslib="openssl")
main_queue(queue.type="Direct")
template(name="sd" type="string" string="%structured-data%\n")
input(type="imrelp" port="$port" address="127.0.0.1" tls="on" tls.caCert="$1/ca.pem" tls.myCert="$1/$cert.pem" tls.myPrivKey="$1/$cert.key" $extra)
*.* action(type="omfile" file="$2" template="sd" flushOnTXEnd="on")
CONF
  rsyslogd -n -iNONE -f "$T/rsyslog.conf" >>"$T/rsyslog.log" 2>&1 &
  rs_pid=$!
  for _ in $(seq 1 100); do
    (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && return 0
    sleep 0.05
  done
  fail "rsyslog did not listen on $port"
}

start_service() {
  "$corvane" >>"$T/service.log" 2>&1 &
  svc_pid=$!
  for _ in $(seq 1 200); do
    [[ "$("$ctl" status 2>/dev/null | head -1)" == "4 RUNNING" ]] && return 0
    sleep 0.05
  done
  fail "service did not report RUNNING"
}

pending() { "$ctl" audit --pending; }

wait_pending_zero() {  # seconds
  for _ in $(seq 1 $(($1 * 20))); do
    [[ "$(pending 2>/dev/null)" == "0" ]] && return 0
    sleep 0.05
  done
  fail "rows still pending after $1 s: $(pending) ($("$ctl" status | tail -1))"
}

# Row ids that arrived in `file` between `from` and `to`: checks that each arrived, and prints
# how many arrived more than once.
check_arrived() {  # file from to
  python3 - "$@" <<'PY'
import re, sys
path, lo, hi = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
seen = {}
keys = set()
for line in open(path, encoding="utf-8"):
    m = re.search(r' id="(\d+)"', line)
    h = re.search(r' host="([^"]*)" db="([^"]*)"', line)
    if not m or not h:
        continue
    i = int(m.group(1))
    keys.add((h.group(1), h.group(2)))
    if lo <= i <= hi:
        seen[i] = seen.get(i, 0) + 1
missing = [i for i in range(lo, hi + 1) if i not in seen]
if missing:
    print("MISSING %d rows, first %s" % (len(missing), missing[:5]))
    sys.exit(1)
if len(keys) != 1:
    print("MIXED host/db keys: %s" % keys)
    sys.exit(1)
print(sum(n - 1 for n in seen.values()))
PY
}

set_collector() {  # ca-file
  "$ctl" reg add 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v Enabled /t REG_DWORD /d 1 >/dev/null
  "$ctl" reg add 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v Host /t REG_SZ /d localhost >/dev/null
  "$ctl" reg add 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v Port /t REG_DWORD /d $PORT >/dev/null
  "$ctl" reg add 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v CaFile /t REG_SZ /d "$1" >/dev/null
}

say() { echo "[${SECONDS}s] $*"; }
say "scene: 2000 rows arrive, each exactly once"
start_rsyslog "$T/good" "$T/out.log"
start_service
say "collector and service up"
"$fill" 2000 500
say "rows written"
[[ "$(pending)" == "2000" ]] || fail "pending before shipping: $(pending)"
set_collector "$T/good/ca.pem"
"$ctl" reload || fail "reload"
wait_pending_zero 60
say "rows shipped"
dups=$(check_arrived "$T/out.log" 1 2000) || fail "first 2000 rows: $dups"
[[ $dups == 0 ]] || fail "$dups duplicates without any fault"
[[ $(grep -c . "$T/out.log") == 2000 ]] || fail "$(grep -c . "$T/out.log") lines for 2000 rows"
grep -q 'user_name="anna \\"the\\" \[admin\\]\\\\"' "$T/out.log" || fail "escaped user name not found: $(head -1 "$T/out.log")"
"$ctl" status | grep -q "audit shipper: connected to localhost:$PORT, last acknowledged row 2000" ||
  fail "status line: $("$ctl" status | tail -1)"

# Waits until `file` holds at least `n` lines.
wait_lines() {  # file n
  for _ in $(seq 1 600); do
    [[ -f $1 && $(grep -c . "$1") -ge $2 ]] && return 0
    sleep 0.01
  done
  fail "$1 never reached $2 lines"
}

say "scene: rsyslog killed with -9 mid-stream and restarted"
"$fill" 2000 50 20 &
fill_pid=$!
wait_lines "$T/out.log" 2100
kill -9 $rs_pid; wait $rs_pid 2>/dev/null || true
rs_pid=
say "rsyslog killed at $(grep -c . "$T/out.log") lines, $(pending) pending"
wait $fill_pid || fail "filling rows"
sleep 0.5
start_rsyslog "$T/good" "$T/out.log"
wait_pending_zero 90
dups=$(check_arrived "$T/out.log" 2001 4000) || fail "rows 2001-4000: $dups"
say "every row arrived, $dups again"
((dups <= 128)) || fail "$dups duplicates, more than one window"

say "scene: the service killed with -9 mid-stream and restarted"
"$fill" 2000 50 20 &
fill_pid=$!
wait_lines "$T/out.log" $(( $(grep -c . "$T/out.log") + 100 ))
kill -9 $svc_pid; wait $svc_pid 2>/dev/null || true
svc_pid=
say "service killed with $(pending) rows pending"
wait $fill_pid || fail "filling rows"
start_service
wait_pending_zero 90
dups=$(check_arrived "$T/out.log" 4001 6000) || fail "rows 4001-6000: $dups"
say "every row arrived, $dups again"
((dups <= 128)) || fail "$dups duplicates, more than one window"

say "scene: a collector with a certificate from another CA gets nothing"
kill -9 $rs_pid; wait $rs_pid 2>/dev/null || true
start_rsyslog "$T/other" "$T/other.log"
"$fill" 10
for _ in $(seq 1 200); do
  "$ctl" status | grep -q "not trusted" && break
  sleep 0.05
done
line=$("$ctl" status | tail -1)
[[ $line == *"not trusted"* ]] || fail "status does not say why: $line"
grep -q "not trusted" "$T/service.log" || fail "no diagnostic line on the untrusted collector"
[[ ! -s $T/other.log ]] || fail "the untrusted collector received rows"
[[ "$(pending)" == "10" ]] || fail "pending with an untrusted collector: $(pending)"
say "refused: $line"

# Points the shipper at `port` and reloads: a changed value starts it afresh (back-off at 1 s).
point_to() {  # port
  "$ctl" reg add 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v Port /t REG_DWORD /d "$1" >/dev/null
  "$ctl" reload || fail "reload"
}
# Waits until the status line holds `text`.
wait_status() {  # text
  for _ in $(seq 1 200); do
    "$ctl" status | grep -q "$1" && return 0
    sleep 0.05
  done
  fail "status never said '$1': $("$ctl" status | tail -1)"
}

say "scene: a collector whose certificate names another host gets nothing"
kill -9 $rs_pid; wait $rs_pid 2>/dev/null || true
start_rsyslog "$T/good" "$T/other.log" 20516 elsewhere
point_to 20516
wait_status "not trusted: hostname mismatch"
[[ ! -s $T/other.log ]] || fail "the collector for another name received rows"
say "refused: $("$ctl" status | tail -1)"

say "scene: an anonymous TLS server (no certificate) is refused"
python3 - 20517 >"$T/anon.log" 2>&1 <<'PY' &
import socket, ssl, sys
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.maximum_version = ssl.TLSVersion.TLSv1_2
ctx.set_ciphers("aNULL:@SECLEVEL=0")
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", int(sys.argv[1])))
srv.listen(4)
while True:
    conn, _ = srv.accept()
    try:
        tls = ctx.wrap_socket(conn, server_side=True)
        print("handshake completed", flush=True)
        tls.recv(4096)
    except Exception as e:
        print("refused:", e, flush=True)
    conn.close()
PY
anon_pid=$!
for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/20517) 2>/dev/null && break; sleep 0.05; done
point_to 20517
wait_status "handshake with the collector failed"
kill $anon_pid 2>/dev/null || true; wait $anon_pid 2>/dev/null || true
! grep -q "handshake completed" "$T/anon.log" || fail "a handshake without a server certificate completed"
say "refused: $("$ctl" status | tail -1)"

say "scene: a collector that asks for a client certificate"
start_rsyslog "$T/good" "$T/client.log" 20518 server 'tls.authMode="certvalid"'
point_to 20518
"$fill" 5
sleep 1
[[ ! -s $T/client.log ]] || fail "rows arrived without a client certificate"
"$ctl" reg add 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v ClientCert /t REG_SZ /d "$T/good/server.pem" >/dev/null
"$ctl" reg add 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v ClientKey /t REG_SZ /d "$T/good/server.key" >/dev/null
"$ctl" reload || fail "reload"
wait_pending_zero 30
check_arrived "$T/client.log" 6001 6015 >/dev/null || fail "rows 6001-6015 with a client certificate"
"$ctl" reg delete 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v ClientCert /f >/dev/null 2>&1 ||
  "$ctl" reg delete 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v ClientCert >/dev/null
say "client certificate accepted"

say "scene: a collector that answers garbage and one that closes mid-frame"
kill -9 $rs_pid; wait $rs_pid 2>/dev/null || true
rs_pid=
GPORT=20515
python3 - "$T/good" $GPORT >"$T/garbage.log" 2>&1 <<'PY' &
import socket, ssl, sys
d, port = sys.argv[1], int(sys.argv[2])
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(d + "/server.pem", d + "/server.key")
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", port))
srv.listen(4)
answers = [b"HTTP/1.1 400 Bad Request\r\n\r\n", b"1 rsp 92 200 OK\nrelp_ver"]
for i in range(4):
    conn, _ = srv.accept()
    try:
        tls = ctx.wrap_socket(conn, server_side=True)
        tls.recv(4096)
        tls.sendall(answers[i % 2])
        print("answered", i, flush=True)
        tls.close()
    except Exception as e:
        print("error", e, flush=True)
PY
garbage_pid=$!
for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/$GPORT) 2>/dev/null && break; sleep 0.05; done
# A new port makes the reload start the shipper afresh, its back-off at 1 s again.
"$ctl" reg add 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v Port /t REG_DWORD /d $GPORT >/dev/null
"$ctl" reload || fail "reload"
for _ in $(seq 1 400); do
  [[ $(grep -c answered "$T/garbage.log" 2>/dev/null) -ge 2 ]] && break
  sleep 0.05
done
[[ $(grep -c answered "$T/garbage.log") -ge 2 ]] || fail "the shipper did not come back after garbage: $(cat "$T/garbage.log")"
[[ "$("$ctl" status | head -1)" == "4 RUNNING" ]] || fail "service not running after garbage"
kill $garbage_pid 2>/dev/null || true; wait $garbage_pid 2>/dev/null || true
say "reconnected after garbage; $("$ctl" status | tail -1)"
start_rsyslog "$T/good" "$T/out.log"
"$ctl" reg add 'HKLM\SOFTWARE\Tovrel\AuditCollector' /v Port /t REG_DWORD /d $PORT >/dev/null
"$ctl" reload || fail "reload"
wait_pending_zero 90
"$fill" 5
wait_pending_zero 30
check_arrived "$T/out.log" 6016 6020 >/dev/null || fail "rows 6016-6020 after the faults"
say "ok"
