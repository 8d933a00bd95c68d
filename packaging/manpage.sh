#!/usr/bin/env bash
# Writes a program's man page from its --help and --version with help2man, at build time.
#   manpage.sh [--stderr] OUT PROGRAM "WHAT IT IS" [SUBCOMMAND...]
# --stderr: the program prints its help on stderr. Each SUBCOMMAND's own --help becomes a
# subsection of COMMANDS, so that one page tells every option.
set -euo pipefail
stderr=()
if [ "${1:-}" = --stderr ]; then stderr=(--no-discard-stderr); shift; fi
out=$1 program=$2 name=$3
shift 3
# Run by its name, as a user would: the help shows argv[0].
export PATH="$(cd "$(dirname "$program")" && pwd):$PATH"
program=$(basename "$program")
include=$(mktemp)
trap 'rm -f "$include"' EXIT
{
  # In the include file rather than in --name, which help2man would take for Latin-1.
  echo "[NAME]"
  echo "$(basename "$program") \- $name"
  if [ $# -gt 0 ]; then
    echo "[COMMANDS]"
    for sub in "$@"; do
      echo ".SS \"$program $sub\""
      echo ".nf"
      # roff: a backslash is \e, and a line may not start with a control character.
      "$program" "$sub" --help 2>&1 | sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/" || true
      echo ".fi"
    done
  fi
  echo "[SEE ALSO]"
  echo ".BR imp40500 (1),"
  echo ".BR imp40500-server (1),"
  echo ".BR imp40500-host (1);"
  echo "README.md and docs/PROTOCOL.md in the documentation folder (share/doc/imp40500)."
} > "$include"
# The programs speak Portuguese in UTF-8 whatever the caller's locale.
LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen help2man --no-info --locale=C.UTF-8 "${stderr[@]}" --section 1 \
    --include "$include" --output "$out.tmp" "$program"
mv "$out.tmp" "$out"
