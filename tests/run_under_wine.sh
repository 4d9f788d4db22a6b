#!/bin/sh
# Runs a Windows test program (the rest of the command line: Wine, the program, its arguments)
# with its output going to a file that is shown as it grows. Wine hands its own output to every
# program it starts, whatever the program asks for, and sometimes leaves a program it takes for
# ended running on the Linux side; such a program would keep the test runner waiting for the end
# of the output until the test's time-out. Here the test is over when its own process ends, and
# a program of the test's still holding the output then is named and ended. Wine's server and
# its own programs (its desktop, its services) may hold it too: they serve the tests that follow.
name="the test"
for arg in "$@"; do
  case $arg in --gtest_filter=*) name=${arg#--gtest_filter=} ;; esac
done
out=$(mktemp /tmp/tallsnap-test-XXXXXX) || exit 1
"$@" >"$out" 2>&1 </dev/null &
test_pid=$!
tail -c +1 -s 0.1 -f --pid="$test_pid" "$out" &
tail_pid=$!
wait "$test_pid"
code=$?
wait "$tail_pid"
find /proc/[0-9]*/fd -maxdepth 1 -lname "$out" 2>/dev/null | sed 's|/fd/.*||' | sort -u | while read -r proc; do
  pid=${proc#/proc/}
  what=$(tr '\0' ' ' <"$proc/cmdline" 2>/dev/null | sed 's/ *$//')
  case $what in
    [Cc]:\\windows\\* | */wineserver* | '') continue ;;
  esac
  kill -9 "$pid" 2>/dev/null && verdict=ended || verdict="could not be ended"
  line="left running after $name: $pid $what ($verdict)"
  printf '%s\n' "$line"
  [ -n "${TALLSNAP_LEFTOVERS:-}" ] && printf '%s\n' "$line" >>"$TALLSNAP_LEFTOVERS"
done
rm -f "$out"
exit "$code"
