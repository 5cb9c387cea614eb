#!/usr/bin/env bash
# Starts the program from a build folder. Until the desktop program exists
# this shows the command-line tool's help.
set -euo pipefail
build=$1; shift
exec "$build/src/kelvara-cli" --help "$@"
