#!/usr/bin/env bash
# A file cut at half and sent again between two sessions of ours on
# loopback, against netcat carrying only the rest into a file flushed with
# sync, in the same run. Prints the share of the file the second send moved
# and its time beside netcat's (best of ROUNDS each).
# Usage: bench/resume_copy.sh BUILD_DIR [MiB]   (default 3072; ROUNDS=2 in the environment)
set -u
bin=$(realpath "$1")/bench/resume_bench
mib=${2:-3072}
rounds=${ROUNDS:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
now() { date +%s%3N; }
best() { sort -n | head -n 1; }

src="$work/big.bin"
head -c "$((mib * 1048576))" /dev/urandom > "$src"
cat "$src" > /dev/null
: > "$work/nc.times"; : > "$work/dz.times"
for _ in $(seq "$rounds"); do
  rm -rf "$work/in"; mkdir -p "$work/in"
  "$bin" "$src" "$work/in" > "$work/dz.out" || { echo "resume_bench failed"; exit 1; }
  cmp -s "$src" "$work/in/big.bin" || { echo "THE COPY DIFFERS"; exit 1; }
  rest=$(awk '$1 == "rest" { print $2 }' "$work/dz.out")
  awk '$1 == "ms" { print $2 }' "$work/dz.out" >> "$work/dz.times"
  rm -rf "$work/in"
  # netcat: the same rest, from a file of its own in the cache, into a flushed file.
  tail -c "$rest" "$src" > "$work/rest.bin"
  cat "$work/rest.bin" > /dev/null
  out="$work/nc.bin"
  rm -f "$out" "$work/nc.done"
  sh -c "nc -l 127.0.0.1 5998 > '$out' && sync '$out' && date +%s%3N > '$work/nc.done'" &
  pid=$!
  sleep 0.5
  t0=$(now)
  nc -N 127.0.0.1 5998 < "$work/rest.bin"
  wait $pid
  rm -f "$work/rest.bin"
  echo $(( $(cat "$work/nc.done") - t0 )) >> "$work/nc.times"
  rm -f "$out"
done
head -n 1 "$work/dz.out"
nc_ms=$(best < "$work/nc.times"); dz_ms=$(best < "$work/dz.times")
printf '%s MiB cut at half, sent again (best of %s): dizaruz stored and flushed in %s ms; netcat for the rest alone %s ms = %.2f x netcat\n' \
  "$mib" "$rounds" "$dz_ms" "$nc_ms" "$(awk -v a="$dz_ms" -v b="$nc_ms" 'BEGIN { print a / b }')"
printf '  all rounds: dizaruz %s; netcat %s ms\n' "$(paste -sd' ' "$work/dz.times")" "$(paste -sd' ' "$work/nc.times")"
