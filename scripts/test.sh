#!/usr/bin/env bash
# The README's second command: installs what is missing, builds both architectures and
# runs every test under Wine in a fresh prefix, its own Xvfb and one wineserver.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" tests

source "$root/scripts/test-env.sh"
trap test_env_stop EXIT
test_env_start "$root/build/x86_64"
ctest --test-dir "$root/build/x86_64" --output-on-failure "$@"
