#!/usr/bin/env bash
# One file through the stream service between two processes, stored through
# the file sink and flushed before the reply, against netcat into a file
# flushed with sync, in the same run: on loopback and between the two
# network namespaces of services/tests/netns.sh. Prints each time (best of
# ROUNDS) and each side's peak memory. Needs root for the namespaces.
# Usage: bench/stream_copy.sh BUILD_DIR [MiB ...] (default 1024 3072; ROUNDS=2 and WHERE="loopback link"
# in the environment)
set -u
bin=$(realpath "$1")/bench/stream_bench
shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024 3072)
rounds=${ROUNDS:-2}
source "$(dirname "$0")/../services/tests/netns.sh"
now() { date +%s%3N; }
best() { sort -n | head -n 1; }

# where: "loopback" (this namespace, 127.0.0.1) or "link" (alpha sends to beta)
run_in() { local where=$1 ns=$2 name=$3; shift 3; if [ "$where" = loopback ]; then "$@"; else on "$ns" "$name" "$@"; fi; }
addr() { [ "$1" = loopback ] && echo 127.0.0.1 || echo 10.213.0.2; }

netcat() { # where file -> prints ms from the start of the send to the end of the receiver's flush
  local where=$1 src=$2 out="$work/nc/received.bin"
  rm -f "$out" "$work/nc.done"
  run_in "$where" "$beta" beta sh -c "nc -l $(addr "$where") 5999 > '$out' && sync '$out' && date +%s%3N > '$work/nc.done'" &
  local pid=$!
  sleep 0.5
  local t0; t0=$(now)
  run_in "$where" "$alpha" alpha nc -N "$(addr "$where")" 5999 < "$src"
  wait $pid
  echo $(( $(cat "$work/nc.done") - t0 ))
}

dizaruz() { # where file mode [sendfile|read|hash] -> prints ms; leaves the two sides' reports in $work/dz.*
  local where=$1 src=$2 mode=$3 sending=${4:-sendfile}
  rm -f "$work/dz/received.bin"
  run_in "$where" "$beta" beta "$bin" receive 0 "$work/dz/" "$mode" > "$work/dz.recv" 2>&1 &
  local pid=$!
  for _ in $(seq 50); do grep -q '^listening' "$work/dz.recv" && break; sleep 0.1; done
  local port; port=$(awk '/^listening/ { print $2 }' "$work/dz.recv")
  local t0; t0=$(now)
  run_in "$where" "$alpha" alpha "$bin" send "$(addr "$where")" "$port" "$src" "$sending" > "$work/dz.send" 2>&1 || { echo "send failed: $(cat "$work/dz.send")" >&2; }
  local t1; t1=$(now)
  wait $pid
  cmp -s "$src" "$work/dz/received.bin" || echo "THE COPY DIFFERS" >&2
  echo $(( t1 - t0 ))
}
peak() { sed -n 's/.*peak memory \([0-9]*\) MiB.*/\1/p' "$1"; }

mkdir -p "$work/nc" "$work/dz"
for mib in "${sizes[@]}"; do
  src="$work/src.bin"
  head -c "$((mib * 1048576))" /dev/urandom > "$src"
  cat "$src" > /dev/null
  for where in ${WHERE:-loopback link}; do
    : > "$work/nc.times"; : > "$work/dzc.times"; : > "$work/dzd.times"; : > "$work/dzr.times"; : > "$work/dzh.times"
    rp=0; sp=0
    for _ in $(seq "$rounds"); do
      netcat "$where" "$src" >> "$work/nc.times"
      rm -f "$work/nc/received.bin"
      dizaruz "$where" "$src" cached >> "$work/dzc.times"
      r=$(peak "$work/dz.recv"); s=$(peak "$work/dz.send")
      [ "${r:-0}" -gt "$rp" ] && rp=$r; [ "${s:-0}" -gt "$sp" ] && sp=$s
      if [ "$mib" -le 1024 ]; then
        dizaruz "$where" "$src" direct >> "$work/dzd.times"
        dizaruz "$where" "$src" cached read >> "$work/dzr.times"
        dizaruz "$where" "$src" cached hash >> "$work/dzh.times"
      fi
      rm -f "$work/dz/received.bin"
    done
    nc_ms=$(best < "$work/nc.times"); dz_ms=$(best < "$work/dzc.times")
    printf '%s MiB over %s (best of %s): netcat into a flushed file %s ms; dizaruz stored and flushed %s ms = %.2f x netcat' \
      "$mib" "$where" "$rounds" "$nc_ms" "$dz_ms" "$(awk -v a="$dz_ms" -v b="$nc_ms" 'BEGIN { print a / b }')"
    if [ -s "$work/dzd.times" ]; then
      dd_ms=$(best < "$work/dzd.times")
      printf '; with O_DIRECT writes %s ms = %.2f x netcat' "$dd_ms" "$(awk -v a="$dd_ms" -v b="$nc_ms" 'BEGIN { print a / b }')"
      dr_ms=$(best < "$work/dzr.times")
      printf '; sent with reads instead of sendfile %s ms' "$dr_ms"
      dh_ms=$(best < "$work/dzh.times")
      printf '; with XXH3-128 on both sides (Hash) %s ms = %.2f x without, %.2f x netcat' "$dh_ms" \
        "$(awk -v a="$dh_ms" -v b="$dz_ms" 'BEGIN { print a / b }')" "$(awk -v a="$dh_ms" -v b="$nc_ms" 'BEGIN { print a / b }')"
    fi
    printf '\n  all rounds: netcat %s; dizaruz %s; O_DIRECT %s; reads %s; hashed %s ms; peak memory: sender %s MiB, receiver %s MiB\n' \
      "$(paste -sd' ' "$work/nc.times")" "$(paste -sd' ' "$work/dzc.times")" "$(paste -sd' ' "$work/dzd.times")" \
      "$(paste -sd' ' "$work/dzr.times")" "$(paste -sd' ' "$work/dzh.times")" "$sp" "$rp"
  done
  rm -f "$src"
done
