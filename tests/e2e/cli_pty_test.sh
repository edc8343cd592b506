#!/usr/bin/env bash
# End-to-end: korvane-cli writes through a real pseudo-terminal into korvane-sim, with
# the modem-line shim preloaded so that its RTS and DTR changes reach the chip.
# korvane-sim runs in real time, so every case here ends without an ISP time-out.
#
# usage: cli_pty_test.sh KORVANE_CLI KORVANE_SIM MODEM_SHIM BLINK_BIN
#        cli_pty_test.sh --list   (the names of the cases, which KORVANE_E2E_CASES takes)
set -uo pipefail

list_cases=0
if [[ $# == 1 && $1 == --list ]]; then
  list_cases=1
elif (($# != 4)); then
  echo "usage: $0 KORVANE_CLI KORVANE_SIM MODEM_SHIM BLINK_BIN | --list" >&2
  exit 2
fi
cli=${1:-} sim=${2:-} shim=${3:-} blink=${4:-}

# korvane-cli may be built with AddressSanitizer, whose runtime asks to be the first
# library loaded; the preloaded shim comes before it, which does no harm here.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
# korvane-cli speaks English unless a case asks for Japanese.
export LC_ALL=C.UTF-8

# Longest a failing write may take: below the 2000 ms ISP time-out, so a case that
# waited for a time-out (or five) fails.
readonly quick_ms=1900
cli_options=()
cli_env=()  # variables for korvane-cli's environment, such as its language

work=$(mktemp -d)
program=korvane-cli
# shellcheck source=tests/e2e/sim_harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/sim_harness.sh"
cli_pid=""
cleanup() {
  [[ -n $cli_pid ]] && kill -KILL "$cli_pid" 2>/dev/null
  stop_sim
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# run_cli [--no-shim] FILE: korvane-cli -q -p $link FILE (with the options in the array
# cli_options, when set); sets cli_code and cli_ms.
run_cli() {
  local env=("LD_PRELOAD=$shim" "KORVANE_SIM_LINES=$lines")
  if [[ $1 == --no-shim ]]; then
    env=()
    shift
  fi
  local start
  start=$(now_ms)
  timeout 20 env "${env[@]}" "${cli_env[@]}" "$cli" -q "${cli_options[@]}" -p "$link" "$1" >"$(out cli.out)" 2>"$(out cli.err)"
  cli_code=$?
  cli_ms=$(($(now_ms) - start))
}

# expect_vector_warning: korvane-cli's stderr starts with the warning that the chip will
# not start the image (random bytes have no vector checksum); the line is taken off, so
# that expect_stderr judges the rest.
expect_vector_warning() {
  local err
  err=$(out cli.err)
  if head -n 1 "$err" | grep -q "^korvane-cli: warning: .*, so the chip's boot ROM will not start it"; then
    tail -n +2 "$err" >"$err.rest" && mv "$err.rest" "$err"
  else
    fail "no warning about the vector checksum: $(head -n 1 "$err")"
  fi
}

# expect_stderr TEXT: korvane-cli's stderr is exactly TEXT and a newline; empty for "".
expect_stderr() {
  if [[ -z $1 ]]; then
    [[ ! -s $(out cli.err) ]] || fail "korvane-cli stderr '$(cat "$(out cli.err)")', expected none"
    return
  fi
  printf '%s\n' "$1" | cmp -s - "$(out cli.err)" ||
    fail "korvane-cli stderr '$(cat "$(out cli.err)")', expected '$1'"
}

# expect_quick: korvane-cli waited for no ISP time-out. With the shim, the time it held
# the port is judged: from its low-latency request at the open to the taking back at the
# close, both stamped by the shim on korvane-cli's own clock, so that the start and the
# end of the process, which a loaded machine stretches most, are left out. Without the
# shim, korvane-cli does next to nothing, and its whole run is judged.
expect_quick() {
  local held_ms
  held_ms=$(awk '$2 == "LOWLAT" && $3 == 1 && !open { open = $1 }
    $2 == "LOWLAT" && $3 == 0 { closed = $1 }
    END { if (open && closed) printf "%d", (closed - open) * 1000 }' "$wire_log")
  if [[ -n $held_ms ]]; then
    ((held_ms < quick_ms)) || fail "korvane-cli held the port $held_ms ms, expected below $quick_ms ms"
    echo "  korvane-cli held the port $held_ms ms, its run took $cli_ms ms"
  else
    ((cli_ms < quick_ms)) || fail "korvane-cli took $cli_ms ms, expected below $quick_ms ms"
    echo "  korvane-cli took $cli_ms ms"
  fi
}

# A real program: written, verified, and started by the chip after the restart.
case_blink() {
  start_sim --exit-after-restart || return
  run_cli "$blink"
  expect_exit 0
  expect_stderr ""
  grep -q '^wrote 148 bytes (1 sector) in ' "$(out cli.out)" || fail "stdout: $(cat "$(out cli.out)")"
  finish_sim by-itself
  expect_flash "$blink"
  expect_line_sequences
  # One reset into the boot loader, one into the program, which the chip then ran.
  [[ $sim_summary == "korvane-sim: the program started; 2 resets, 1 program start; chip: running the user program" ]] ||
    fail "korvane-sim summary: $sim_summary"
}

# write_part PART BYTES SECTORS: a random image of BYTES written into korvane-sim as PART
# through the pty and verified, the flash byte-exact, SECTORS erased as the part's own.
write_part() {
  local image=$work/$case_name.bin
  head -c "$2" /dev/urandom >"$image"
  sim_pace=0 start_sim --part "$1" || return
  cli_options=(--verify)
  run_cli "$image"
  cli_options=()
  expect_exit 0
  expect_vector_warning
  grep -q "^wrote $2 bytes ($3 sectors) in " "$(out cli.out)" || fail "stdout: $(cat "$(out cli.out)")"
  finish_sim term
  expect_flash "$image"
}

# Another family: an LPC1768, an image across its 4 KiB/32 KiB sector boundary; the chip
# named on the first line.
case_family_lpc1768() {
  write_part LPC1768 81920 17 || return
  grep -qx 'chip: LPC1768 (0x26013F37)' "$(out cli.out)" || fail "stdout: $(cat "$(out cli.out)")"
}

# A part with 2 KiB of SRAM writes in blocks of 512 bytes, which stay clear of the boot
# loader's stack at the top of its RAM (korvane-sim counts any write into it).
case_family_small_ram() {
  write_part LPC1111FHN33/101 8192 2 || return
  grep -q '> W 268436224 512' "$wire_log" || fail "no block of 512 bytes: $(grep -m1 '> W ' "$wire_log")"
  if grep -q "boot loader's own RAM" "$wire_log"; then fail "a write into the boot loader's own RAM"; fi
}

# Random images from one byte to the whole flash, without the wire's pace: the flash as
# korvane-sim dumps it at the restart, and the line sequences. No valid vector table, so
# the chip is stopped by hand.
random_image_case() {
  local size=$1 image=$work/random-$1.bin dump=$work/$case_name.dump
  head -c "$size" /dev/urandom >"$image"
  sim_pace=0 start_sim --dump "$dump" || return
  run_cli "$image"
  expect_exit 0
  expect_vector_warning
  expect_stderr ""
  # Written at the restart, while korvane-sim still runs.
  cmp -s -n "$size" "$image" "$dump" || fail "the flash dumped at the restart differs from the image"
  expect_line_sequences
  finish_sim term
  expect_flash "$image"
  # Whatever the chip's RAM held, the rest of the erased sectors holds nothing.
  expect_erased "$size" $(((size + 4095) / 4096 * 4096))
  [[ $sim_summary == "korvane-sim: stopped; 2 resets, "* ]] || fail "korvane-sim summary: $sim_summary"
}
random_sizes=(1 1000 4097 32768)
for size in "${random_sizes[@]}"; do
  eval "case_random_$size() { random_image_case $size; }"
done

# A chip that ignores the first "?": the job resets it again and writes at the second
# attempt, two seconds later.
case_second_attempt() {
  start_sim --rule '?:silent@1' || return
  local before
  before=$(stty -F "$link" -g)
  run_cli "$blink"
  expect_exit 0
  # The device is left as korvane-cli found it (not at 57600 baud, raw).
  [[ $(stty -F "$link" -g) == "$before" ]] || fail "port settings left changed: $before -> $(stty -F "$link" -g)"
  expect_stderr ""
  finish_sim term
  expect_flash "$blink"
  expect_line_sequences 2
}

# Another chip answers the part identification: refused without a time-out.
case_wrong_part() {
  start_sim --part-id 12345 || return
  cli_env=(LC_ALL=ja_JP.UTF-8)
  run_cli "$blink"
  cli_env=()
  expect_exit 1
  expect_stderr "korvane-cli: 指定以外のマイコンが装着されています。
  読み取った品番ID: 0x00003039（受け付けるのは korvane-cli --list-parts のパーツ）
  次の手順: ボードを確かめてください。Korvane が書き込めるパーツは korvane-cli --list-parts で分かり、--part でボードのパーツを指定できます"
  expect_quick
  finish_sim term
}

# Without the shim the pty refuses the line changes: the chip cannot be reset at all,
# and korvane-cli says why.
case_no_modem_lines() {
  start_sim || return
  run_cli --no-shim "$blink"
  expect_exit 1
  # The job's message, then what the port did and what the system said of it.
  expect_stderr "korvane-cli: the chip's boot loader did not answer
  the port did not move RTS and DTR for the reset, after 5 attempts
  port: $link: set RTS: Inappropriate ioctl for device
  next: this port cannot move RTS and DTR (a pseudo-terminal and some adapters have no modem lines): reset the board into its boot loader by hand with --reset none"
  expect_quick
  finish_sim term
  [[ $sim_summary == *"; 0 resets, "* ]] || fail "korvane-sim summary: $sim_summary"
}

# Ctrl-C (SIGINT), SIGTERM or SIGHUP once the first block (the one at 1024; block 0 goes
# last) is in flash: the write stops between blocks, and sector 0's first block stays
# erased, so the chip keeps to its boot loader.
interrupt_case() {
  local signal=$1
  head -c 32768 /dev/urandom >"$work/full.bin"
  start_sim --verbose || return
  timeout 30 env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$lines" \
    "$cli" -q -p "$link" "$work/full.bin" >"$(out cli.out)" 2>"$(out cli.err)" &
  cli_pid=$!
  wait_until "$patience_s" 'grep -q "> C 1024 " "$(out sim.err)" || ! kill -0 "$cli_pid" 2>/dev/null'
  grep -q '> C 1024 ' "$(out sim.err)" || fail "the first block was not copied: $(tail -n 3 "$(out sim.err)")"
  local start
  start=$(now_ms)
  kill "-$signal" "$cli_pid"  # timeout hands it on to korvane-cli
  wait "$cli_pid"
  cli_code=$?
  cli_pid=""
  local stop_ms=$(($(now_ms) - start))
  expect_exit 3
  expect_vector_warning
  expect_stderr "korvane-cli: the write was aborted"
  # The block under way is finished first: a few hundred ms at 57600 baud.
  ((stop_ms < quick_ms)) || fail "korvane-cli took $stop_ms ms to stop"
  finish_sim term
  cmp -s -i 1024 -n 1024 "$work/full.bin" "$flash" || fail "the first block sent is not in flash"
  expect_erased 0 1024
  # The last sector was erased and never written.
  expect_erased 28672 32768
  echo "  SIG$signal $(grep -c '> C ' "$(out sim.err)") blocks into the write, stopped after $stop_ms ms"
}
# A whole flash at 115200 baud after the handshake, at the wire's pace, verified: every
# byte reaches the chip at the rate it expects, in about half the time of 57600.
case_baud_115200() {
  head -c 32768 /dev/urandom >"$work/fast.bin"
  start_sim || return
  cli_options=(--baud 115200 --verify)
  run_cli "$work/fast.bin"
  cli_options=()
  expect_exit 0
  expect_vector_warning
  expect_stderr ""
  grep -q ' > B 115200 1$' "$wire_log" || fail "no baud command for 115200 in the wire log"
  [[ $(grep -c ' > M ' "$wire_log") == 32 ]] || fail "$(grep -c ' > M ' "$wire_log") compares, expected one a block"
  grep -q '^verified 0x00000200 to 0x00007FFF: the flash equals the image' "$(out cli.out)" ||
    fail "stdout: $(cat "$(out cli.out)")"
  finish_sim term
  expect_flash "$work/fast.bin"
  echo "  32768 bytes at 115200 baud in $cli_ms ms"
}

# The monitor after a write: the program on the chip sends back what it gets; the input
# ends, the board's answer is still shown, and the terminal ends with exit 0.
case_monitor() {
  start_sim --program-echo || return
  printf 'ping\r' >"$work/typed"
  local start
  start=$(now_ms)
  timeout 20 env "LD_PRELOAD=$shim" "KORVANE_SIM_LINES=$lines" "$cli" -q --monitor -p "$link" "$blink" \
    <"$work/typed" >"$(out cli.out)" 2>"$(out cli.err)"
  cli_code=$?
  cli_ms=$(($(now_ms) - start))
  expect_exit 0
  [[ $(tail -c 5 "$(out cli.out)") == $'ping\r' ]] || fail "stdout ends with '$(tail -c 5 "$(out cli.out)" | od -c)'"
  grep -q "^korvane-cli: monitor on $link at 115200 baud" "$(out cli.err)" || fail "stderr: $(cat "$(out cli.err)")"
  grep -q '^korvane-cli: monitor ended$' "$(out cli.err)" || fail "stderr: $(cat "$(out cli.err)")"
  finish_sim term
  expect_flash "$blink"
  echo "  monitor round trip, input ended, in $cli_ms ms"
}

# monitor_run REDIRECTIONS...: korvane-cli -q --monitor -p $link $blink through the
# shim, with its stdout in cli.out and its stderr in cli.err unless told otherwise;
# sets cli_code and cli_ms. A monitor that does not end is killed after 20 s.
monitor_run() {
  local start
  start=$(now_ms)
  eval "timeout 20 env LD_PRELOAD=\"\$shim\" KORVANE_SIM_LINES=\"\$lines\" \"\$cli\" -q --monitor \
    -p \"\$link\" \"\$blink\" >\"\$(out cli.out)\" 2>\"\$(out cli.err)\" $*"
  cli_code=$?
  cli_ms=$(($(now_ms) - start))
}

# expect_ticks: the talking program's lines reached stdout, and the monitor ended.
expect_ticks() {
  grep -q '^tick 1'$'\r''$' "$(out cli.out)" || fail "stdout: $(head -c 200 "$(out cli.out)" | od -c | head -n 3)"
  grep -q '^korvane-cli: monitor ended$' "$(out cli.err)" || fail "stderr: $(cat "$(out cli.err)")"
}

# A board that keeps talking (a line every 200 ms) does not keep the monitor after its
# input has ended: 2 s at most, then exit 0.
case_monitor_talking_board() {
  start_sim --program-talks 200 || return
  monitor_run "</dev/null"
  expect_exit 0
  expect_ticks
  finish_sim term
  echo "  input at its end, talking board: ended after $cli_ms ms (write and 2 s bound)"
}

# With stdin closed, the port must not become descriptor 0: the board's output would be
# read back as typed input and the monitor would never end.
case_monitor_stdin_closed() {
  start_sim --program-talks 200 || return
  monitor_run "<&-"
  expect_exit 0
  expect_ticks
  # Nothing was sent to the running program.
  grep -q '> tick' "$wire_log" && fail "the board's output went back to the board"
  finish_sim term
  echo "  stdin closed: ended after $cli_ms ms"
}

# Its reader gone (| head), the monitor ends as at the end of the input: exit 0, no
# SIGPIPE, although the input never ends (a FIFO that this script holds open for writing).
case_monitor_stdout_reader_gone() {
  start_sim --program-talks 100 || return
  local start codes input=$work/never-ending keep
  mkfifo "$input"
  exec {keep}<>"$input"
  start=$(now_ms)
  timeout 20 env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$lines" "$cli" -q --monitor -p "$link" "$blink" \
    <"$input" 2>"$(out cli.err)" | head -n 3 >"$(out cli.out)"
  codes=("${PIPESTATUS[@]}")
  exec {keep}>&-
  cli_code=${codes[0]}
  cli_ms=$(($(now_ms) - start))
  expect_exit 0
  [[ $(tail -n 1 "$(out cli.out)") == "tick 1"$'\r' ]] || fail "head got '$(od -c "$(out cli.out)")'"
  grep -q '^korvane-cli: monitor ended$' "$(out cli.err)" || fail "stderr: $(cat "$(out cli.err)")"
  finish_sim term
  echo "  stdout's reader gone: ended after $cli_ms ms"
}

# The same on a terminal (script(1) gives the monitor one on stdin, which it sets to raw
# input): when the reader of stdout goes away, the terminal is put back as it was.
case_monitor_terminal_put_back() {
  start_sim --program-talks 100 || return
  local inner
  printf -v inner 'env LD_PRELOAD=%q KORVANE_SIM_LINES=%q %q -q --monitor -p %q %q 2>%q | head -n 3; echo "codes ${PIPESTATUS[*]}"; stty -a' \
    "$shim" "$lines" "$cli" "$link" "$blink" "$(out cli.err)"
  # script(1) runs its command with $SHELL, or sh where that is unset (as under CI): name bash.
  timeout 20 script -qec "bash -c $(printf %q "$inner")" /dev/null </dev/null | tr -d '\r' >"$(out cli.out)"
  grep -q '^codes 0 0$' "$(out cli.out)" || fail "exit codes: $(grep codes "$(out cli.out)")"
  grep -q '^tick 1$' "$(out cli.out)" || fail "no line of the board: $(head -n 3 "$(out cli.out)")"
  grep -Eq '(^| )icanon( |$)' "$(out cli.out)" && grep -Eq '(^| )echo( |$)' "$(out cli.out)" ||
    fail "the terminal was left raw: $(grep -E 'icanon|echo' "$(out cli.out)")"
  finish_sim term
}

# A write that succeeded on the chip succeeds whatever became of stdout: closed, or a
# pipe nobody reads; -d deletes the file that was written.
case_write_stdout_gone() {
  local how
  for how in closed pipe; do
    start_sim --exit-after-restart || return
    cp "$blink" "$work/gone.bin"
    if [[ $how == closed ]]; then
      env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$lines" "$cli" -q -d -p "$link" "$work/gone.bin" \
        >&- 2>"$(out cli.err)"
      cli_code=$?
    else
      env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$lines" "$cli" -q -d -p "$link" "$work/gone.bin" \
        2>"$(out cli.err)" | true
      cli_code=${PIPESTATUS[0]}
    fi
    expect_exit 0
    [[ -e $work/gone.bin ]] && fail "stdout $how: the file written was not deleted"
    finish_sim by-itself
    expect_flash "$blink"
  done
}

# korvane-sim with its standard descriptors closed: its pty and socket must not take
# their places (the device name it prints would go into the chip's own line): they are
# /dev/null, and the chip serves as ever.
case_sim_closed_descriptors() {
  link=$work/closed.tty lines=$work/closed.lines flash=$work/closed.flash
  "$sim" --link "$link" --lines "$lines" --flash-out "$flash" --timeout 30 --verbose --exit-after-restart \
    <&- >&- 2>&- &
  sim_pid=$!
  local i
  wait_until "$patience_s" '[[ -L $link && -S $lines ]]' || fail "korvane-sim did not come up"
  for i in 0 1 2; do
    [[ $(readlink "/proc/$sim_pid/fd/$i") == /dev/null ]] ||
      fail "korvane-sim's descriptor $i is $(readlink "/proc/$sim_pid/fd/$i")"
  done
  run_cli "$blink"
  expect_exit 0
  expect_stderr ""
  if ! wait_for_exit "$sim_pid" "$patience_s"; then
    fail "korvane-sim did not end after the restart"
  fi
  wait "$sim_pid"
  local code=$?
  sim_pid=""
  ((code == 0)) || fail "korvane-sim exit code $code"
  expect_flash "$blink"
}

# Boards wired otherwise, each with a program already running: the matching --reset
# writes it and starts the new program.
case_wirings() {
  local wiring
  # The example program with more behind it: it starts, and the write shows in flash.
  { cat "$blink"; head -c 900 /dev/urandom; } >"$work/wired.bin"
  for wiring in swapped inverted swapped-inverted; do
    start_sim --wiring "$wiring" --flash-in "$blink" --exit-after-restart || return
    cli_options=(--reset "$wiring")
    run_cli "$work/wired.bin"
    cli_options=()
    expect_exit 0
    finish_sim by-itself
    expect_flash "$work/wired.bin"
  done
}

# The default wiring on a swapped board reaches no boot loader, as on a real board: no
# answer after five attempts (five of korvane-cli's time-outs).
case_wrong_wiring() {
  start_sim --wiring swapped --flash-in "$blink" || return
  run_cli "$blink"
  expect_exit 1
  grep -q "^korvane-cli: the chip's boot loader did not answer$" "$(out cli.err)" || fail "stderr: $(cat "$(out cli.err)")"
  grep -q "after 5 attempts$" "$(out cli.err)" || fail "stderr: $(cat "$(out cli.err)")"
  finish_sim term
  echo "  a wrong wiring failed after $cli_ms ms"
}

# No lines at all (--reset none): the chip waits in its boot loader (the ISP button held
# through a reset), korvane-cli raises no line and starts the program with G 0 T.
case_reset_none() {
  start_sim --wiring none --exit-after-restart || return
  cli_options=(--reset none)
  run_cli "$blink"
  cli_options=()
  expect_exit 0
  grep -q '^korvane-cli: --reset none: hold the ISP button' "$(out cli.err)" || fail "stderr: $(cat "$(out cli.err)")"
  finish_sim by-itself
  expect_flash "$blink"
  grep -q ' > G 0 T$' "$wire_log" || fail "no G 0 T in the wire log"
  # The settings leave both lines off, as they were; none is ever raised.
  grep -Eq ' (RTS|DTR) 1' "$wire_log" && fail "a line moved: $(grep -E ' (RTS|DTR) 1' "$wire_log" | head -n 2)"
  [[ $sim_summary == *"1 program start"* ]] || fail "korvane-sim summary: $sim_summary"
}

# A USB adapter that holds replies 16 ms: korvane-cli asks its driver for low latency
# (the shim forwards the request), and puts the flag back when it closes the port;
# with --no-low-latency it asks nothing.
case_low_latency() {
  # korvane-sim runs until korvane-cli has closed the port, which takes the request back.
  start_sim --adapter-latency 16 || return
  cli_options=(-v)
  run_cli "$blink"
  cli_options=()
  expect_exit 0
  grep -q '\] low latency: on (put back on close)$' "$(out cli.err)" || fail "stderr: $(head -n 3 "$(out cli.err)")"
  # The taking back is on its way to korvane-sim when korvane-cli ends.
  wait_until "$patience_s" 'grep -q "LOWLAT 0" "$wire_log"'
  finish_sim term
  expect_flash "$blink"
  [[ $(grep -o 'LOWLAT [01]' "$wire_log" | tr '\n' ' ') == "LOWLAT 1 LOWLAT 0 " ]] ||
    fail "requests in the wire log: $(grep LOWLAT "$wire_log")"
  start_sim --adapter-latency 16 || return
  cli_options=(--no-low-latency)
  run_cli "$blink"
  cli_options=()
  expect_exit 0
  finish_sim term
  grep -q LOWLAT "$wire_log" && fail "a request with --no-low-latency: $(grep LOWLAT "$wire_log")"
}

# make_crp1_image OUT: the example program with the protection word of CRP1 at 0x2FC.
make_crp1_image() {
  python3 - "$blink" "$1" <<'PY'
import sys
image = bytearray(open(sys.argv[1], 'rb').read())
image += b'\xff' * (0x300 - len(image))
image[0x2FC:0x300] = (0x12345678).to_bytes(4, 'little')
open(sys.argv[2], 'wb').write(image)
PY
}

# A chip under code read protection level 1 refuses the write at its erase, with the way
# out named; --erase-all FILE erases it, resets it and writes FILE; --info then tells.
case_protected_chip() {
  make_crp1_image "$work/crp1.bin"
  start_sim --flash-in "$work/crp1.bin" || return
  run_cli "$blink"
  expect_exit 1
  expect_stderr "korvane-cli: erasing the flash failed
  the boot loader answered E 0 0 with CODE_READ_PROTECTION_ENABLED (19)
  next: the chip's code read protection refuses this; korvane-cli --erase-all erases the whole flash, which lifts it (korvane-cli --erase-all FILE then writes FILE)"
  cli_options=(--erase-all)
  run_cli "$blink"
  cli_options=()
  expect_exit 0
  timeout 20 env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$lines" "$cli" --info -p "$link" \
    >"$(out info.out)" 2>"$(out cli.err)"
  cli_code=$?
  expect_exit 0
  grep -q '^code read protection: reading is allowed' "$(out info.out)" || fail "--info: $(cat "$(out info.out)")"
  grep -q '^sector 1 (0x1000-0x1FFF): blank$' "$(out info.out)" || fail "--info: $(cat "$(out info.out)")"
  finish_sim term
  expect_flash "$blink"
  expect_erased 148 32768
}

# Under CRP1 the chip refuses G 0 T until its next reset, even right after the erase that
# lifted the protection: --info tells what it read and --erase-all its erase, each with
# the refused start as a note, exit 0.
case_protected_chip_and_go() {
  make_crp1_image "$work/crp1.bin"
  start_sim --flash-in "$work/crp1.bin" || return
  local note="korvane-cli: note: the chip's code read protection holds until its next reset, and until then it refuses to start a program (G 0 T): reset the board"
  timeout 20 env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$lines" "$cli" -q --info --after go -p "$link" \
    >"$(out cli.out)" 2>"$(out cli.err)"
  cli_code=$?
  expect_exit 0
  grep -q '^code read protection: reading is blocked' "$(out cli.out)" || fail "--info: $(cat "$(out cli.out)")"
  expect_stderr "$note"
  timeout 20 env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$lines" "$cli" -q --erase-all --after go -p "$link" \
    >"$(out cli.out)" 2>"$(out cli.err)"
  cli_code=$?
  expect_exit 0
  grep -q '^erased all 8 sectors in ' "$(out cli.out)" || fail "--erase-all: $(cat "$(out cli.out)")"
  expect_stderr "$note"
  finish_sim term
  expect_erased 0 32768
}

# Two reads into one OUT at once, from two chips: each through a file of its own, so OUT
# holds the whole flash of one of them and nothing else is left beside it.
case_two_reads_one_out() {
  local i round
  for i in 1 2; do
    head -c 32768 /dev/urandom >"$work/chip$i.bin"
    rm -f "$work/reader$i.tty"
    "$sim" --link "$work/reader$i.tty" --lines "$work/reader$i.lines" --flash-in "$work/chip$i.bin" \
      --timeout 60 >"$(out sim$i.out)" 2>"$(out sim$i.err)" &
    eval "reader_pid$i=\$!"
  done
  wait_until "$patience_s" '[[ -S $work/reader1.lines && -S $work/reader2.lines ]]' ||
    fail "korvane-sim did not come up"
  mkdir "$work/reads"
  for round in 1 2 3; do
    local pids=()
    for i in 1 2; do
      timeout 30 env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$work/reader$i.lines" "$cli" -q --read "$work/reads/out.bin" \
        --range 512:32256 -p "$work/reader$i.tty" >"$(out read$i.out)" 2>"$(out read$i.err)" &
      pids+=($!)
    done
    for i in 0 1; do
      wait "${pids[i]}" || fail "round $round: read $((i + 1)) failed: $(cat "$(out read$((i + 1)).err)")"
    done
    cmp -s <(tail -c +513 "$work/chip1.bin") "$work/reads/out.bin" ||
      cmp -s <(tail -c +513 "$work/chip2.bin") "$work/reads/out.bin" ||
      fail "round $round: OUT holds neither chip's flash"
    [[ $(ls "$work/reads") == out.bin ]] || fail "round $round: left beside OUT: $(ls "$work/reads")"
  done
  kill -TERM "$reader_pid1" "$reader_pid2" 2>/dev/null
  wait "$reader_pid1" "$reader_pid2" 2>/dev/null
}

# No file korvane-sim or korvane-cli is given makes it wait: a FIFO or a folder is
# refused at once, a device is never replaced, and stdout that takes no output fails the
# run.
case_files_never_wait() {
  local fifo=$work/fifo code start
  mkfifo "$fifo"
  ln -s /dev/null "$work/null-link"
  local args
  for args in "--flash-in $fifo" "--flash-out $fifo" "--dump $fifo" "--log $fifo" \
    "--flash-in $work" "--flash-out $work/null-link" "--dump /dev/null"; do
    start=$(now_ms)
    # shellcheck disable=SC2086
    timeout 10 "$sim" --link "$work/never.tty" $args >"$(out sim.out)" 2>"$(out sim.err)"
    code=$?
    ((code == 1)) || fail "korvane-sim $args: exit code $code: $(cat "$(out sim.err)")"
    grep -q "not a regular file" "$(out sim.err)" || fail "korvane-sim $args: $(cat "$(out sim.err)")"
    (($(now_ms) - start < 5000)) || fail "korvane-sim $args took $(($(now_ms) - start)) ms"
    [[ ! -e $work/never.tty ]] || fail "korvane-sim $args made its link"
  done
  [[ -p $fifo && -c /dev/null && -L $work/null-link ]] || fail "a FIFO, device or link was replaced"
  for args in --help --version; do
    "$cli" "$args" >/dev/full 2>"$(out cli.err)"
    cli_code=$?
    expect_exit 1
    expect_stderr "korvane-cli: write error on standard output: No space left on device"
  done
}

# Four boards at once: four korvane-sim on their own ptys, at the wire's pace, each with
# its own lines socket (the shim maps each pty to its socket). Every flash holds the image
# (with the vector checksum that --fix-checksum writes). The time is shown, not judged:
# scripts/bench --boards 4 sets it against one board's on an idle machine.
case_four_boards() {
  local image=$work/four.bin i map="" pids=() ports=() start
  head -c 20000 /dev/urandom >"$image"
  for i in 1 2 3 4; do
    rm -f "$work/board$i.tty"
    "$sim" --link "$work/board$i.tty" --lines "$work/board$i.lines" --flash-out "$work/board$i.flash" \
      --timeout 30 --pace --exit-after-restart >"$(out sim$i.out)" 2>"$(out sim$i.err)" &
    pids+=($!)
  done
  for i in 1 2 3 4; do
    wait_until "$patience_s" '[[ -L $work/board$i.tty && -S $work/board$i.lines ]]' ||
      { fail "korvane-sim $i did not come up"; kill -KILL "${pids[@]}"; return; }
    map+="$(readlink -f "$work/board$i.tty")=$work/board$i.lines:"
    ports+=(-p "$work/board$i.tty")
  done
  start=$(now_ms)
  timeout 30 env "LD_PRELOAD=$shim" "KORVANE_SIM_LINES=$map" "$cli" --fix-checksum "${ports[@]}" "$image" \
    </dev/null >"$(out cli.out)" 2>"$(out cli.err)"
  cli_code=$?
  cli_ms=$(($(now_ms) - start))
  expect_exit 0
  grep -q '^4 boards: 4 ok$' "$(out cli.out)" || fail "summary: $(cat "$(out cli.out)")"
  [[ $(grep -c ': ok in ' "$(out cli.err)") == 4 ]] || fail "finished lines: $(cat "$(out cli.err)")"
  for i in 1 2 3 4; do
    if ! wait_for_exit "${pids[$((i - 1))]}" "$patience_s"; then
      fail "korvane-sim $i did not end after the restart"
      kill -KILL "${pids[$((i - 1))]}"
    fi
    # Entry 7 (bytes 28 to 31) holds the checksum that --fix-checksum wrote.
    cmp -s -n 28 "$image" "$work/board$i.flash" && cmp -s -i 32 -n 19968 "$image" "$work/board$i.flash" ||
      fail "board $i: the flash differs from the image"
  done
  wait "${pids[@]}" 2>/dev/null
  echo "  4 boards of 20000 bytes at once in $cli_ms ms"
}

for signal in INT TERM HUP; do
  eval "case_interrupt_$signal() { interrupt_case $signal; }"
done

# Two korvane-cli on one bench, five runs of four simulated boards each, at once, into
# one log and one file of serial numbers: every line of the log whole, and 40 numbers
# from 1000 up, none twice, none left out.
case_bench_two_processes() {
  local i pids=() code log=$work/two.jsonl numbers=$work/two.txt
  for i in 1 2; do
    (
      for run in 1 2 3 4 5; do
        "$cli" -q -p sim -p sim -p sim -p sim --log "$log" --serial 0x7FF0:u32le \
          --serial-file "$numbers" --serial-start 1000 "$blink" || exit 1
      done
    ) >"$(out p$i.out)" 2>"$(out p$i.err)" &
    pids+=($!)
  done
  for i in 0 1; do
    wait "${pids[$i]}"
    code=$?
    ((code == 0)) || fail "korvane-cli $((i + 1)): exit code $code: $(cat "$(out p$((i + 1)).err)")"
  done
  local whole serials
  whole=$(grep -c '^{"time":"[^"]*","host":.*,"read_seconds":[0-9.]*}$' "$log")
  [[ $(wc -l <"$log") == 40 && $whole == 40 ]] || fail "log: $(wc -l <"$log") lines, $whole whole"
  serials=$(grep -o '"serial":[0-9]*' "$log" | cut -d: -f2 | sort -n)
  [[ $serials == "$(seq 1000 1039)" ]] || fail "serial numbers: $(echo $serials)"
  grep -qx 'next 1040' "$numbers" || fail "numbers file: $(cat "$numbers")"
  echo "  2 processes x 5 runs x 4 boards: 40 records, serial numbers 1000 to 1039 once each"
}

# A station of three rounds driven through a real stdin: three Enters, three PASS lines,
# the totals, exit 0; and one ended by q after its first round.
case_station_three_rounds() {
  local code
  printf '\n\n\n' | timeout 30 "$cli" -q --station 3 -p sim "$blink" >"$(out cli.out)" 2>"$(out cli.err)"
  code=$?
  ((code == 0)) || fail "exit code $code: $(cat "$(out cli.err)")"
  [[ $(grep -c '^PASS  sim  ' "$(out cli.out)") == 3 ]] || fail "PASS lines: $(cat "$(out cli.out)")"
  grep -qx "station: 3 rounds, 3 boards written, 0 failed, yield 100.0%" "$(out cli.out)" ||
    fail "totals: $(tail -n 1 "$(out cli.out)")"
  printf '\nq\n\n' | timeout 30 "$cli" -q --station -p sim "$blink" >"$(out cli.out)" 2>"$(out cli.err)"
  code=$?
  ((code == 0)) || fail "q: exit code $code"
  grep -qx "station: 1 round, 1 board written, 0 failed, yield 100.0%" "$(out cli.out)" ||
    fail "q: totals: $(tail -n 1 "$(out cli.out)")"
}

# A station whose boards bring their own USB serial chip (--station usb): the next round
# begins when the port has gone and come back. The port is a link to korvane-sim's
# pseudo-terminal, taken away and made again.
case_station_usb() {
  start_sim || return
  local port=$work/usb.tty code
  ln -s "$(readlink -f "$link")" "$port"
  timeout 60 env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$(readlink -f "$link")=$lines" \
    "$cli" -q --station usb:2 -p "$port" "$blink" </dev/null >"$(out cli.out)" 2>"$(out cli.err)" &
  cli_pid=$!
  wait_until "$patience_s" 'grep -q "^PASS" "$(out cli.out)" && grep -q "round 2: waiting" "$(out cli.err)"' ||
    { fail "no first round: $(cat "$(out cli.out)" "$(out cli.err)")"; return; }
  rm "$port"
  wait_until "$patience_s" 'grep -q "usb.tty is gone" "$(out cli.err)"' || fail "the port's going unnoticed"
  ln -s "$(readlink -f "$link")" "$port"
  wait_for_exit "$cli_pid" "$patience_s" || { fail "the station did not end after 2 rounds"; return; }
  wait "$cli_pid"
  code=$?
  cli_pid=""
  ((code == 0)) || fail "exit code $code: $(cat "$(out cli.err)")"
  [[ $(grep -c "^PASS  $port  " "$(out cli.out)") == 2 ]] || fail "PASS lines: $(cat "$(out cli.out)")"
  grep -qx "station: 2 rounds, 2 boards written, 0 failed, yield 100.0%" "$(out cli.out)" ||
    fail "totals: $(tail -n 1 "$(out cli.out)")"
}

# korvane-sim checks the files it is to write before it makes its link, and a time-out
# too short to count still ends it.
case_sim_options() {
  local code
  "$sim" --link "$work/opt.tty" --dump "$work/no-such-dir/flash" >"$(out sim.out)" 2>"$(out sim.err)"
  code=$?
  ((code == 1)) || fail "korvane-sim with an unwritable --dump: exit code $code"
  grep -q "cannot create a file in $work/no-such-dir: No such file or directory" "$(out sim.err)" ||
    fail "stderr: $(cat "$(out sim.err)")"
  [[ ! -e $work/opt.tty ]] || fail "korvane-sim made its link before checking --dump"
  timeout 10 "$sim" --link "$work/opt.tty" --timeout 1e-10 >"$(out sim.out)" 2>"$(out sim.err)"
  code=$?
  ((code == 1)) || fail "korvane-sim --timeout 1e-10: exit code $code"
  grep -q "timed out" "$(out sim.err)" || fail "stderr: $(cat "$(out sim.err)")"
}

# korvane-sim stopped by a signal at random moments, idle or in the middle of a write:
# it ends within a second every time, exit code 0, its link removed. Ten rounds for
# each of SIGTERM, SIGINT and SIGHUP, each signal a case of its own. The second is
# korvane-sim's own: a stop signal arms an alarm that ends it with SIGALRM (exit code
# 142) after a second, and one that missed the signal ends at its --timeout (exit code
# 1). So the exit code judges the second, and the wait for the end takes the patience
# of every other wait: a loaded machine's late look at the process fails nothing.
sim_stops_case() {
  local round signal=$1 slow=0
  for ((round = 0; round < 10; ++round)); do
    start_sim --verbose || return
    timeout 20 env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$lines" \
      "$cli" -q -p "$link" "$blink" >"$(out cli.out)" 2>"$(out cli.err)" &
    cli_pid=$!
    sleep "$(printf '0.%03d' $((RANDOM % 400)))"
    local start
    start=$(now_ms)
    kill "-$signal" "$sim_pid"
    if ! wait_for_exit "$sim_pid" "$patience_s"; then
      fail "round $round: korvane-sim still runs $patience_s s after SIG$signal: $(ps -o stat=,pcpu=,wchan= -p "$sim_pid")"
      stop_sim
    else
      wait "$sim_pid"
      local code=$?
      sim_pid=""
      ((code == 142)) && fail "round $round: korvane-sim's second after SIG$signal ran out (SIGALRM)"
      ((code == 0 || code == 142)) || fail "round $round: korvane-sim exit code $code after SIG$signal"
      [[ -e $link ]] && fail "round $round: korvane-sim left its link behind"
      slow=$(($(now_ms) - start > slow ? $(now_ms) - start : slow))
    fi
    kill -KILL "$cli_pid" 2>/dev/null
    wait "$cli_pid" 2>/dev/null
    cli_pid=""
  done
  echo "  10 stops by SIG$signal, the slowest in $slow ms"
}
for signal in TERM INT HUP; do
  eval "case_sim_stops_$signal() { sim_stops_case $signal; }"
done

run_cases case_blink "${random_sizes[@]/#/case_random_}" case_second_attempt case_wrong_part \
  case_no_modem_lines case_baud_115200 case_monitor case_monitor_talking_board case_monitor_stdin_closed \
  case_monitor_stdout_reader_gone case_monitor_terminal_put_back case_write_stdout_gone case_wirings case_wrong_wiring case_reset_none case_low_latency \
  case_protected_chip case_protected_chip_and_go case_two_reads_one_out case_files_never_wait case_sim_closed_descriptors case_four_boards \
  case_family_lpc1768 case_family_small_ram case_bench_two_processes case_station_three_rounds case_station_usb case_interrupt_INT case_interrupt_TERM case_interrupt_HUP case_sim_options \
  case_sim_stops_TERM case_sim_stops_INT case_sim_stops_HUP
