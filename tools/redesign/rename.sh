#!/usr/bin/env bash
# One-off: moves the tree to the feature layout (device split into Frame, Link, ChannelSlot,
# PortList and PlateCommands; src/test -> src/run; src/screens -> src/discovery and
# src/frequency; the Delphi screen files named after their classes) and renames every
# identifier of tools/redesign/names.tsv in src/, tests/, bench/, fuzz/ and tools/, leaving
# string and character literals alone. Run from the checkout root; safe to run again.
# Afterwards it lists what is left for a person to look at.
set -euo pipefail
root=$(git rev-parse --show-toplevel)
cd "$root"
if [[ -n "$(git status --porcelain --untracked-files=no)" ]]; then
  echo "rename.sh: commit or stash your changes first" >&2
  exit 1
fi
python3 tools/redesign/redesign.py "$@"
