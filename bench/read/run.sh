#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Read benchmark: bench/read/run.sh <build-dir> [rounds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: run.sh <build-dir> [rounds]}" && pwd)"
exec python3 "$here/measure.py" "$build/edit/tuvel-edit" "${2:-21}"
