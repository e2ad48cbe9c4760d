#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Message parsing benchmark: bench/mcp-parse/run.sh <build-dir>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: run.sh <build-dir>}" && pwd)"
exec python3 "$here/measure.py" "$build/mcp/tuvel-mcp"
