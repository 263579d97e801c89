#!/usr/bin/env bash
# The API's documents read by the tools their clients use: redocly lints the OpenAPI document
# (no errors allowed; redocly.yaml says which rules do not apply), and the AsyncAPI CLI
# validates the event stream's document. Both come from npm into tools/api-lint/ when missing
# (the versions package.json pins) and then run offline: no telemetry, no update checks.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v npm >/dev/null || scripts/install-packages.sh nodejs npm
tools=tools/api-lint
export REDOCLY_TELEMETRY=off REDOCLY_SUPPRESS_UPDATE_NOTICE=true ASYNCAPI_SKIP_NEW_VERSION_CHECK=true CI=true SUPPRESS_NO_CONFIG_WARNING=true \
  ASYNCAPI_METRICS_CONFIG_PATH="$PWD/$tools/node_modules/.asyncapi-analytics"
{ [ -x "$tools/node_modules/.bin/redocly" ] && [ -x "$tools/node_modules/.bin/asyncapi" ]; } ||
  (cd "$tools" && npm install --no-audit --no-fund --no-package-lock)
# The AsyncAPI CLI keeps its analytics choice in this file (no user's home is written).
[ -f "$ASYNCAPI_METRICS_CONFIG_PATH" ] ||
  echo '{"analyticsEnabled": "false", "infoMessageShown": "true", "userID": "none"}' >"$ASYNCAPI_METRICS_CONFIG_PATH"
"$tools/node_modules/.bin/redocly" lint --config "$tools/redocly.yaml" forecourt/api/openapi.json
"$tools/node_modules/.bin/asyncapi" validate forecourt/api/asyncapi.json --fail-severity error
