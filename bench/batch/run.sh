#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Batch benchmark: bench/batch/run.sh <build-dir>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: run.sh <build-dir>}" && pwd)"
exec python3 "$here/measure.py" "$build/edit/tuvel-edit"
