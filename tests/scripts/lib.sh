# shellcheck shell=bash
# Sourced by each tests/scripts/*.test.sh: $root (the checkout), a scratch folder removed at exit,
# stand-ins for commands on PATH, and the cases counted. A test ends with `finish`.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
suite="$(basename "$0" .test.sh)"
passed=0
failed=0

ok() { echo "$suite: ok: $*"; passed=$((passed + 1)); }
bad() { echo "$suite: FAILED: $*" >&2; failed=$((failed + 1)); }

# Writes an executable stand-in for command NAME into FOLDER, its body the rest (a sh script).
stand_in() {
  local folder="$1" name="$2"
  shift 2
  mkdir -p "$folder"
  printf '#!/bin/sh\n%s\n' "$*" >"$folder/$name"
  chmod +x "$folder/$name"
}

# Runs COMMAND... bounded to a minute, into $out, $err and $status.
run() {
  status=0
  timeout 60 "$@" >"$scratch/out" 2>"$scratch/err" </dev/null || status=$?
  out="$(cat "$scratch/out")"
  err="$(cat "$scratch/err")"
}

finish() {
  echo "$suite: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
