#!/usr/bin/env bash
# Runs one test process of the sanitizer build.
#
# GCC 12's leak checker can crash inside its own stop-the-world tracer at
# exit ("Tracer caught signal 11 ... LeakSanitizer has encountered a fatal
# error") after a passing test, without having checked anything: it scans a
# range the runtime got wrong, and where that happens depends on memory
# placement, not on the test. Such a run is repeated once; if the tracer
# crashes again, the test runs a third time without the leak check, so that
# AddressSanitizer and UBSan still judge it. A real leak report, or any other
# failure, is passed on as it is.
set -u

# Standard error streams through as well and is copied to a file in the
# working directory (the build tree), to look for the tracer's message.
err_log=$(mktemp -p . .sanitizer-guard.XXXXXX) || exit 2
trap 'rm -f "$err_log"' EXIT

run() {
  local rc
  { "$@" 2>&1 1>&3 3>&- | tee "$err_log" >&2 3>&-; rc=${PIPESTATUS[0]}; } 3>&1
  return $rc
}

tracer_crashed() {
  grep -q "LeakSanitizer has encountered a fatal error" "$err_log" &&
    ! grep -q "ERROR: LeakSanitizer: detected memory leaks" "$err_log"
}

for attempt in 1 2; do
  run "$@" && exit 0
  rc=$?
  tracer_crashed || exit $rc
  echo "sanitizer guard: the leak checker's tracer crashed (run $attempt)" >&2
done
echo "sanitizer guard: running once more without the leak check" >&2
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" run "$@"
