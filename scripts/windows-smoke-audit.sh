# The running service under Wine ships its audit rows to rsyslog on Linux over RELP and TLS, the
# collector's certificate verified by the service's SChannel stream through CryptoAPI against a CA
# file. Sourced by scripts/windows-smoke.sh after the phone's logon report (which wrote an audit
# row), while the service runs; uses its run, fail and wait_state. The collector listens on the
# loopback of the network namespace the wineserver runs in.

if ! command -v rsyslogd >/dev/null || [[ -z "$(find /usr/lib -name imrelp.so 2>/dev/null | head -1)" ]]; then
  echo "SKIP audit upload: rsyslogd with imrelp is not installed (Debian packages rsyslog, rsyslog-relp)"
  return 0
fi
audit_dir=$logs/audit
mkdir -p "$audit_dir"
audit_port=20514
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$audit_dir/ca.key" -out "$audit_dir/ca.pem" -days 2 \
  -subj "/CN=Wine stage CA" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$audit_dir/server.key" -out "$audit_dir/server.csr" -subj "/CN=localhost" 2>/dev/null
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >"$audit_dir/ext"
openssl x509 -req -in "$audit_dir/server.csr" -CA "$audit_dir/ca.pem" -CAkey "$audit_dir/ca.key" -CAcreateserial \
  -out "$audit_dir/server.pem" -days 2 -extfile "$audit_dir/ext" 2>/dev/null
mkdir -p "$audit_dir/work"
cat >"$audit_dir/rsyslog.conf" <<CONF
global(workDirectory="$audit_dir/work")
module(load="imrelp" tls.tlslib="openssl")
main_queue(queue.type="Direct")
template(name="sd" type="string" string="%structured-data%\n")
input(type="imrelp" port="$audit_port" address="127.0.0.1" tls="on" tls.caCert="$audit_dir/ca.pem" tls.myCert="$audit_dir/server.pem" tls.myPrivKey="$audit_dir/server.key")
*.* action(type="omfile" file="$audit_dir/received.log" template="sd" flushOnTXEnd="on")
CONF
rsyslogd -n -iNONE -f "$audit_dir/rsyslog.conf" >"$audit_dir/rsyslog.log" 2>&1 &
audit_rsyslog=$!
for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/$audit_port) 2>/dev/null && break; sleep 0.05; done

collector_key='HKLM\SOFTWARE\Tovrel\AuditCollector'
run reg add "$collector_key" /v Enabled /t REG_DWORD /d 1 /f
run reg add "$collector_key" /v Host /t REG_SZ /d localhost /f
run reg add "$collector_key" /v Port /t REG_DWORD /d $audit_port /f
run reg add "$collector_key" /v CaFile /t REG_SZ /d "Z:${audit_dir//\//\\}\\ca.pem" /f
expect_rc 0 "reg add CaFile"
# The service's own control 200 rereads the values (sc control Corvane 200 on Windows). Wine's sc
# does not know "control": the test's own program sends it through ControlService; without that
# program the service is restarted to read the values at its start.
if [[ -f $build/bin/win32_service_control.exe ]]; then
  run "$build/bin/win32_service_control.exe" Corvane 200
else
  rc=1
fi
if [[ $rc -ne 0 ]]; then
  echo "control 200 was not delivered (exit code $rc): restarting the service to read the values"
  run net stop Corvane
  wait_state 1 STOPPED
  for _ in $(seq 1 100); do service_process_running || break; sleep 0.2; done
  run net start Corvane
  expect_rc 0 "net start Corvane (collector configured)"
  wait_state 4 RUNNING
fi
for _ in $(seq 1 200); do grep -q 'corvane@32473' "$audit_dir/received.log" 2>/dev/null && break; sleep 0.1; done
grep -q 'event_type="101"' "$audit_dir/received.log" 2>/dev/null ||
  { kill -9 $audit_rsyslog; cat "$audit_dir/rsyslog.log"; fail "rsyslog received no audit row from corvane.exe"; }
grep -q 'user_name="anna"' "$audit_dir/received.log" || fail "the row lacks its user: $(head -1 "$audit_dir/received.log")"
echo "corvane.exe shipped its audit row to rsyslog over TLS: $(head -1 "$audit_dir/received.log" | cut -c1-160)"
kill -9 $audit_rsyslog 2>/dev/null || true
wait $audit_rsyslog 2>/dev/null || true
run reg add "$collector_key" /v Enabled /t REG_DWORD /d 0 /f
