#!/usr/bin/env bash
# File copies between two copies of the window on two hosts (network
# namespaces joined by a veth pair, the real ports), each measured against a
# yardstick in the same run, since this machine is shared and noisy:
#
#   1. one large file each way, against netcat into a file flushed with sync;
#      the peak memory of each side; what the progress display cost;
#   2. one file three times as large: the peak memory of each side;
#   3. many small files, against cp of the same files followed by sync;
#   4. ten files of a tenth of the large size, against the one large file.
#
# Each contender runs ROUNDS times and its best time counts. Needs root.
# Usage: bench/file_copy.sh DRIVER [MiB] [small-files] [rounds]   (defaults 1024, 1000, 2)
set -u
driver=$(realpath "$1")
mib=${2:-1024}
small=${3:-1000}
rounds=${4:-2}
source "$(dirname "$0")/copyutil.sh"

mkdir -p "$work/src" "$work/nc" "$work/cp"
head -c "$((mib * 1048576))" /dev/urandom > "$work/src/big.bin"
cat "$work/src/big.bin" > /dev/null # warm for every contender
unset DISPLAY


echo "== 1. $mib MiB, each way, against netcat into a flushed file"
for r in $(seq "$rounds"); do
  on "$beta" beta sh -c "nc -l 10.213.0.2 5999 > '$work/nc/big.bin' && sync '$work/nc/big.bin'" &
  nc_pid=$!
  sleep 0.5
  t0=$(now); on "$alpha" alpha nc -N 10.213.0.2 5999 < "$work/src/big.bin"; wait $nc_pid; t1=$(now)
  echo "$((t1 - t0))" >> "$work/nc.times"
  rm -f "$work/nc/big.bin"
  for dir in "alpha beta" "beta alpha"; do
    set -- $dir
    copy "$1" "$2" "$work/src/big.bin"
    cmp -s "$work/src/big.bin" "$work/in/big.bin" || { echo "the copy differs"; exit 1; }
    echo "$(took)" >> "$work/$1.times"
    echo "$(value "$work/from.err" peak-kib) $(value "$work/to.err" peak-kib)" >> "$work/$1.peaks"
    echo "$(value "$work/from.err" progress-us) $(value "$work/from.err" progress-updates) $(took)" >> "$work/progress"
  done
done
nc_ms=$(best < "$work/nc.times")
for from in alpha beta; do
  ms=$(best < "$work/$from.times")
  to=beta; [ "$from" = beta ] && to=alpha
  awk -v d="$ms" -v n="$nc_ms" -v f="$from" -v t="$to" -v all="$(paste -sd' ' "$work/$from.times")" 'BEGIN {
    printf "  %s -> %s: %d ms (rounds: %s), %.2f x netcat (%d ms)\n", f, t, d, all, d / n, n }'
done
awk '{ a = a > $1 ? a : $1; b = b > $2 ? b : $2 } END {
  printf "  peak memory: sender %.0f MiB, receiver %.0f MiB\n", a / 1024, b / 1024 }' "$work/alpha.peaks" "$work/beta.peaks"
awk '{ us += $1; n += $2; ms += $3 } END {
  printf "  progress display: %d updates, %.0f us each, %.3f %% of the copy time\n", n, us / n, us / 10 / ms }' "$work/progress"
rm -f "$work/in/big.bin"

echo "== 2. $((mib * 3)) MiB: memory does not grow with the file"
head -c "$((mib * 3 * 1048576))" /dev/urandom > "$work/src/huge.bin"
copy alpha beta "$work/src/huge.bin"
cmp -s "$work/src/huge.bin" "$work/in/huge.bin" || { echo "the copy differs"; exit 1; }
awk -v a="$(value "$work/from.err" peak-kib)" -v b="$(value "$work/to.err" peak-kib)" -v t="$(took)" 'BEGIN {
  printf "  %d ms; peak memory: sender %.0f MiB, receiver %.0f MiB\n", t, a / 1024, b / 1024 }'
rm -f "$work/src/huge.bin" "$work/in/huge.bin"

echo "== 3. $small files of 10 KB, against cp of the same files and sync"
mkdir -p "$work/small"
files=()
for i in $(seq "$small"); do head -c 10240 /dev/urandom > "$work/small/f$i.bin"; files+=("$work/small/f$i.bin"); done
for r in $(seq "$rounds"); do
  rm -rf "$work/cp"; mkdir -p "$work/cp"
  t0=$(now); cp "${files[@]}" "$work/cp/" && sync -f "$work/cp"; t1=$(now)
  echo "$((t1 - t0))" >> "$work/cpsmall.times"
  copy alpha beta "${files[@]}"
  [ "$(ls "$work/in" | wc -l)" -eq "$small" ] || { echo "small files missing"; exit 1; }
  echo "$(took)" >> "$work/small.times"
done
awk -v d="$(best < "$work/small.times")" -v c="$(best < "$work/cpsmall.times")" -v n="$small" 'BEGIN {
  printf "  dizaruz %.1f s (%.1f ms a file), cp and sync %.2f s\n", d / 1000, d / n, c / 1000 }'

echo "== 4. ten files of $((mib / 10)) MiB against one of $mib MiB"
parts=()
for i in $(seq 10); do
  head -c "$((mib * 1048576 / 10))" "$work/src/big.bin" > "$work/src/part$i.bin"
  parts+=("$work/src/part$i.bin")
done
for r in $(seq "$rounds"); do
  copy alpha beta "${parts[@]}"
  echo "$(took)" >> "$work/parts.times"
done
awk -v p="$(best < "$work/parts.times")" -v o="$(best < "$work/alpha.times")" 'BEGIN {
  printf "  ten files %d ms, one file %d ms (%.2f x)\n", p, o, p / o }'
