#!/usr/bin/env bash
# The manual page of kelvara-cli lists the same commands as its --help.
set -euo pipefail
cli=$1
page=$2
# The Subcommands block of --help ends at its first empty line (the exit status follows).
from_help=$("$cli" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }' | sort)
# In the page each command is the line after a .TP of the Subcommands section.
from_page=$(sed -n '/^\.SS "Subcommands:"/,/^\.S[HS]/p' "$page" | awk 'prev == ".TP" { print } { prev = $0 }' |
  sed 's/\\-/-/g' | sort)
if [[ -z "$from_help" || "$from_help" != "$from_page" ]]; then
  diff <(echo "$from_help") <(echo "$from_page") || true
  exit 1
fi
echo "manual page lists the $(echo "$from_help" | wc -l) commands of --help"
