#!/bin/sh
# Installs what is missing, builds, and runs every test (window tests offscreen).
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset debug
cmake --build --preset debug
ctest --preset debug
