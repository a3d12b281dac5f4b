#!/usr/bin/env bash
# Sets everything up, builds, and starts Dizaruz.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
exec build/app/dizaruz
