#!/usr/bin/env bash
# Checks the bridge's systemd unit with systemd-analyze verify: the unit as
# CMake configured it, with ExecStart pointing at the program of this build
# (the installed path does not exist here). The manual page is not looked
# up: it is installed with the program, not here.
set -euo pipefail
unit="$1"
program="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sed "s#^ExecStart=[^ ]*#ExecStart=$program#" "$unit" >"$work/mbus-bridge.service"
grep -q "^ExecStart=$program " "$work/mbus-bridge.service" || { echo "no ExecStart line in $unit" >&2; exit 1; }
out="$(systemd-analyze verify --man=no "$work/mbus-bridge.service" 2>&1)" || { echo "$out" >&2; exit 1; }
# verify exits 0 for some findings it only prints.
if [ -n "$out" ]; then echo "$out" >&2; exit 1; fi
echo "mbus-bridge.service: verified"
