# Shared by the end-to-end scripts that run a Korvane program against korvane-sim: each
# case starts korvane-sim, runs the program, checks, and stops korvane-sim. Source it
# after setting:
#   work     a scratch folder          sim      the korvane-sim program
#   program  the name used in failure messages
#   sim_link (optional) a fixed path for korvane-sim's link; else one per case in $work
# It defines now_ms, fail, out, wait_until, start_sim, wait_for_exit, finish_sim, stop_sim,
# expect_exit, expect_flash, expect_line_sequences and run_cases (which runs $after_case,
# when set, after each case).

failures=0
case_name=""
sim_pid=""

now_ms() { date +%s%3N; }

# The longest a case waits for what comes as soon as the programs get to it (korvane-sim's
# link, a line in a log, the end of a process): far beyond what a loaded machine needs,
# so that only what never comes reaches it.
patience_s=30

# wait_until SECONDS CONDITION: evaluates the shell CONDITION every 20 ms until it holds;
# fails when SECONDS have passed first.
wait_until() {
  local until_ms=$(($(now_ms) + $1 * 1000))
  until eval "$2"; do
    (($(now_ms) < until_ms)) || return 1
    sleep 0.02
  done
}

fail() {
  echo "FAIL [$case_name]: $*" >&2
  failures=$((failures + 1))
}

# out SUFFIX: the file of this case's output with that suffix.
out() { echo "$work/$case_name.$1"; }

# start_sim [OPTIONS...]: korvane-sim with its link at $link, its lines socket at $lines,
# its flash dumped to $flash at exit and its wire log in $wire_log. Bytes take their real
# time on the wire (--pace) unless sim_pace=0. Sets sim_start_ms; the times in its -v
# output count from a little later.
start_sim() {
  link=${sim_link:-$work/$case_name.tty}
  lines=$work/$case_name.lines
  flash=$work/$case_name.flash
  wire_log=$work/$case_name.wire
  local pace=()
  [[ ${sim_pace:-1} == 1 ]] && pace=(--pace)
  # A link left behind would pass for the new one.
  [[ -L $link ]] && rm -f "$link"
  sim_start_ms=$(now_ms)
  "$sim" --link "$link" --lines "$lines" --flash-out "$flash" --log "$wire_log" --timeout 30 \
    "${pace[@]}" "$@" \
    >"$(out sim.out)" 2>"$(out sim.err)" &
  sim_pid=$!
  # The socket is bound after the link is made.
  wait_until "$patience_s" '[[ -L $link && -S $lines ]] || ! kill -0 "$sim_pid" 2>/dev/null'
  [[ -L $link && -S $lines ]] && return 0
  fail "korvane-sim did not come up: $(cat "$(out sim.err)")"
  return 1
}

# wait_for_exit PID SECONDS: until the process has ended; fails when it still runs then.
wait_for_exit() { wait_until "$2" "! kill -0 $1 2>/dev/null"; }

# finish_sim by-itself|term: waits for korvane-sim to end (by itself, or after SIGTERM);
# sets sim_summary (its last line on stderr).
finish_sim() {
  [[ $1 == term ]] && kill -TERM "$sim_pid" 2>/dev/null
  if ! wait_for_exit "$sim_pid" "$patience_s"; then
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

# expect_erased FROM TO: the flash holds 0xFF from byte FROM up to (not including) TO.
expect_erased() {
  local from=$1 to=$2
  ((to > from)) || return 0
  cmp -s -i "$from:0" -n "$((to - from))" "$flash" <(head -c "$((to - from))" /dev/zero | tr '\0' '\377') ||
    fail "the flash is not erased from $from to $to"
}

# expect_line_sequences [ATTEMPTS]: from $wire_log, the reset into the boot loader (RTS
# asserted, then DTR; DTR released 50 ms later; RTS released 100 ms after that; then
# "?") made ATTEMPTS times (default 1), and the restart after the last copy (RTS
# released, then DTR pulsed for 50 ms), each wait at least its length (a sleep never
# ends early) and at most line_slack_ms above it: a busy machine may wake the program
# late, so the slack only catches a wait of the wrong kind (a second instead of 100 ms).
line_slack_ms=${line_slack_ms:-150}
expect_line_sequences() {
  local verdict
  verdict=$(awk -v attempts="${1:-1}" -v slack="$line_slack_ms" '
    function ms(a, b) { return (b - a) * 1000 }
    function within(what, got, want) {
      if (got < want - 0.05 || got > want + slack)
        problems = problems sprintf("%s %.2f ms, expected %d ms; ", what, got, want)
    }
    $2 == "RTS" || $2 == "DTR" { n++; name[n] = $2 " " $3; t[n] = $1; next }
    $2 == ">" && $3 == "?" { sync[++syncs] = $1; synced_after[syncs] = n }
    $2 == "<" { last_answer = $1 }
    END {
      resets = 0
      for (i = 1; i + 3 <= n; i++) {
        if (name[i] != "RTS 1") continue
        resets++
        if (name[i+1] != "DTR 1" || name[i+2] != "DTR 0" || name[i+3] != "RTS 0") {
          problems = problems sprintf("reset %d: %s, %s, %s after RTS 1; ", resets, name[i+1], name[i+2], name[i+3])
          continue
        }
        within("reset pulse", ms(t[i+1], t[i+2]), 50)
        within("RTS after reset", ms(t[i+2], t[i+3]), 100)
        if (syncs < resets || synced_after[resets] != i + 3)
          problems = problems sprintf("reset %d: not followed by \"?\"; ", resets)
        else if (sync[resets] < t[i+3]) problems = problems "\"?\" before RTS was released; "
      }
      if (resets != attempts) problems = problems sprintf("%d resets into the boot loader, expected %d; ", resets, attempts)
      if (n < 3 || name[n-2] != "RTS 0" || name[n-1] != "DTR 1" || name[n] != "DTR 0")
        problems = problems sprintf("restart ends %s, %s, %s; ", name[n-2], name[n-1], name[n])
      else {
        within("restart pulse", ms(t[n-1], t[n]), 50)
        if (t[n-2] < last_answer) problems = problems "restart before the last answer; "
      }
      printf "%s", problems == "" ? "ok" : problems
    }' "$wire_log")
  [[ $verdict == ok ]] || fail "line sequences in $(basename "$wire_log"): $verdict"
}

# run_cases CASE_FUNCTION...: runs each case, prints a line per case and the closing
# "N passed, N failed"; succeeds when all passed. With list_cases=1 (a script's --list)
# it runs none and prints their names, one a line: the build registers a test for each.
run_cases() {
  local total_start passed=0 case_function case_start before status log
  if [[ ${list_cases:-0} == 1 ]]; then
    printf '%s\n' "${@#case_}"
    return
  fi
  # KORVANE_E2E_CASES="monitor blink" runs only those cases, for the edit-test loop.
  if [[ -n ${KORVANE_E2E_CASES:-} ]]; then
    local wanted=() name
    for name in $KORVANE_E2E_CASES; do wanted+=("case_$name"); done
    set -- "${wanted[@]}"
  fi
  total_start=$(now_ms)
  for case_function in "$@"; do
    case_name=${case_function#case_}
    case_start=$(now_ms)
    before=$failures
    if declare -F "$case_function" >/dev/null; then
      "$case_function"
    else
      fail "no such case"
    fi
    [[ -n ${after_case:-} ]] && $after_case
    stop_sim
    status=ok
    if ((failures > before)); then
      status=FAILED
      for log in "$(out sim.err)" "$(out cli.err)" "$(out gui.err)"; do
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
