#!/usr/bin/env bash
# Runs the browser tests of `torvek-front serve` (tests/browser) against a build:
#   bash tools/browser_tests.sh [BUILD-DIR, default build]
# Installs the test driver (playwright-core, from the lock file) when it is missing; it drives
# Debian's chromium and never downloads a browser. Screenshots land in BUILD-DIR/browser-screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
if [ ! -d tests/browser/node_modules/playwright-core ]; then
    (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
fi
cd tests/browser
TORVEK_BUILD_DIR="$build" npm test --silent
