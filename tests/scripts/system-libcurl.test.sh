#!/usr/bin/env bash
# scripts/check-system-libcurl against canned `otool -L` listings of a universal server: the
# system's libcurl passes; Homebrew's (either Mac's prefix), none, or anything else from outside
# the system fails, naming the library.
# shellcheck source=tests/scripts/lib.sh
source "$(dirname "$0")/lib.sh"

# The stand-in otool lists the canned file named after the binary.
stand_in "$scratch/bin" otool "cat \"$scratch/listings/\$(basename \"\$2\")\""
mkdir -p "$scratch/listings"
# A universal binary's listing, with LIBCURL in both slices and EXTRA in the x86_64 one.
listing() {
  local name="$1" libcurl="$2" extra="${3:-}"
  for arch in x86_64 arm64; do
    printf '%s (architecture %s):\n' "/x/$name" "$arch"
    [ -n "$libcurl" ] && printf '\t%s (compatibility version 7.0.0, current version 9.0.0)\n' "$libcurl"
    [ "$arch" = x86_64 ] && [ -n "$extra" ] && printf '\t%s (compatibility version 1.0.0, current version 1.0.0)\n' "$extra"
    printf '\t/usr/lib/libc++.1.dylib (compatibility version 1.0.0, current version 1800.105.0)\n'
    printf '\t/usr/lib/libSystem.B.dylib (compatibility version 1.0.0, current version 1351.0.0)\n'
  done >"$scratch/listings/$name"
}
# NAME LIBCURL [EXTRA]: each refused listing and the library its refusal must name.
refused="arm-brew /opt/homebrew/opt/curl/lib/libcurl.4.dylib
intel-brew /usr/local/opt/curl/lib/libcurl.4.dylib
extra /usr/lib/libcurl.4.dylib /usr/local/Cellar/openssl@3/3.5.0/lib/libssl.3.dylib
rpath /usr/lib/libcurl.4.dylib @rpath/libgtest.dylib"
listing system /usr/lib/libcurl.4.dylib
listing none ""
while read -r name libcurl extra; do listing "$name" "$libcurl" "$extra"; done <<<"$refused"

check() { PATH="$scratch/bin:$PATH" run "$root/scripts/check-system-libcurl" "$@"; }

check system
if [ "$status" = 0 ] && [ -z "$err" ]; then ok "the system's libcurl passes"; else bad "the system's libcurl: status $status, $err"; fi

while read -r name libcurl extra; do
  library="${extra:-$libcurl}"
  check "$name"
  if [ "$status" = 1 ] && grep -qF "$name loads $library, which is not the system's" <<<"$err"; then
    ok "$library is refused"
  else
    bad "$name: status $status, stderr '$err', which should name $library"
  fi
done <<<"$refused"

check none
if [ "$status" = 1 ] && grep -q 'does not load /usr/lib/libcurl.4.dylib' <<<"$err"; then ok "no libcurl at all is refused"; else bad "no libcurl: status $status, $err"; fi

# Every binary is judged: a good one first does not hide a bad one after it.
check system intel-brew
if [ "$status" = 1 ] && grep -q '^check-system-libcurl: system loads' <<<"$out" && grep -q 'intel-brew loads' <<<"$err"; then ok "a bad binary after a good one is refused"; else bad "two binaries: status $status, $err"; fi
finish
