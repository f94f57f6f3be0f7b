#!/bin/sh
# Installs what is missing, builds, and starts the program in the demo workspace.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset release
cmake --build --preset release
cd build/release/demo-workspace
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set):" \
         "starting the program on a virtual display under xvfb-run."
    exec xvfb-run -a ../bin/kv402master-demo
fi
exec ../bin/kv402master-demo
