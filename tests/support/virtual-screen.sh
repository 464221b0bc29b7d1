#!/usr/bin/env bash
# virtual-screen.sh COMMAND [ARG...]: runs COMMAND on a virtual screen of its own.
# Xvfb picks a free display number itself and reports it (-displayfd), so screens
# started side by side (other tests, xvfb-run -a elsewhere on the machine) can never
# take each other's number; -noreset keeps the screen as it is when one client leaves
# and before the next one connects.
set -euo pipefail
dir=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 3>"$dir/number" 2>"$dir/log" &
server=$!
for _ in $(seq 100); do
  [ -s "$dir/number" ] && break
  kill -0 "$server" 2>/dev/null || { cat "$dir/log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$dir/number" ] || { echo "virtual-screen: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(tr -d '\n' <"$dir/number")" "$@"
