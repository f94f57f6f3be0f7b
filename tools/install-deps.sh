#!/bin/sh
# Installs the Debian packages of tools/debian-packages.txt that are missing.
# Safe to run again: does nothing when everything is present.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
list="$here/debian-packages.txt"

missing=""
for pkg in $(grep -v '^[[:space:]]*#' "$list" | tr -s '[:space:]' ' '); do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $pkg"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

echo "Installing:$missing"
if [ "$(id -u)" -ne 0 ]; then
    echo "These packages are missing; run as root (or with sudo) to install them." >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# shellcheck disable=SC2086
apt-get install -y -q --no-install-recommends $missing
