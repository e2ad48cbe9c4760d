#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# search and find of tuvel-mcp beside ripgrep on the Linux kernel source
# (Debian's linux-source-6.1), warm cache, all cores for both:
# bench/search/run.sh [build-dir]. The tree is unpacked once into a scratch
# folder outside the repository (TUVEL_BENCH_SCRATCH, default
# /var/tmp/tuvel-bench); it is not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
scratch=${TUVEL_BENCH_SCRATCH:-/var/tmp/tuvel-bench}
tree=$scratch/linux-source-6.1
tarball=/usr/src/linux-source-6.1.tar.xz
if [ ! -d "$tree" ]; then
  [ -f "$tarball" ] || { echo "install linux-source-6.1 first (scripts/setup)" >&2; exit 1; }
  mkdir -p "$scratch"
  tar -xJf "$tarball" -C "$scratch"
fi
# Debian's tarball ends its top .gitignore with "/*" and "!/debian/", which
# would ignore the whole tree: those two lines are removed.
if grep -qxE '/\*|!/debian/' "$tree/.gitignore"; then
  echo "removing the lines '/*' and '!/debian/' from $tree/.gitignore" >&2
  sed -i -e '/^\/\*$/d' -e '/^!\/debian\/$/d' "$tree/.gitignore"
fi
exec python3 bench/search/measure.py "$build/mcp/tuvel-mcp" "$tree"
