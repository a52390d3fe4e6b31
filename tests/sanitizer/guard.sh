#!/usr/bin/env bash
# Runs one test process of the sanitizer build.
#
#   guard.sh [--log=FILE] COMMAND [ARGS...]
#
# GCC 12's leak checker can crash inside its own stop-the-world tracer at
# exit ("Tracer caught signal 11 ... LeakSanitizer has encountered a fatal
# error") without having checked anything: it scans a range the runtime got
# wrong, and where that happens depends on memory placement, not on the
# test. It gives up the same way where it cannot trace at all (ptrace
# forbidden, a run under strace or gdb). A run whose test passed and whose
# only failure is that one is repeated once; if the leak checker gives up
# again, the test runs a third time without the leak check, so that
# AddressSanitizer and UBSan still judge it. A failing test, a leak report or
# any other sanitizer report is passed on as it is, never repeated.
#
# The test's own verdict, reached before the exit-time leak check:
#  - GoogleTest: its summary on standard output without a [  FAILED  ] line
#    (its XML and JSON reports leave out failures outside a test case, such
#    as in SetUpTestSuite or an environment's TearDown);
#  - a GoogleTest listing (--gtest_list_tests): the list written out in full;
#  - any other program: it creates the file that VELOX_SANITIZER_GUARD_PASSED
#    names as it ends successfully.
#
# Every run without the leak check, whether this guard's last try or the
# caller's ASAN_OPTIONS/LSAN_OPTIONS, is reported on standard error and
# appended to FILE (default: $VELOX_SANITIZER_GUARD_LOG) as "name<TAB>why",
# for CI's summary. The command gets VELOX_SANITIZER_GUARD_LOG, so that a
# test can record the runs of sanitized programs it starts itself.
set -u

log=${VELOX_SANITIZER_GUARD_LOG:-}
case ${1:-} in --log=*) log=${1#--log=}; shift;; esac
if [ $# -eq 0 ]; then
  echo "usage: guard.sh [--log=FILE] COMMAND [ARGS...]" >&2
  exit 2
fi
[ -z "$log" ] || export VELOX_SANITIZER_GUARD_LOG="$log"

# Standard output and error stream through as well and are copied to files
# in the working directory (the build tree), to be read after the run.
work=$(mktemp -d -p "$PWD" .sanitizer-guard.XXXXXX) || exit 2
trap 'rm -rf "$work"' EXIT
export VELOX_SANITIZER_GUARD_PASSED="$work/passed"
listing=false
for arg in "$@"; do
  [ "$arg" = --gtest_list_tests ] && listing=true
done
# A listing's XML copy is written only once the list is complete.
$listing && export GTEST_OUTPUT="xml:$work/list.xml"

run() {
  rm -f "$work/out" "$work/err" "$work/rc" "$work/passed" "$work/list.xml"
  {
    { "$@" 2>&1 1>&3 3>&- | tee "$work/err" >&2 3>&-
      echo "${PIPESTATUS[0]}" > "$work/rc"
    } 3>&1 | tee "$work/out"
  }
  return "$(cat "$work/rc")"
}

# The leak checker gave up at exit, and nothing else reported an error.
leak_checker_gave_up_alone() {
  grep -q "LeakSanitizer has encountered a fatal error" "$work/err" &&
    ! grep -Eq "ERROR: [A-Za-z]*Sanitizer|runtime error:" "$work/err"
}

test_passed() {
  if grep -q '\[==========\] .* ran\.' "$work/out"; then
    ! grep -q '\[  FAILED  \]' "$work/out"
  elif $listing; then
    [ -e "$work/list.xml" ]
  else
    [ -e "$work/passed" ]
  fi
}

# What CI's summary calls the run: the GoogleTest case, else the program.
name() {
  local arg filter= program=${1##*/}
  for arg in "$@"; do
    case $arg in
      --gtest_filter=*) filter=${arg#--gtest_filter=} ;;
      -*) ;;
      *) [ -f "$arg" ] && [ -x "$arg" ] && program=${arg##*/} ;;
    esac
  done
  if [ -n "$filter" ]; then
    echo "$filter"
  elif $listing; then
    echo "$program --gtest_list_tests"
  else
    echo "$program"
  fi
}

# record WHY COMMAND...
record() {
  local why=$1 what
  shift
  what=$(name "$@")
  echo "sanitizer guard: $what runs without the leak check: $why" >&2
  [ -z "$log" ] || printf '%s\t%s\n' "$what" "$why" >> "$log"
}

leak_check_off() {
  local option value=1
  local -a options
  IFS=': ' read -ra options <<< "${ASAN_OPTIONS:-} ${LSAN_OPTIONS:-}"
  for option in "${options[@]}"; do
    case $option in detect_leaks=*) value=${option#detect_leaks=} ;; esac
  done
  [ "$value" = 0 ] || [ "$value" = false ]
}

if leak_check_off; then
  record "switched off by the caller's sanitizer options" "$@"
  run "$@"
  exit
fi

for attempt in 1 2; do
  run "$@" && exit 0
  rc=$?
  leak_checker_gave_up_alone || exit $rc
  if ! test_passed; then
    echo "sanitizer guard: the test failed (the leak checker also gave up at exit); not repeated" >&2
    exit $rc
  fi
  echo "sanitizer guard: the test passed but the leak checker gave up at exit (run $attempt)" >&2
done
if grep -q "Tracer caught signal" "$work/err"; then
  record "the leak checker's tracer crashed twice" "$@"
else
  record "the leak checker could not trace the process" "$@"
fi
echo "sanitizer guard: running once more without the leak check" >&2
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" run "$@"
