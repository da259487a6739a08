#!/usr/bin/env bash
# Puts Swagger UI (npm package swagger-ui-dist) into <dir>/node_modules for the /docs page.
# Skips npm when the package is already there; a failure only leaves /docs without its assets.
set -uo pipefail
dir=${1:?usage: fetch-docs-assets.sh <dir>}
[[ -f "$dir/node_modules/swagger-ui-dist/swagger-ui-bundle.js" ]] && exit 0
mkdir -p "$dir"
if ! npm install --silent --no-audit --no-fund --prefix "$dir" swagger-ui-dist@5 >/dev/null 2>&1; then
  echo "warning: could not install swagger-ui-dist; /docs will explain how to get it" >&2
fi
exit 0
