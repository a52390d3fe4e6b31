#!/usr/bin/env bash
# Prints the sanitizer guard's record of runs without the leak check
# (tests/sanitizer/guard.sh --log=FILE) as one summary line, then the runs.
#
#   summary.sh FILE
set -u
log=${1:?usage: summary.sh FILE}
if [ ! -s "$log" ]; then
  echo "sanitizer guard: every test run had the leak check"
  exit 0
fi
count=$(wc -l < "$log")
[ "$count" -eq 1 ] && runs="test run" || runs="test runs"
names=$(cut -f1 "$log" | sort -u | paste -sd, - | sed 's/,/, /g')
echo "sanitizer guard: $count $runs without the leak check: $names"
sed 's/\t/: /; s/^/  /' "$log"
