#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# MCP benchmark: bench/mcp/run.sh <build-dir> [rounds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: run.sh <build-dir> [rounds]}" && pwd)"
filesystem="$here/../../mcp/tests/node/node_modules/@modelcontextprotocol/server-filesystem/dist/index.js"
[ -f "$filesystem" ] || { echo "the reference filesystem server is not installed: run scripts/setup" >&2; exit 1; }
exec python3 "$here/measure.py" "$build/mcp/tuvel-mcp" "$build/edit/tuvel-edit" "$filesystem" "${2:-7}"
