#!/usr/bin/env bash
# Fuzzes each target for a given time or number of runs and prints, per
# target: the runs, runs per second, libFuzzer's coverage of the corpus
# (edges and features), the lines and branches of the code under fuzz that
# the corpus reaches (when llvm-cov, Debian package llvm, is there), and
# every finding.
# The corpus grows in build-fuzz/work/<target>, seeded from
# fuzz/corpus/<target> and kept between runs; findings (crash-, timeout-,
# leak-, oom- files) go to build-fuzz/findings/. A finding worth keeping
# goes into fuzz/corpus/<target>/ by hand, once fixed.
#
# Usage: bench/fuzz.sh [-t SECONDS | -n RUNS] [-j PROCESSES] [TARGET...]
#   -t  fuzzing time per target (default 60)
#   -n  runs per target instead of a time
#   -j  processes per target, sharing the corpus (default 1)
# Targets: message_framing stream_framing extract_field peer_core pins (default all).
# Runs under nice -n 10: the machine is shared.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '/^# Usage/,/^# Runs/p' "$0" | sed 's/^# \{0,1\}//' >&2; }
seconds=60
runs=""
processes=1
while getopts "t:n:j:h" option; do
  case $option in
    t) seconds=$OPTARG ;;
    n) runs=$OPTARG ;;
    j) processes=$OPTARG ;;
    *) usage; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(message_framing stream_framing extract_field peer_core pins)

build=build-fuzz
CC=clang CXX=clang++ cmake -S fuzz -B "$build" -G Ninja > /dev/null
nice -n 10 cmake --build "$build" --parallel 2 > /dev/null
coverage=""
if command -v llvm-cov > /dev/null && command -v llvm-profdata > /dev/null; then
  coverage="$build-cov"
  CC=clang CXX=clang++ cmake -S fuzz -B "$coverage" -G Ninja -DDIZARUZ_FUZZ_COVERAGE=ON > /dev/null
  nice -n 10 cmake --build "$coverage" --parallel 2 > /dev/null
fi

sources_of() {
  case $1 in
    message_framing | stream_framing) echo services/framing.cpp ;;
    extract_field) echo util/text.cpp ;;
    peer_core) echo peer/core.cpp util/text.cpp ;;
    pins) echo peer/pins.cpp util/text.cpp ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  exe="$build/${target}_fuzz"
  [ -x "$exe" ] || { echo "no target $target" >&2; exit 2; }
  work="$build/work/$target"
  findings="$build/findings"
  mkdir -p "$work" "$findings"
  marker="$build/work/$target.started"
  touch "$marker"
  if [ -n "$runs" ]; then
    limit=(-runs=$(((runs + processes - 1) / processes)))
  else
    limit=(-max_total_time="$seconds")
  fi
  dictionary=()
  [ -f "fuzz/$target.dict" ] && dictionary=(-dict="fuzz/$target.dict")
  start=$(date +%s.%N)
  pids=()
  for ((k = 0; k < processes; ++k)); do
    nice -n 10 "$exe" "${limit[@]}" "${dictionary[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" "$work" "fuzz/corpus/$target" > "$build/work/$target.$k.log" 2>&1 &
    pids+=($!)
  done
  failed=0
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
  end=$(date +%s.%N)

  executed=$(cat "$build/work/$target".*.log | awk '/stat::number_of_executed_units/ {n += $2} END {print n + 0}')
  rate=$(awk -v n="$executed" -v a="$start" -v b="$end" 'BEGIN {printf "%.0f", n / (b - a)}')
  wall=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.0f", b - a}')
  # The whole corpus once more: what it covers now.
  inited=$(nice -n 10 "$exe" -runs=0 "$work" 2>&1 | grep -o 'INITED cov: [0-9]* ft: [0-9]* corp: [0-9]*/[0-9]*[a-zA-Z]*' | tail -1 || true)
  echo "$target: $executed runs in $wall s ($rate runs/s, $processes process(es)); corpus ${inited#INITED }"
  if [ -n "$coverage" ]; then
    profile="$coverage/$target"
    rm -f "$profile.profraw"
    LLVM_PROFILE_FILE="$profile.profraw" "$coverage/${target}_fuzz" -runs=0 "$work" > /dev/null 2>&1 || true
    if [ -f "$profile.profraw" ]; then
      llvm-profdata merge -sparse "$profile.profraw" -o "$profile.profdata"
      # shellcheck disable=SC2046
      llvm-cov report "$coverage/${target}_fuzz" -instr-profile="$profile.profdata" $(sources_of "$target") |
        awk 'NR > 2 && $1 !~ /^-/ && NF >= 13 {
               printf "  %-22s lines %s (%d of %d missed), branches %s (%d of %d missed)\n", $1, $10, $9, $8, $13, $12, $11 }'
    fi
  fi
  found=$(find "$findings" -name "$target-*" -newer "$marker" | sort)
  if [ -n "$found" ] || [ $failed -ne 0 ]; then
    status=1
    echo "  FINDINGS:"
    grep -h -E 'invariant broken|runtime error|ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|SUMMARY' "$build/work/$target".*.log | sort -u | sed 's/^/    /'
    for f in $found; do echo "    $f"; done
  else
    echo "  findings: none"
  fi
done
exit $status
