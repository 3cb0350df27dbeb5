# shellcheck shell=bash
# Packing an MCP bundle, sourced by scripts/bundle and scripts/release. Needs Node.js and npm;
# progress goes to standard error. Written for macOS's bash 3.2 as well.

packing_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Installs the bundle CLI pinned in packaging/ unless the installed one is current.
packing_tools() {
  local packaging="$packing_root/packaging"
  # npm ci wipes node_modules, so only pay for it when the lock has moved on.
  if [ ! -d "$packaging/node_modules" ] || [ "$packaging/package-lock.json" -nt "$packaging/node_modules" ]; then
    (cd "$packaging" && npm ci --no-audit --no-fund >&2)
    touch "$packaging/node_modules"
  fi
}

# Packs STAGE (a folder holding server/tarnwick-mcp) as the bundle OUTPUT for PLATFORM (darwin
# or linux); ANSWERING is a binary of the same tree that runs here, asked for the manifest's
# version and tools. With SOURCE_DATE_EPOCH set, the archive's times are that moment.
pack_bundle() {
  local stage="$1" platform="$2" answering="$3" output="$4"
  packing_tools
  node "$packing_root/packaging/manifest.js" "$answering" "$platform" "$stage/manifest.json" >/dev/null
  rm -f "$output"
  # pack runs the same check as `mcpb validate` and refuses a manifest that fails it. From inside
  # the stage, because it lists the archive's files relative to the current folder.
  local clock=()
  [ -n "${SOURCE_DATE_EPOCH:-}" ] && clock=(--import "$packing_root/packaging/fixed-time.js")
  (cd "$stage" && TZ=UTC node ${clock[@]+"${clock[@]}"} \
    "$packing_root/packaging/node_modules/@anthropic-ai/mcpb/dist/cli/cli.js" pack . "$output" >&2)
}
