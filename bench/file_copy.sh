#!/usr/bin/env bash
# A file copy between two copies of the window on two hosts (network
# namespaces joined by a veth pair, the real ports), against cp of the same
# file and netcat over the same link; the peak memory of each copy; and the
# cost per row of a run of many small files. Needs root.
# Each contender runs ROUNDS times and its best time counts: on a shared
# virtual machine the cost of memory and disk swings widely between runs.
# Usage: bench/file_copy.sh DRIVER [MiB] [small-files] [rounds]   (defaults 1024, 100, 3)
set -u
driver=$(realpath "$1")
mib=${2:-1024}
small=${3:-100}
rounds=${4:-3}
best() { sort -n | head -n 1; }
source "$(dirname "$0")/../services/tests/netns.sh"
now() { date +%s%3N; }
field() { awk -v s="$2" '$1 == "at" && $2 == s { print $'"$3"'; exit }' "$1"; }
peak() { awk '$1 == "peak-kib" { print $2 }' "$1"; }

mkdir -p "$work/src" "$work/cp" "$work/nc" "$work/in" "$work/a" "$work/b"
head -c "$((mib * 1048576))" /dev/urandom > "$work/src/big.bin"
cat "$work/src/big.bin" > /dev/null # warm for every contender

for r in $(seq "$rounds"); do
  t0=$(now); cp "$work/src/big.bin" "$work/cp/big.bin"; t1=$(now)
  sync -d "$work/cp/big.bin"; t2=$(now)
  echo "$((t1 - t0)) $((t2 - t0))" >> "$work/cp.times"
  rm -f "$work/cp/big.bin"
done
cp_ms=$(awk '{ print $1 }' "$work/cp.times" | best)
cpsync_ms=$(awk '{ print $2 }' "$work/cp.times" | best)

for r in $(seq "$rounds"); do
  on "$beta" beta sh -c "nc -l 10.213.0.2 5999 > '$work/nc/big.bin'" &
  nc_pid=$!
  sleep 0.5
  t0=$(now); on "$alpha" alpha nc -N 10.213.0.2 5999 < "$work/src/big.bin"; wait $nc_pid; t1=$(now)
  echo "$((t1 - t0))" >> "$work/nc.times"
  rm -f "$work/nc/big.bin"
done
nc_ms=$(best < "$work/nc.times")

copy() { # files... : alpha sends them to beta; prints the run's times
  local n=$#
  local adds=()
  for f in "$@"; do adds+=(add "$f"); done
  rm -rf "$work/in" "$work/a" "$work/b"; mkdir -p "$work/in" "$work/a" "$work/b"
  on "$beta" beta "$driver" "$work/b/" timeout 600 folder "$work/in" wait-peer wait-files "$n" wait-received "$n" \
    > /dev/null 2> "$work/beta.err" &
  local beta_pid=$!
  sleep 1
  on "$alpha" alpha "$driver" "$work/a/" timeout 600 connect beta wait-peer "${adds[@]}" send wait-sent \
    > /dev/null 2> "$work/alpha.err" || { echo "alpha failed: $(tail -n 5 "$work/alpha.err") / beta: $(tail -n 5 "$work/beta.err")"; exit 1; }
  wait $beta_pid || { echo "beta failed: $(tail -n 5 "$work/beta.err")"; exit 1; }
}

unset DISPLAY
for r in $(seq "$rounds"); do
  copy "$work/src/big.bin"
  cmp -s "$work/src/big.bin" "$work/in/big.bin" || { echo "the copy differs"; exit 1; }
  clicked=$(field "$work/alpha.err" send 3)
  stored=$(field "$work/beta.err" wait-files 4)
  # The run waits one tick (1000 ms) before its first row.
  echo "$((stored - clicked - 1000))" >> "$work/dz.times"
  peak "$work/alpha.err" >> "$work/alpha.peaks"
  peak "$work/beta.err" >> "$work/beta.peaks"
done
dz_ms=$(best < "$work/dz.times")
echo "best of $rounds rounds (all rounds: dizaruz $(paste -sd' ' "$work/dz.times"), cp $(awk '{ print $1 }' "$work/cp.times" | paste -sd' '), netcat $(paste -sd' ' "$work/nc.times") ms)"
echo "file copy of $mib MiB over the link:"
echo "  dizaruz  ${dz_ms} ms (click to file stored, less the 1000 ms tick before the row)"
echo "  cp       ${cp_ms} ms, with the copy flushed to disk ${cpsync_ms} ms (dizaruz flushes)"
echo "  netcat   ${nc_ms} ms"
awk -v d="$dz_ms" -v c="$cp_ms" -v s="$cpsync_ms" -v n="$nc_ms" 'BEGIN {
  printf "  ratios   %.2f x cp, %.2f x cp with flush, %.2f x netcat\n", d / c, d / s, d / n }'
awk -v a="$(sort -n "$work/alpha.peaks" | tail -n 1)" -v b="$(sort -n "$work/beta.peaks" | tail -n 1)" -v m="$mib" 'BEGIN {
  printf "  peak memory: sender %.0f MiB, receiver %.0f MiB (%.2f x the file)\n", a / 1024, b / 1024, b / 1024 / m }'
rm -f "$work/src/big.bin"

files=()
for i in $(seq "$small"); do head -c 10240 /dev/urandom > "$work/src/small$i.bin"; files+=("$work/src/small$i.bin"); done
copy "${files[@]}"
[ "$(ls "$work/in" | wc -l)" -eq "$small" ] || { echo "small files missing"; exit 1; }
run=$(( $(field "$work/alpha.err" wait-sent 4) - $(field "$work/alpha.err" send 3) ))
awk -v r="$run" -v n="$small" 'BEGIN {
  printf "%d files of 10 KB: run %.1f s, %.1f ms per row beyond the 1000 ms tick\n", n, r / 1000, (r - (n + 1) * 1000) / n }'
