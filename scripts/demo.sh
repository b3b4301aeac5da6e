#!/usr/bin/env bash
# Installs what the program needs, builds the toolbox and runs the demo: four generated data
# sets clustered through the plug-ins, one SVG picture each under demo/, and a table of results.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh core
cmake --preset default
cmake --build --preset default --parallel "$(nproc)"
build/default/rotalign demo --output demo
