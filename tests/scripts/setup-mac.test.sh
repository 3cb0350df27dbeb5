#!/usr/bin/env bash
# scripts/setup's macOS path, on Linux: stand-ins for uname, sw_vers and brew play a Mac whose
# Homebrew holds canned formulae. Whatever is installed already is left alone; what has a bottle
# for this Mac (its own macOS's, an older one's, or "all") is brewed, never updating Homebrew
# or upgrading anything; GoogleTest without a bottle is built; any other formula without one
# stops setup, in one line naming it, before brew installs anything; LLVM is never asked for.
# shellcheck source=tests/scripts/lib.sh
source "$(dirname "$0")/lib.sh"

bin="$scratch/bin"
canned="$scratch/formulae"
log="$scratch/brew.log"
mkdir -p "$canned"
stand_in "$bin" uname 'case "${1:-}" in -m) cat "'"$scratch"'/machine" ;; *) echo Darwin ;; esac'
stand_in "$bin" sw_vers 'cat "'"$scratch"'/macos"'
# Each call is logged with the settings it ran under. An installed formula has a file
# installed/NAME; brew info answers with formulae/NAME.json; missing dependencies are listed in deps.
stand_in "$bin" brew '
echo "$* [$HOMEBREW_NO_AUTO_UPDATE$HOMEBREW_NO_INSTALL_UPGRADE$HOMEBREW_NO_INSTALLED_DEPENDENTS_CHECK]" >>"'"$log"'"
case "$1" in
  list) [ -e "'"$scratch"'/installed/$3" ] ;;
  deps) cat "'"$scratch"'/deps" ;;
  info) shift 2; printf "{\"formulae\":["; sep=""
        for name in "$@"; do printf "%s" "$sep"; cat "'"$canned"'/$name.json"; sep=","; done; printf "]}" ;;
  install) ;;
  *) exit 1 ;;
esac'
# NAME TAG...: a formula whose bottles are made for these tags.
formula() {
  local name="$1" files="" tag
  shift
  for tag in "$@"; do files="$files${files:+,}\"$tag\":{\"cellar\":\":any\",\"url\":\"u\",\"sha256\":\"0\"}"; done
  printf '{"name":"%s","bottle":{"stable":{"rebuild":0,"files":{%s}}}}' "$name" "$files" >"$canned/$name.json"
}
# A Mac (MACHINE, macOS VERSION) with INSTALLED formulae and missing DEPENDENCIES; then setup --all.
play() {
  echo "$1" >"$scratch/machine"
  echo "$2" >"$scratch/macos"
  [ -f "$log" ] && cat "$log" >>"$scratch/every-call.log"
  rm -rf "$scratch/installed" "$log"
  mkdir -p "$scratch/installed"
  for name in $3; do touch "$scratch/installed/$name"; done
  printf '%s\n' $4 >"$scratch/deps"
  touch "$log"
  PATH="$bin:$PATH" run "$root/scripts/setup" --all
  installs="$(grep '^install' "$log" || true)"
}
settings="[111]"

formula nlohmann-json all
formula cpp-httplib arm64_tahoe arm64_sequoia sequoia sonoma
formula googletest arm64_sequoia sonoma
formula openssl@3 arm64_sequoia

play arm64 15.5 "nlohmann-json googletest cpp-httplib" ""
if [ "$status" = 0 ] && [ -z "$installs" ] && ! grep -q '^info' "$log"; then ok "all installed: nothing brewed"; else bad "all installed: status $status, $(cat "$log") $err"; fi

play arm64 15.5 "" ""
if [ "$status" = 0 ] && [ "$installs" = "install nlohmann-json googletest cpp-httplib $settings" ]; then
  ok "on arm64 macOS 15, one brew install, without updates or upgrades: $installs"
else
  bad "arm64 macOS 15: status $status, installs '$installs', $err"
fi

# An Intel Mac on macOS 15 takes googletest's sonoma bottle; none of httplib's is too new for it.
play x86_64 15.1 "nlohmann-json" ""
if [ "$status" = 0 ] && [ "$installs" = "install googletest cpp-httplib $settings" ]; then ok "an older macOS's bottle is poured"; else bad "older bottle: status $status, '$installs', $err"; fi

# No googletest bottle for Intel at all, as for every formula revised since Homebrew's Intel tier fell.
formula googletest arm64_tahoe arm64_sequoia
play x86_64 15.5 "nlohmann-json" ""
if [ "$status" = 0 ] && [ "$installs" = "install cpp-httplib $settings
install --build-from-source googletest $settings" ]; then
  ok "googletest without a bottle is built: $(tail -n 1 <<<"$installs")"
else
  bad "googletest built: status $status, '$installs', $err"
fi

# httplib's bottles are for newer Macs only, and a missing dependency has none for Intel at all.
formula cpp-httplib arm64_tahoe tahoe
play x86_64 15.5 "nlohmann-json googletest" "openssl@3"
if [ "$status" = 1 ] && [ -z "$installs" ] && [ "$(wc -l <<<"$err")" = 2 ] &&
  grep -q '^setup: Homebrew has no bottle of cpp-httplib for this Mac (x86_64, macOS 15.5): install it yourself' <<<"$err" &&
  grep -q 'no bottle of openssl@3 ' <<<"$err"; then
  ok "formulae without a bottle stop setup before any install, one line each"
else
  bad "no bottle: status $status, installs '$installs', stderr '$err'"
fi

cat "$log" >>"$scratch/every-call.log"
if grep -qi llvm "$scratch/every-call.log"; then bad "llvm was asked for"; else ok "llvm was never asked for"; fi
finish
