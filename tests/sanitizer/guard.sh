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

run() {
  # Standard output streams through (test discovery reads it); standard
  # error is kept to look for the tracer's message, then passed on.
  local err rc
  { err=$("$@" 2>&1 1>&3 3>&-); rc=$?; } 3>&1
  [ -n "$err" ] && printf '%s\n' "$err" >&2
  last_err=$err
  return $rc
}

tracer_crashed() {
  [[ $last_err == *"LeakSanitizer has encountered a fatal error"* ]] &&
    [[ $last_err != *"ERROR: LeakSanitizer: detected memory leaks"* ]]
}

last_err=
run "$@" && exit 0
rc=$?
tracer_crashed || exit $rc

echo "sanitizer guard: the leak checker's tracer crashed; running again" >&2
run "$@" && exit 0
rc=$?
tracer_crashed || exit $rc

echo "sanitizer guard: the tracer crashed again; running without the leak check" >&2
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" run "$@"
