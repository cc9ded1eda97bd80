#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/debian-packages.txt (and, with --windows, the
# cross compiler and Wine) when any is missing. Safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=("$here/debian-packages.txt")
[[ "${1:-}" == "--windows" ]] && lists+=("$here/debian-packages-windows.txt")
mapfile -t wanted < <(cat "${lists[@]}" 2>/dev/null | sed 's/#.*//' | awk 'NF{print $1}')
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
