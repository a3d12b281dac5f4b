#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite through CTest:
# every test in the normal build, then the socket layer and the services
# again under ThreadSanitizer, since notifications, flags and connection
# threads cross threads there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j2)

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDIZARUZ_WITH_APP=OFF -DDIZARUZ_BENCHMARKS=OFF -DDIZARUZ_SANITIZE=thread > /dev/null
cmake --build build-tsan --parallel "$(nproc)"
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1" ctest --output-on-failure --timeout 300 -j2)
