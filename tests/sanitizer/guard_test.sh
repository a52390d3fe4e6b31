#!/usr/bin/env bash
# The sanitizer guard repeats a run only when the test passed and the leak
# checker alone failed at exit, passes everything else on, and records every
# run it makes without the leak check for CI's summary.
set -u
here=$(cd "$(dirname "$0")" && pwd)
guard=$here/guard.sh
dir=$(mktemp -d -p "${1:?work directory}") || exit 1
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
fail() { echo "FAIL: $*" >&2; exit 1; }

# A stand-in test program. Run N does what the Nth word of $STEPS says (the
# last word repeats): "pass" or "fail" prints GoogleTest's verdict, "plain"
# prints none, "marked" none but creates the guard's success marker, "list"
# writes a test listing. A suffix says what happens at exit unless the leak
# check is off: +tracer the tracer crashes, +untraceable the leak checker
# cannot trace, +leak a leak report, +asan another program's report too.
cat > fake_test <<'EOF'
#!/usr/bin/env bash
echo run >> runs
read -ra steps <<< "$STEPS"
n=$(wc -l < runs)
step=${steps[$(( n <= ${#steps[@]} ? n - 1 : ${#steps[@]} - 1 ))]}
rc=0
case $step in
  pass*) printf '[==========] 1 test from 1 test suite ran. (1 ms total)\n[  PASSED  ] 1 test.\n' ;;
  fail*) printf '[  FAILED  ] A.B (1 ms)\n[==========] 1 test from 1 test suite ran. (1 ms total)\n'
         printf '[  PASSED  ] 0 tests.\n[  FAILED  ] 1 test, listed below:\n'; rc=1 ;;
  marked*) : > "$VELOX_SANITIZER_GUARD_PASSED" ;;
  list*) printf 'A.\n  B\n'; echo '<testsuites tests="1" name="AllTests">' > "${GTEST_OUTPUT#xml:}" ;;
esac
case ${ASAN_OPTIONS:-} in *detect_leaks=0*) exit $rc ;; esac
fatal() { echo "==1==LeakSanitizer has encountered a fatal error." >&2; exit 1; }
case $step in
  *+tracer) echo "Tracer caught signal 11: addr=0x1748 pc=0x7f10 sp=0x7f20" >&2; fatal ;;
  *+untraceable) echo "==1==HINT: LeakSanitizer does not work under ptrace (strace, gdb, etc)" >&2; fatal ;;
  *+leak) echo "==1==ERROR: LeakSanitizer: detected memory leaks" >&2; exit 23 ;;
  *+asan) echo "==2==ERROR: AddressSanitizer: heap-use-after-free" >&2
          echo "Tracer caught signal 11: addr=0x1748 pc=0x7f10 sp=0x7f20" >&2; fatal ;;
esac
exit $rc
EOF
chmod +x fake_test

# guarded STEPS [ARGS...]: runs the stand-in through the guard; $rc, $runs.
guarded() {
  rm -f runs log
  : > log
  STEPS=$1 "$guard" --log="$dir/log" ./fake_test "${@:2}" > out 2> err
  rc=$?
  runs=$(wc -l < runs)
}
expect() {  # expect RC RUNS RECORDED WHAT
  [ "$rc" -eq "$1" ] && [ "$runs" -eq "$2" ] && [ "$(wc -l < log)" -eq "$3" ] ||
    fail "$4: exit $rc after $runs runs, $(wc -l < log) recorded (expected $1, $2, $3)"$'\n'"$(cat err)"
}

guarded "fail+tracer pass"
expect 1 1 0 "a failing test whose tracer crashed must fail, not be repeated"
guarded "pass+tracer pass"
expect 0 2 0 "a passing test whose tracer crashed must be repeated"
grep -q '\[  PASSED  \]' out || fail "standard output must pass through"
guarded "pass+tracer" --gtest_filter=Suite.Case
expect 0 3 1 "after two tracer crashes the test must run without the leak check"
[ "$(cat log)" = "Suite.Case	the leak checker's tracer crashed twice" ] || fail "record: $(cat log)"
guarded "pass+untraceable"
expect 0 3 1 "a leak checker that cannot trace must end in a recorded run"
grep -q "^fake_test	the leak checker could not trace" log || fail "record: $(cat log)"
guarded "pass+leak"
expect 23 1 0 "a leak report must fail with its own code, once"
guarded "pass+asan pass"
expect 1 1 0 "another sanitizer report must not be repeated"
guarded "plain+tracer plain"
expect 1 1 0 "a program without a verdict must not be repeated"
guarded "marked+tracer marked"
expect 0 2 0 "a program that marked its success must be repeated"
guarded "list+tracer list" --gtest_list_tests
expect 0 2 0 "a complete test listing must be repeated"
grep -q "^  B$" out || fail "the listing must pass through"
ASAN_OPTIONS=detect_leaks=0 guarded "pass"
expect 0 1 1 "a run with the leak check switched off must be recorded"

"$guard" bash -c 'echo listed; exit 4' > out 2>/dev/null
[ $? -eq 4 ] || fail "a plain failure must keep its code"
[ "$(cat out)" = listed ] || fail "standard output must pass through"

# CI's summary of the records, as .ci/run prints it.
printf 'A.B\tthe tracer crashed twice\nfuzz\tswitched off\nA.B\tswitched off\n' > log
line=$("$here/summary.sh" log | head -1)
[ "$line" = "sanitizer guard: 3 test runs without the leak check: A.B, fuzz" ] || fail "summary: $line"
: > log
line=$("$here/summary.sh" log)
[ "$line" = "sanitizer guard: every test run had the leak check" ] || fail "empty summary: $line"
echo "guard ok"
