#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Runs one Node.js test file; skipped (77) where Node.js or the npm packages
# that scripts/setup installs are missing.
here=$(dirname "$0")
if ! command -v node >/dev/null 2>&1 || [ ! -d "$here/node_modules/@modelcontextprotocol/sdk" ]; then
  echo "skipped: Node.js or the npm packages are missing (scripts/setup installs them)"
  exit 77
fi
exec node --test "$@"
