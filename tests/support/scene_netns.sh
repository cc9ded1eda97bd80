# Sourced first by the scene tests (bash, set -euo pipefail): re-runs the calling script in a
# network namespace of its own with its loopback up, so that the service program's fixed ports
# collide with nothing else on the machine. Exits 77 (skipped) when no namespace can be made.
if [[ -z "${CORVANE_IN_NETNS:-}" ]]; then
  if ! unshare --net true 2>/dev/null; then
    echo "SKIP: unshare --net is not permitted here; the scene needs a network namespace of its own"
    exit 77
  fi
  exec env CORVANE_IN_NETNS=1 unshare --net bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi

# wait_running CTL: waits up to 10 s for the service to report RUNNING; false when it does not.
wait_running() {
  for _ in $(seq 1 200); do [[ "$("$1" status 2>/dev/null)" == "4 RUNNING" ]] && return 0; sleep 0.05; done
  return 1
}
