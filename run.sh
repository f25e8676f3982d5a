#!/usr/bin/env bash
# Installs what the project needs, builds it, and starts the installer with
# the default prefix (~/.velmora, or $VELMORA_PREFIX). With a display it opens
# its window; without one it runs in this terminal. Only the installer and
# what it needs are built (./test.sh builds everything); arguments are passed
# on (./run.sh --help).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target velmora_installer
exec build/bin/velmora-server-setup "$@"
