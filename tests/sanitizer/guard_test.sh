#!/usr/bin/env bash
# The sanitizer guard repeats a run whose leak checker's tracer crashed, and
# passes real leaks and plain failures on.
set -u
guard="$(dirname "$0")/guard.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }

# Crashes its tracer unless the leak check is off; counts its runs.
count=$(mktemp -p "${1:?work directory}")
tracer='echo run >> "$0"; case ${ASAN_OPTIONS:-} in *detect_leaks=0*) exit 0;; esac;
        echo "Tracer caught signal 11: addr=0x1748" >&2
        echo "==1==LeakSanitizer has encountered a fatal error." >&2; exit 1'
out=$("$guard" bash -c "$tracer" "$count" 2>&1) || fail "tracer crash not recovered: $out"
[ "$(wc -l < "$count")" -eq 3 ] || fail "expected three runs, got $(wc -l < "$count")"

: > "$count"
leak='echo run >> "$0"; echo "==1==ERROR: LeakSanitizer: detected memory leaks" >&2
      echo "==1==LeakSanitizer has encountered a fatal error." >&2; exit 23'
"$guard" bash -c "$leak" "$count" 2>/dev/null
[ $? -eq 23 ] || fail "a leak report must fail with its own code"
[ "$(wc -l < "$count")" -eq 1 ] || fail "a leak report must not be run again"

"$guard" bash -c 'echo listed; exit 4' > "$count" 2>/dev/null
[ $? -eq 4 ] || fail "a plain failure must keep its code"
[ "$(cat "$count")" = listed ] || fail "standard output must pass through"
rm -f "$count"
echo "guard ok"
