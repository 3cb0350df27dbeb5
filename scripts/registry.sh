# shellcheck shell=bash
# Sourced by scripts/test-npm and scripts/bench: an offline npm registry on 127.0.0.1
# (verdaccio, pinned in tests/npm/) that serves what is published to it and nothing else, and
# new users of it. The caller sets $root (the checkout) and $scratch (a folder it removes at
# exit, where everything here is kept), and calls registry_stop at exit.
#   registry_start            sets $registry (its URL) and $registry_pid
#   registry_publish TGZ      publishes a packed package
#   new_user                  an empty home and npm cache; $new_user_env holds the environment
#                             ("NAME=value") under which npm is that user of the registry
: "${root:?}" "${scratch:?}"
registry_pid=""
registry_who="$(basename "$0")"

# npm ci wipes node_modules, so only pay for it when the lock has moved on.
npm_ci_if_stale() {
  (
    cd "$1" || exit
    if [ ! -d node_modules ] || [ package-lock.json -nt node_modules ]; then
      npm ci --no-audit --no-fund >&2
      touch node_modules
    fi
  )
}

registry_start() {
  npm_ci_if_stale "$root/tests/npm"
  local port
  port="$(node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })')"
  registry="http://127.0.0.1:$port/"
  registry_port="$port"
  # No uplinks: the registry serves what is published to it and nothing else.
  cat >"$scratch/verdaccio.yaml" <<YAML
storage: $scratch/storage
auth: { htpasswd: { file: $scratch/htpasswd } }
packages: { '**': { access: \$all, publish: \$all } }
log: { type: stdout, format: pretty, level: warn }
YAML
  "$root/tests/npm/node_modules/.bin/verdaccio" --config "$scratch/verdaccio.yaml" --listen "127.0.0.1:$port" >"$scratch/verdaccio.log" 2>&1 &
  registry_pid=$!
  for _ in $(seq 100); do
    curl -sf "${registry}-/ping" >/dev/null 2>&1 && break
    kill -0 "$registry_pid" 2>/dev/null || { cat "$scratch/verdaccio.log" >&2; echo "$registry_who: FAILED: the registry ended" >&2; exit 1; }
    sleep 0.2
  done
  curl -sf "${registry}-/ping" >/dev/null || { echo "$registry_who: FAILED: the registry did not answer in 20 s" >&2; exit 1; }
}

registry_publish() {
  # npm asks for a token even where publishing is open to all; any will do.
  npm publish "$1" --registry "$registry" "--//127.0.0.1:$registry_port/:_authToken=x" \
    --userconfig "$scratch/publisher.npmrc" --cache "$scratch/publisher-cache" --loglevel=warn >&2
}

registry_stop() {
  if [ -n "$registry_pid" ]; then
    kill "$registry_pid" 2>/dev/null || true
    wait "$registry_pid" 2>/dev/null || true
    registry_pid=""
  fi
}

# A new user: nothing cached, nothing configured, the registry the only one.
new_user() {
  rm -rf "${scratch:?}/home" "$scratch/cache"
  mkdir -p "$scratch/home"
  # shellcheck disable=SC2034  # for the caller
  new_user_env=("HOME=$scratch/home" "npm_config_cache=$scratch/cache" "npm_config_registry=$registry"
    npm_config_update_notifier=false npm_config_fund=false npm_config_audit=false)
}
