# Shared by the end-to-end scripts that run a Korvane program against korvane-sim: each
# case starts korvane-sim, runs the program, checks, and stops korvane-sim. Source it
# after setting:
#   work     a scratch folder          sim      the korvane-sim program
#   program  the name used in failure messages
#   sim_link (optional) a fixed path for korvane-sim's link; else one per case in $work
# It defines now_ms, fail, out, start_sim, finish_sim, stop_sim, expect_exit,
# expect_flash and run_cases.

failures=0
case_name=""
sim_pid=""

now_ms() { date +%s%3N; }

fail() {
  echo "FAIL [$case_name]: $*" >&2
  failures=$((failures + 1))
}

# out SUFFIX: the file of this case's output with that suffix.
out() { echo "$work/$case_name.$1"; }

# start_sim [OPTIONS...]: korvane-sim with its link at $link, its lines socket at $lines
# and its flash dumped to $flash at exit. Sets sim_start_ms; the times in its log count
# from a little later.
start_sim() {
  link=${sim_link:-$work/$case_name.tty}
  lines=$work/$case_name.lines
  flash=$work/$case_name.flash
  # A link left behind would pass for the new one.
  [[ -L $link ]] && rm -f "$link"
  sim_start_ms=$(now_ms)
  "$sim" --link "$link" --lines "$lines" --flash-out "$flash" --timeout 30 "$@" \
    >"$(out sim.out)" 2>"$(out sim.err)" &
  sim_pid=$!
  local i
  for ((i = 0; i < 250; ++i)); do
    # The socket is bound after the link is made.
    [[ -L $link && -S $lines ]] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.02
  done
  fail "korvane-sim did not come up: $(cat "$(out sim.err)")"
  return 1
}

# finish_sim by-itself|term: waits for korvane-sim to end (by itself within 5 s, or
# after SIGTERM); sets sim_summary (its last line on stderr).
finish_sim() {
  local i
  [[ $1 == term ]] && kill -TERM "$sim_pid" 2>/dev/null
  for ((i = 0; i < 250; ++i)); do
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.02
  done
  if kill -0 "$sim_pid" 2>/dev/null; then
    fail "korvane-sim did not end ($1)"
    kill -KILL "$sim_pid"
  fi
  wait "$sim_pid"
  local code=$?
  sim_pid=""
  sim_summary=$(tail -n 1 "$(out sim.err)")
  ((code == 0)) || fail "korvane-sim exit code $code: $sim_summary"
  [[ -e $link ]] && fail "korvane-sim left its link behind"
}

# Ends a korvane-sim that is still running (after a failed case, or at exit).
stop_sim() {
  if [[ -n $sim_pid ]]; then
    kill -KILL "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=""
  fi
}

expect_exit() {
  [[ $cli_code == "$1" ]] ||
    fail "$program exit code $cli_code, expected $1; stderr: $(cat "$(out cli.err)")"
}

# expect_flash FILE [BYTES]: the flash starts with the first BYTES (all) of FILE.
expect_flash() {
  local bytes=${2:-$(stat -c %s "$1")}
  cmp -s -n "$bytes" "$1" "$flash" || fail "flash differs from $(basename "$1") in its first $bytes bytes"
}

# run_cases CASE_FUNCTION...: runs each case, prints a line per case and the closing
# "N passed, N failed"; succeeds when all passed.
run_cases() {
  local total_start passed=0 case_function case_start before status log
  total_start=$(now_ms)
  for case_function in "$@"; do
    case_name=${case_function#case_}
    case_start=$(now_ms)
    before=$failures
    "$case_function"
    stop_sim
    status=ok
    if ((failures > before)); then
      status=FAILED
      for log in "$(out sim.err)" "$(out cli.err)"; do
        [[ -s $log ]] && { echo "--- $(basename "$log") (last lines)"; tail -n 15 "$log"; }
      done
    else
      passed=$((passed + 1))
    fi
    printf '%-7s %-16s %6d ms\n' "$status" "$case_name" $(($(now_ms) - case_start))
  done
  echo "total $(($(now_ms) - total_start)) ms"
  echo "$passed passed, $(($# - passed)) failed"
  ((passed == $#))
}
