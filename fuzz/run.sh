#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds fuzz/<name>_fuzz.cc with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer and runs it for a bounded time.
#   fuzz/run.sh <name> <seconds> [more libFuzzer options]
# Seeds: fuzz/corpus/<name>/ (kept as they are); inputs found on the way go to
# <build>/corpus-<name>/. Crashes are written to <build>/ as crash-*.
# Sources: fuzz/<name>.sources (paths relative to the repository or absolute,
# globs allowed; C and assembly files too; a line starting with "-" is a
# linker option such as -lre2) or else the protocol and error directories.
# Dictionary:
# fuzz/<name>.dict when present.
set -euo pipefail

name=${1:?usage: fuzz/run.sh <name> <seconds> [libFuzzer options]}
seconds=${2:?usage: fuzz/run.sh <name> <seconds> [libFuzzer options]}
shift 2

root=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_BUILD_DIR:-$root/build-fuzz}
mkdir -p "$out" "$out/corpus-$name"

if [[ -f $root/fuzz/$name.sources ]]; then
  mapfile -t patterns < <(grep -v '^\s*\(#\|$\)' "$root/fuzz/$name.sources")
else
  patterns=(edit/src/lib/protocol/*.cc edit/src/lib/error/*.cc)
fi
sources=()
link=()
for pattern in "${patterns[@]}"; do
  # shellcheck disable=SC2206 # the pattern is a glob on purpose
  if [[ $pattern == -* ]]; then link+=("$pattern"); elif [[ $pattern == /* ]]; then sources+=($pattern); else sources+=($root/$pattern); fi
done

# C and assembly sources (absolute paths name system ones, such as Debian's
# BLAKE3) are compiled on their own; their directories are searched for headers.
cxx_sources=()
objects=()
includes=()
for source in "${sources[@]}"; do
  case $source in
    *.c | *.S)
      object="$out/$name-$(basename "$source").o"
      clang -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -c "$source" -o "$object"
      objects+=("$object")
      includes+=(-I "$(dirname "$source")")
      ;;
    *) cxx_sources+=("$source") ;;
  esac
done

clang++ -std=c++20 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I "$root/edit/src/lib" -I "$root/edit/src" "${includes[@]}" "$root/fuzz/${name}_fuzz.cc" \
  "${cxx_sources[@]}" "${objects[@]}" "${link[@]}" -o "$out/${name}_fuzz"

options=(-max_total_time="$seconds" -max_len=65536 -rss_limit_mb=1024 -timeout=10
         -print_final_stats=1 -artifact_prefix="$out/")
[[ -f $root/fuzz/$name.dict ]] && options+=(-dict="$root/fuzz/$name.dict")
exec "$out/${name}_fuzz" "${options[@]}" "$@" "$out/corpus-$name" "$root/fuzz/corpus/$name"
