#!/usr/bin/env bash
# Builds (via the set-up script) and runs every benchmark; each prints its figures.
# bench/stream_copy.sh and bench/file_copy.sh need root (network namespaces) and run apart.
# Usage: bench/run.sh [MiB]   (default 1024)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
mib=${1:-1024}
build/bench/net_bench "$mib"
build/bench/service_bench all "$mib" 2000
build/bench/idle_bench
build/bench/tls_bench "$mib" 1000 10
