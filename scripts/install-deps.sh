#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/debian-packages.txt (and, with --windows, the
# cross compiler and Wine) when any is missing. Safe to run again. Fails when a package list is
# missing or a package cannot be installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=("$here/debian-packages.txt")
case "${1:-}" in
  "") ;;
  --windows) lists+=("$here/debian-packages-windows.txt") ;;
  *) echo "install-deps: unknown argument '$1' (only --windows)" >&2; exit 2 ;;
esac
for list in "${lists[@]}"; do
  [[ -f $list && -r $list ]] || { echo "install-deps: package list $list is missing" >&2; exit 1; }
done
# A command substitution, not a process substitution: under set -e a failing read stops here.
packages=$(sed 's/#.*//' "${lists[@]}" | awk 'NF{print $1}')
mapfile -t wanted <<<"$packages"
missing=()
for p in "${wanted[@]}"; do
  [[ -n $p ]] || continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
