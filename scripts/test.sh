#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite through CTest:
# every test in the normal build, then the lower layers again under
# ThreadSanitizer (notifications, flags and connection threads cross threads
# there) and under AddressSanitizer with UndefinedBehaviorSanitizer, and
# last every fuzz target over its seed corpus (built with clang apart from
# the rest; bench/fuzz.sh does the fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
scripts/setup.sh
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j2)

for sanitizer in thread address; do
  dir="build-$sanitizer"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDIZARUZ_WITH_APP=OFF -DDIZARUZ_BENCHMARKS=OFF -DDIZARUZ_SANITIZE="$sanitizer" > /dev/null
  cmake --build "$dir" --parallel "$(nproc)"
  (cd "$dir" && TSAN_OPTIONS="halt_on_error=1 suppressions=$top/scripts/tsan.supp" ctest --output-on-failure --timeout 300 -j2)
done

CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja > /dev/null
cmake --build build-fuzz --parallel "$(nproc)"
(cd build-fuzz && ctest --output-on-failure --timeout 120)
