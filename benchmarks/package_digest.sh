#!/usr/bin/env bash
# Package digest: throughput and peak memory of the helper's streaming SHA-256
# (through the publisher's tool, which runs the same code) on packages of
# growing size, beside coreutils' sha256sum. Peak memory must not grow with the
# package size. Prints one row per run.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
command -v /usr/bin/time >/dev/null || { echo "needs GNU time (Debian package 'time')" >&2; exit 1; }

# Its development-key warning is expected here: nothing is released from this tree.
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOSTRANE_TESTS=OFF >/dev/null 2>&1
ninja -C build/bench vostrane-sign >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {
  local label=$1 file=$2 mib=$3
  shift 3
  local stats wall rss
  stats=$({ /usr/bin/time -f '%e %M' "$@" "$file" >/dev/null; } 2>&1 | tail -n 1)
  read -r wall rss <<<"$stats"
  awk -v l="$label" -v m="$mib" -v w="$wall" -v r="$rss" \
    'BEGIN { if (w > 0) t = sprintf("%9.1f MiB/s", m / w); else t = sprintf("%15s", "too fast"); printf "%-22s %6d MiB %8.2f s %s %8d KiB peak\n", l, m, w, t, r }'
}

printf '%-22s %10s %10s %15s %13s\n' "command" "package" "wall" "throughput" "memory"
for mib in 1 64 512; do
  file="$work/package-$mib.msi"
  head -c "$((mib * 1024 * 1024))" /dev/urandom >"$file"
  # Two rounds each; the first also warms the page cache.
  for _ in 1 2; do
    measure "vostrane-sign digest" "$file" "$mib" build/bench/vostrane-sign digest
    measure "sha256sum" "$file" "$mib" sha256sum
  done
  rm -f "$file"
done
