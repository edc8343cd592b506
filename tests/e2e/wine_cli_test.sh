#!/usr/bin/env bash
# End-to-end: the Windows korvane-cli.exe, under Wine, writes through Wine's COM port
# (a real pty from korvane-sim) into the simulated chip. Wine's serial code runs in the
# program's own 32-bit Linux process, so the modem-line shim, built 32-bit and preloaded
# into it, carries its RTS and DTR changes to korvane-sim.
#
# usage: wine_cli_test.sh [KORVANE_CLI_EXE KORVANE_SIM BLINK_BIN]
#   defaults: build/windows/bin/korvane-cli.exe build/linux/bin/korvane-sim
#             examples/blink/blink.bin
# Uses the Wine environment of scripts/wine-env.sh when it is sourced already (as in
# scripts/test); otherwise sources it and stops Wine at the end. Needs gcc with -m32.
#
# korvane-sim runs in real time, so every case here ends without an ISP time-out.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
if (($# == 3)); then
  cli=$1 sim=$2 blink=$3
elif (($# == 0)); then
  cli=$root/build/windows/bin/korvane-cli.exe sim=$root/build/linux/bin/korvane-sim
  blink=$root/examples/blink/blink.bin
else
  echo "usage: $0 [KORVANE_CLI_EXE KORVANE_SIM BLINK_BIN]" >&2
  exit 2
fi
for file in "$cli" "$sim" "$blink"; do
  [[ -f $file ]] || { echo "wine_cli_test: $file is missing (build both presets first)" >&2; exit 2; }
done
# Absolute paths: the images are named to korvane-cli.exe as Z:/PATH.
cli=$(realpath "$cli") sim=$(realpath "$sim") blink=$(realpath "$blink")

# korvane-sim of the linux preset is built with AddressSanitizer; it preloads nothing.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

# Longest the wrong chip may keep korvane-cli.exe running after its last command: below
# the 2000 ms ISP time-out, so a failure that waited for a time-out fails the case.
readonly quick_ms=1900

work=$(mktemp -d)
program=korvane-cli.exe
# shellcheck source=tests/e2e/sim_harness.sh
source "$root/tests/e2e/sim_harness.sh"
# shellcheck source=tests/e2e/wine_harness.sh
source "$root/tests/e2e/wine_harness.sh"

# Variables for korvane-cli.exe's environment, such as its language.
cli_env=()

# run_cli FILE: wine korvane-cli.exe -q -p COM<n> FILE with the shim; sets cli_code and
# cli_end_ms. Wine's output goes to files only: its background processes would hold a
# pipe open.
run_cli() {
  local start
  start=$(now_ms)
  timeout -k 5 30 env LD_PRELOAD="$preload" KORVANE_SIM_LINES="$lines" "${cli_env[@]}" \
    "$KORVANE_WINE" "$cli" -q -p "COM$KORVANE_SIM_COM" "Z:$1" </dev/null >"$(out cli.out)" 2>"$(out cli.err)"
  cli_code=$?
  cli_end_ms=$(now_ms)
  echo "  $case_name: korvane-cli.exe ran $((cli_end_ms - start)) ms"
}

expect_no_stderr() {
  [[ ! -s $(out cli.err) ]] || fail "korvane-cli.exe stderr '$(cat "$(out cli.err)")', expected none"
}

# A real program: written through COM1, verified, and started by the chip after the
# restart. The resets and the boot-loader entry come from Wine's modem-line calls.
case_blink() {
  start_sim -v --exit-after-restart || return
  run_cli "$blink"
  expect_exit 0
  expect_no_stderr
  grep -q '^wrote 148 bytes (1 sector) in ' "$(out cli.out)" || fail "stdout: $(cat "$(out cli.out)")"
  finish_sim by-itself
  expect_flash "$blink"
  [[ $sim_summary == "korvane-sim: the program started; 2 resets, 1 program start; chip: running the user program" ]] ||
    fail "korvane-sim summary: $sim_summary"
}

# Several blocks over two sectors; no valid vector table, so korvane-cli.exe warns that
# the chip will not start it, and the chip is stopped by hand.
case_random_image() {
  head -c 5000 /dev/urandom >"$work/random.bin"
  start_sim -v || return
  run_cli "$work/random.bin"
  expect_exit 0
  [[ $(tr -d '\r' <"$(out cli.err)") == "korvane-cli: warning: the image's first eight vectors do not add up to 0, so the chip's boot ROM will not start it"* ]] ||
    fail "korvane-cli.exe stderr '$(cat "$(out cli.err)")', expected the vector checksum warning alone"
  [[ $(wc -l <"$(out cli.err)") == 1 ]] || fail "korvane-cli.exe stderr has more than the warning: $(cat "$(out cli.err)")"
  finish_sim term
  expect_flash "$work/random.bin"
  [[ $sim_summary == "korvane-sim: stopped; 2 resets, "* ]] || fail "korvane-sim summary: $sim_summary"
}

# Another chip answers the part identification: refused at once, in Japanese where the
# environment asks for it. A redirected stderr gets the console's code page (CP932 in a
# Japanese locale) or else UTF-8, with CRLF.
case_wrong_part() {
  start_sim -v --part-id 12345  # -v: its log times the last command || return
  cli_env=(LC_ALL=ja_JP.UTF-8)
  run_cli "$blink"
  cli_env=()
  expect_exit 1
  local text="korvane-cli: 指定以外のマイコンが装着されています。"
  printf '%s\r\n' "$text" "  読み取った品番ID: 0x00003039（受け付けるのは korvane-cli --list-parts のパーツ）" \
    "  次の手順: ボードを確かめてください。Korvane が書き込めるパーツは korvane-cli --list-parts で分かり、--part でボードのパーツを指定できます" >"$work/expected.utf8"
  iconv -f UTF-8 -t CP932 "$work/expected.utf8" >"$work/expected.cp932"
  cmp -s "$work/expected.utf8" "$(out cli.err)" || cmp -s "$work/expected.cp932" "$(out cli.err)" ||
    fail "korvane-cli.exe stderr '$(cat "$(out cli.err)")', expected '$text' in UTF-8 or CP932"
  finish_sim term
  # From the chip's last command ("J", read part ID) to the end of korvane-cli.exe.
  local last
  last=$(grep '  > ' "$(out sim.err)" | tail -n 1)
  [[ $last == *"> J" ]] || fail "korvane-cli.exe's last command: '$last', expected J"
  local after_ms
  after_ms=$(awk -v line="$last" -v end=$((cli_end_ms - sim_start_ms)) \
    'BEGIN { split(line, f, " "); printf "%d", end - f[2] * 1000 }')
  ((after_ms < quick_ms)) || fail "korvane-cli.exe ended $after_ms ms after its last command"
}

# The ports the system lists, with the one Wine maps to korvane-sim's pty among them, and
# the example program read from Intel HEX (it has no vector checksum: only .bin gets one).
case_ports_and_hex() {
  timeout -k 5 30 "$KORVANE_WINE" "$cli" --list-ports </dev/null >"$(out ports.out)" 2>"$(out ports.err)"
  cli_code=$?
  expect_exit 0
  grep -q "^  COM$KORVANE_SIM_COM"$'\r'"\?$" "$(out ports.out)" || fail "--list-ports: $(cat "$(out ports.out)")"
  start_sim -v || return
  run_cli "$root/examples/blink/blink.hex"
  expect_exit 0
  grep -q '^wrote 148 bytes from Intel HEX (1 sector) in ' "$(out cli.out)" || fail "stdout: $(cat "$(out cli.out)")"
  finish_sim term
}

# The monitor after a write, through COM1: the program on the chip sends back what it
# gets from korvane-cli.exe's input (a file here), and the end of the input ends it.
case_monitor() {
  start_sim -v --program-echo || return
  printf 'ping\r' >"$work/typed"
  timeout -k 5 30 env LD_PRELOAD="$preload" KORVANE_SIM_LINES="$lines" \
    "$KORVANE_WINE" "$cli" -q --monitor -p "COM$KORVANE_SIM_COM" "Z:$blink" <"$work/typed" >"$(out cli.out)" 2>"$(out cli.err)"
  cli_code=$?
  expect_exit 0
  [[ $(tail -c 5 "$(out cli.out)") == $'ping\r' ]] || fail "stdout ends with: $(tail -c 20 "$(out cli.out)" | od -c)"
  grep -q 'korvane-cli: monitor ended' "$(out cli.err)" || fail "stderr: $(cat "$(out cli.err)")"
  finish_sim term
  expect_flash "$blink"
}

run_cases case_blink case_random_image case_wrong_part case_ports_and_hex case_monitor
