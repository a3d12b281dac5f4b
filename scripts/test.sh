#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite through CTest:
# every test in the normal build, then again under ThreadSanitizer and under
# AddressSanitizer with UndefinedBehaviorSanitizer, and last every fuzz
# target over its seed corpus (built with clang apart from the rest;
# bench/fuzz.sh does the fuzzing).
#
# What each sanitizer build covers, and why:
# - ThreadSanitizer: the lower layers (util, net, services), the models and
#   the session in peer/, and the teardown races (peer.SessionRaces.*,
#   ServerTeardown.*, *WorkerCall*). The window (app/) and the desktop's
#   bus (desktop/) are left out (-DDIZARUZ_WITH_APP=OFF): Debian's Qt is
#   not built for ThreadSanitizer, so the hand-over through Qt's queued
#   events and its D-Bus thread shows as races the sanitizer cannot see the
#   synchronisation of.
# - AddressSanitizer+UBSan: everything, the window and its tests included
#   (offscreen), but the packaging tests (install.*) and the two window
#   tests that drive peer_driver or the discovery probe in network
#   namespaces with their own daemons (app.TwoCopiesOnTwoHosts,
#   app.EncryptedCopies, app.ProxyBetweenPinnedCopies,
#   app.NamesThatDoNotResolve, app.ActivationOnTwoHosts,
#   desktop.DiscoveryBetweenTwoHosts): those build a package or a second
#   program and run for long, and cover nothing the window's own tests do
#   not; they run in the normal build.
#   The walk through the accessibility bus (app.AccessibilityBus) runs in the
#   normal build too: it drives a second program (a11y_harness) through
#   Debian's AT-SPI daemons, whose leaks the sanitizer would report as ours.
# - Tests that only move many bytes run in the normal build alone
#   (DIZARUZ_SANITIZED).
# The sanitizer builds use -O1 and only the test targets: they exist to run
# the tests, and the whole command must stay within 15 minutes on 2 cores.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
scripts/setup.sh
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j2)

launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
lower_tests=(util_tests net_tests services_tests svctool peer_tests)
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1 suppressions=$top/scripts/tsan.supp"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1"

cmake -S . -B build-thread -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DDIZARUZ_WITH_APP=OFF -DDIZARUZ_BENCHMARKS=OFF -DDIZARUZ_SANITIZE=thread > /dev/null
cmake --build build-thread --parallel "$(nproc)" --target "${lower_tests[@]}"
(cd build-thread && ctest --output-on-failure --timeout 300 -j2)

cmake -S . -B build-address -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DDIZARUZ_WITH_APP=ON -DDIZARUZ_BENCHMARKS=OFF -DDIZARUZ_SANITIZE=address > /dev/null
cmake --build build-address --parallel "$(nproc)" --target "${lower_tests[@]}" desktop_tests app_tests
(cd build-address && ctest --output-on-failure --timeout 300 -j2 \
  -E '^install\.|^app\.(TwoCopiesOnTwoHosts|EncryptedCopies|ProxyBetweenPinnedCopies|NamesThatDoNotResolve|ActivationOnTwoHosts|AccessibilityBus)$|^desktop\.DiscoveryBetweenTwoHosts$')

CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja > /dev/null
cmake --build build-fuzz --parallel "$(nproc)"
(cd build-fuzz && ctest --output-on-failure --timeout 120)
