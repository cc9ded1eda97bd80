#!/usr/bin/env bash
# Runs the command blocks of README.md (its ```sh blocks) one after the other in one shell, as a
# new user would type them at the top of a checkout, and fails at the first command that fails.
# Left out: blocks that build, install packages, or run the whole test suite, the demo, CI or the
# benchmarks; and, when pcscd with vpcd or SoftHSM2 is not installed, the blocks that need them.
# The blocks' /tmp/corvane becomes a temporary directory and their build/default the tree under
# test. Runs in a mount and network namespace of its own, so that the service's fixed ports and
# pcscd's socket directory collide with nothing on the machine; exits 77 (skipped) when none can
# be made.
#   readme_commands_test.sh SOURCE-DIR BUILD-DIR
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)

if [[ -z "${CORVANE_IN_NS:-}" ]]; then
  if ! unshare --mount --net --propagation private true 2>/dev/null; then
    echo "SKIP: unshare --mount --net is not permitted here; the README's commands need namespaces of their own"
    exit 77
  fi
  exec env CORVANE_IN_NS=1 unshare --mount --net --propagation private \
    bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi

work=$(mktemp -d /tmp/corvane-readme.XXXXXX)
cleanup() {
  # Whatever the blocks left running: their background jobs and the card player's cards.
  local p f
  if [[ -f $work/pids ]]; then
    while read -r p; do kill "$p" 2>/dev/null || true; done <"$work/pids"
  fi
  for f in "$work"/corvane-cards/*.pid; do
    [[ -f $f ]] && kill "$(cat "$f")" 2>/dev/null || true
  done
  sleep 0.2
  umount /run/pcscd 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# pcscd's socket directory, private to this mount namespace.
mkdir -p /run/pcscd "$work/pcscd"
mount --bind "$work/pcscd" /run/pcscd

have_cards=1
command -v pcscd >/dev/null && [[ -f /usr/lib/pcsc/drivers/serial/libifdvpcd.so ]] || have_cards=0
have_softhsm=1
command -v softhsm2-util >/dev/null || have_softhsm=0

# The blocks, each as "line<TAB>text" records separated by NUL bytes.
script=$work/readme.sh
{
  echo 'set -euo pipefail'
  echo "trap 'jobs -p >>\"$work/pids\"' EXIT"
  echo "cd '$source_dir'"
} >"$script"
blocks=0
run=0
while IFS= read -r -d '' record; do
  line=${record%%$'\t'*}
  text=${record#*$'\t'}
  blocks=$((blocks + 1))
  why=
  if grep -Eq 'scripts/(test|demo|bench|windows-ci|install-deps)\.sh|\.ci/run|apt-get|(^|[ ;&(])(ctest|cmake) ' <<<"$text"; then
    why="builds, installs or runs a suite"
  elif ((!have_cards)) && grep -Eq 'pcscd|corvane-card' <<<"$text"; then
    why="pcscd with vpcd is not installed"
  elif ((!have_softhsm)) && grep -q 'softhsm2' <<<"$text"; then
    why="SoftHSM2 is not installed"
  fi
  if [[ -n $why ]]; then
    echo "README.md:$line: left out ($why)"
    continue
  fi
  run=$((run + 1))
  {
    echo "echo '--- README.md:$line'"
    printf '%s\n' "$text" | sed -e "s#\(\\\$PWD/\)\{0,1\}build/default#$build_dir#g" -e "s#/tmp/corvane#$work/corvane#g"
  } >>"$script"
done < <(awk '
  /^```sh[[:space:]]*$/ { inblock = 1; start = NR + 1; text = ""; next }
  /^```/ && inblock { inblock = 0; printf "%d\t%s%c", start, text, 0; next }
  inblock { text = text $0 "\n" }
' "$source_dir/README.md")

((blocks > 0)) || { echo "FAIL: no command blocks found in README.md"; exit 1; }
echo "running $run of the README's $blocks command blocks"
if ! bash "$script" >"$work/out" 2>&1; then
  cat "$work/out"
  echo "FAIL: the README's commands stopped at the block above (service output follows)"
  cat "$work"/corvane*.log 2>/dev/null || true
  exit 1
fi
cat "$work/out"
echo "README commands: all blocks ran"
