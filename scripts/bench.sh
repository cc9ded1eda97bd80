#!/usr/bin/env bash
# Builds corvane_bench in an optimised build (build/release) and runs it; arguments go to the
# benchmark binary (e.g. --benchmark_filter=Rsa). After the run it prints, for every operation
# measured as <Operation>/corvane and <Operation>/<peer>, the ratio of our time over the peer's.
#   OPENSSL_ia32cap="~0x200000200000000" bash scripts/bench.sh   runs OpenSSL without AES-NI
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF \
  >build/release.configure.log 2>&1 || { cat build/release.configure.log; exit 1; }
cmake --build build/release --target corvane_bench -j "$(nproc)" >build/release.build.log 2>&1 ||
  { tail -50 build/release.build.log; exit 1; }
exec build/release/bin/corvane_bench "$@"
