#!/bin/sh
# Makes the README's picture of the load station, doc/station.png, from the station's demo: a
# fixed line of simulated terminals, eight ports armed, taken once the tiles show several states.
# Builds the preset given (debug unless named) first. About a minute.
set -eu
cd "$(dirname "$0")/.."
preset=${1:-debug}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target kv402station-demo demo_workspace
picture=$(pwd)/doc/station.png
# The demo's record and settings go to a folder of their own, not the user's.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM HUP
cd "build/$preset/demo-workspace"
XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" QT_QPA_PLATFORM=offscreen \
    LC_ALL=C.UTF-8 ../bin/kv402station-demo --picture "$picture.new"
mv "$picture.new" "$picture"
echo "$picture"
