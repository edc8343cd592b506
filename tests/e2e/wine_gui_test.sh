#!/usr/bin/env bash
# End-to-end: korvane.exe under Wine in Xvfb, used as a person uses it: keys typed into
# its window with xdotool, its message boxes read back with window_probe.exe. It writes
# through Wine's COM1, a real pty from korvane-sim, with the modem-line shim carrying
# RTS and DTR. Screenshots of the window go to build/screenshots.
#
# usage: wine_gui_test.sh [KORVANE_EXE WINDOW_PROBE_EXE KORVANE_SIM BLINK_BIN]
#   defaults: build/windows/bin/korvane.exe build/windows/bin/window_probe.exe
#             build/linux/bin/korvane-sim examples/blink/blink.bin
# Uses the Wine environment of scripts/wine-env.sh when it is sourced already (as in
# scripts/test); otherwise sources it and stops Wine at the end.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
if (($# == 4)); then
  exe=$1 probe_exe=$2 sim=$3 blink=$4
elif (($# == 0)); then
  exe=$root/build/windows/bin/korvane.exe probe_exe=$root/build/windows/bin/window_probe.exe
  sim=$root/build/linux/bin/korvane-sim blink=$root/examples/blink/blink.bin
else
  echo "usage: $0 [KORVANE_EXE WINDOW_PROBE_EXE KORVANE_SIM BLINK_BIN]" >&2
  exit 2
fi
for file in "$exe" "$probe_exe" "$sim" "$blink"; do
  [[ -f $file ]] || { echo "wine_gui_test: $file is missing (build both presets first)" >&2; exit 2; }
done
exe=$(realpath "$exe") probe_exe=$(realpath "$probe_exe") sim=$(realpath "$sim") blink=$(realpath "$blink")
shots=$root/build/screenshots
mkdir -p "$shots"

export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

work=$(mktemp -d)
program=korvane.exe
# shellcheck source=tests/e2e/sim_harness.sh
source "$root/tests/e2e/sim_harness.sh"
gui_pid=""
stop_gui() {
  [[ -n $gui_pid ]] || return 0
  kill "$gui_pid" 2>/dev/null
  wait "$gui_pid" 2>/dev/null
  gui_pid=""
}
on_cleanup=stop_gui
after_case=stop_gui
# shellcheck source=tests/e2e/wine_harness.sh
source "$root/tests/e2e/wine_harness.sh"

# Texts as the user reads them.
readonly write_caption="書き込む" abort_caption="書き込み中止"
readonly wrong_chip="指定以外のマイコンが装着されています。"
readonly aborted="フラッシュメモリの書き込みを中断しました"

# start_gui [VAR=VALUE...]: korvane.exe with the shim (and that environment), as a person
# starts it; waits for its window (sets wid) and for the COM box, which has the focus
# and reads "1", to take keys. Wine's output goes to files only.
start_gui() {
  env "$@" LD_PRELOAD="$preload" KORVANE_SIM_LINES="$lines" "$KORVANE_WINE" "$exe" </dev/null \
    >"$(out gui.out)" 2>"$(out gui.err)" &
  gui_pid=$!
  local i w start
  start=$(now_ms)
  wid=""
  for ((i = 0; i < 300; ++i)); do
    for w in $(xdotool search --name '^Korvane$' 2>/dev/null); do
      eval "$(xdotool getwindowgeometry --shell "$w")"
      ((WIDTH > 200)) && wid=$w
    done
    [[ -n $wid ]] && break
    sleep 0.1
  done
  if [[ -z $wid ]]; then
    local windows alive=ended
    kill -0 "$gui_pid" 2>/dev/null && alive=running
    windows=$(for w in $(xdotool search --name . 2>/dev/null); do
      printf '%s (%s) ' "$(xdotool getwindowname "$w")" "$(xdotool getwindowgeometry "$w" | awk '/Geometry/ { print $2 }')"
    done)
    fail "the window did not appear within $(($(now_ms) - start)) ms (korvane.exe $alive; windows: $windows)"
    stop_gui
    return 1
  fi
  echo "  $case_name: the window appeared after $(($(now_ms) - start)) ms"
  wait_for_focus_text 1 30 "the COM box with the focus"
}

# close_gui: Alt+F4, as a person closes it; korvane.exe must end with exit code 0.
close_gui() {
  xdotool key alt+F4
  if ! wait_for_exit "$gui_pid" 10; then
    fail "korvane.exe did not close"
    kill "$gui_pid"
  fi
  wait "$gui_pid"
  local code=$?
  gui_pid=""
  ((code == 0)) || fail "korvane.exe exit code $code"
}

# screenshot NAME: the window as it looks now, into build/screenshots/NAME.png.
screenshot() {
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shots/$1.png" 2>>"$work/import.log" ||
    fail "no screenshot $1"
}

# probe ARGS...: window_probe.exe; prints its output without CRs.
probe() {
  "$KORVANE_WINE" "$probe_exe" "$@" </dev/null >"$work/probe.out" 2>"$work/probe.err"
  tr -d '\r' <"$work/probe.out"
}

# wait_for_focus_text TEXT SECONDS WHAT: until the focused box of the window reads TEXT;
# else fails, naming WHAT and what the box read.
wait_for_focus_text() {
  local until=$(($(now_ms) + $2 * 1000)) text=""
  while (($(now_ms) < until)); do
    text=$(probe text) && [[ $text == "$1" ]] && return 0
    sleep 0.1
  done
  fail "$3: the focused box reads '$text', expected '$1'"
  return 1
}

# type_text TEXT: types TEXT into the focused, empty box and waits until the box reads it.
# Plain ASCII goes through the keyboard (xdotool); anything else is sent to the box as
# characters by window_probe.exe, because xdotool remaps a spare key for each character
# missing from the keyboard map and the window may read a key after its next remap. A
# box that does not read TEXT then is a typing failure, reported as such.
type_text() {
  if ! printf '%s' "$1" | LC_ALL=C grep -q '[^ -~]'; then
    xdotool type --delay 10 "$1"
  else
    probe type "$(printf '%s' "$1" | od -An -tx1 | tr -d ' \n')" >/dev/null ||
      { fail "typing failed: window_probe could not type '$1'"; return 1; }
  fi
  wait_for_focus_text "$1" 20 "typing failed"
}

# write_with COM FILE: types the COM number over the "1" in the focused COM box, goes
# to the file name box, types the Windows path, goes to the write button and presses it.
write_with() {
  xdotool key End BackSpace BackSpace BackSpace
  wait_for_focus_text "" 20 "typing failed (clearing the COM box)" || return
  type_text "$1" || return
  xdotool key Tab
  wait_for_focus_text "" 20 "the file name box did not take the focus" || return
  type_text "Z:${2//\//\\}" || return
  xdotool key Tab Tab space
  write_start_ms=$(now_ms)
}

# wait_for_caption TEXT SECONDS: until the write button reads TEXT.
wait_for_caption() {
  local until=$(($(now_ms) + $2 * 1000))
  while (($(now_ms) < until)); do
    probe buttons | grep -qx "$1" && return 0
    sleep 0.2
  done
  fail "the write button never read '$1'"
  return 1
}

# The example program, typed in and written; the chip starts it. Success is the sound
# alone: no message box comes.
case_blink() {
  start_sim -v --exit-after-restart || return
  start_gui || return
  screenshot main-window
  write_with "$KORVANE_SIM_COM" "$blink" || return
  finish_sim by-itself
  echo "  $case_name: written and started in $(($(now_ms) - write_start_ms)) ms"
  expect_flash "$blink"
  expect_erased "$(stat -c %s "$blink")" 4096
  [[ $sim_summary == "korvane-sim: the program started; 2 resets, 1 program start; chip: running the user program" ]] ||
    fail "korvane-sim summary: $sim_summary"
  # The dialogue of the write: the one block of the example goes into RAM above the boot
  # loader's own, filled up to the smallest copy that holds it, and is copied with that size.
  local size copy
  size=$(stat -c %s "$blink")
  copy=$((size <= 256 ? 256 : size <= 512 ? 512 : 1024))
  grep -q " > W 268436224 $copy\$" "$wire_log" || fail "no 'W 268436224 $copy' in the wire log"
  grep -q " > C 0 268436224 $copy\$" "$wire_log" || fail "no 'C 0 268436224 $copy' in the wire log"
  ! grep -q " ! W into the boot loader" "$wire_log" || fail "a write into the boot loader's own RAM"
  local box
  box=$(probe box 1)
  [[ -z $box ]] || fail "a message box after a successful write: '$box'"
  wait_for_caption "$write_caption" 5
  screenshot after-write
  close_gui
}

# start_full_write: a random 32 KiB image, written at the wire's real speed; returns
# once the first block (the one at 1024: block 0 goes last) has been copied into flash,
# with 31 blocks still to go.
start_full_write() {
  head -c 32768 /dev/urandom >"$work/full.bin"
  start_sim || return
  start_gui || return
  write_with "$KORVANE_SIM_COM" "$work/full.bin" || return
  wait_for_caption "$abort_caption" 10 || return
  local until=$(($(now_ms) + 20000))
  until grep -q ' > C 1024 ' "$wire_log"; do
    (($(now_ms) < until)) || { fail "the first block was not copied"; return 1; }
    sleep 0.05
  done
}

# A full 32 KiB image: the window while it writes and after.
case_full_image() {
  start_full_write || return
  screenshot writing
  wait_for_caption "$write_caption" 30 || return
  echo "  $case_name: 32768 bytes in about $(($(now_ms) - write_start_ms)) ms"
  finish_sim term
  expect_flash "$work/full.bin"
  close_gui
}

# Another chip answers: the error box with the job's exact text, closed with OK.
case_wrong_part() {
  start_sim --part-id 12345 || return
  start_gui || return
  write_with "$KORVANE_SIM_COM" "$blink" || return
  local box
  box=$(probe box 15)
  [[ $box == "$wrong_chip" ]] || fail "message box '$box', expected '$wrong_chip'"
  screenshot error-box
  probe ok >/dev/null
  wait_for_caption "$write_caption" 5
  finish_sim term
  close_gui
}

# The write button pressed again during the transfer: the information box, the blocks
# before the click written, the last sector left erased.
case_abort() {
  start_full_write || return
  xdotool key space
  local box
  box=$(probe box 15)
  [[ $box == "$aborted" ]] || fail "message box '$box', expected '$aborted'"
  probe ok >/dev/null
  finish_sim term
  # The blocks before the click are written; block 0, with the vector table, is not, so
  # the chip stays in its boot loader; the last sector stays erased.
  cmp -s -i 1024 -n 1024 "$work/full.bin" "$flash" || fail "the first block sent is not in flash"
  expect_erased 0 1024
  expect_erased 28672 32768
  close_gui
}

# On a Japanese system (code page 932): a file name in Japanese, typed into the window,
# reaches the file functions in the system's code page and is written.
case_japanese_system() {
  local locales=$root/build/locale
  if [[ ! -d $locales/ja_JP.UTF-8 ]]; then
    mkdir -p "$locales"
    localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >"$work/localedef.log" 2>&1 ||
      { fail "localedef: $(cat "$work/localedef.log")"; return; }
  fi
  local image="$work/ファームウェア.bin"
  cp "$blink" "$image"
  start_sim --exit-after-restart || return
  start_gui LOCPATH="$locales" LANG=ja_JP.UTF-8 || return
  write_with "$KORVANE_SIM_COM" "$image" || return
  finish_sim by-itself
  expect_flash "$blink"
  local box
  box=$(probe box 1)
  [[ -z $box ]] || fail "a message box after the write: '$box'"
  screenshot japanese-system
  close_gui
}

run_cases case_blink case_full_image case_wrong_part case_abort case_japanese_system
