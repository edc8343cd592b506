#!/usr/bin/env bash
# End-to-end: two independent ISP flashers that Debian packages, lpc21isp and lpcprog
# (lpctools), write random images into korvane-sim through a pty. They were not written
# from Korvane's reading of the chip maker's manual, so a simulator that answers them
# byte-exact has not been fitted to Korvane's own client. Both put the vector checksum
# into entry 7 themselves: bytes 28 to 31 are left out of the comparison.
#
# usage: peers_test.sh KORVANE_SIM MODEM_SHIM
#        peers_test.sh --list   (the names of the cases, which KORVANE_E2E_CASES takes)
set -uo pipefail

list_cases=0
if [[ $# == 1 && $1 == --list ]]; then
  list_cases=1
elif (($# != 2)); then
  echo "usage: $0 KORVANE_SIM MODEM_SHIM | --list" >&2
  exit 2
fi
sim=${1:-} shim=${2:-}
if ((!list_cases)); then
  for peer in lpc21isp lpcprog; do
    command -v "$peer" >/dev/null || { echo "$peer is not installed (scripts/setup installs it)" >&2; exit 1; }
  done
fi

work=$(mktemp -d)
program=peer
# shellcheck source=tests/e2e/sim_harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/sim_harness.sh"
cleanup() {
  stop_sim
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# expect_image_in_flash IMAGE: the flash holds IMAGE, but for the vector checksum.
expect_image_in_flash() {
  local size
  size=$(stat -c %s "$1")
  cmp -s -n 28 "$1" "$flash" || fail "flash differs from the image in bytes 0 to 27"
  if ((size > 32)); then
    cmp -s -i 32 -n "$((size - 32))" "$1" "$flash" || fail "flash differs from the image after byte 31"
  fi
}

# lpc21isp resets the chip into its boot loader with RTS and DTR (-control), as Korvane's
# boards are wired; the modem-line shim hands the lines to korvane-sim.
peer_lpc21isp() {
  local image=$1
  shift
  sim_pace=0 start_sim "$@" || return
  timeout 60 env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$lines" \
    lpc21isp -control -bin "$image" "$link" 57600 12000 >"$(out peer.out)" 2>&1
  local code=$?
  ((code == 0)) || fail "lpc21isp exit code $code: $(tail -n 3 "$(out peer.out)")"
  finish_sim term
  expect_image_in_flash "$image"
}

# lpcprog moves no lines: a blank chip sits in its boot loader. Its table of parts has
# no LPC1114FN28; 0x2540102B is one with the same 32 KiB of flash in 4 KiB sectors.
peer_lpcprog() {
  local image=$1
  shift
  local part=(--part-id "$((0x2540102B))")
  (($#)) && part=("$@")
  sim_pace=0 start_sim "${part[@]}" || return
  timeout 60 lpcprog -d "$link" -c flash -f 12000 "$image" >"$(out peer.out)" 2>&1
  local code=$?
  ((code == 0)) || fail "lpcprog exit code $code: $(tail -n 3 "$(out peer.out)")"
  grep -q "^Error" "$(out peer.out)" && fail "lpcprog: $(grep "^Error" "$(out peer.out)")"
  finish_sim term
  expect_image_in_flash "$image"
}

cases=()
for size in 100 3000 9000 32768; do
  for peer in lpc21isp lpcprog; do
    eval "case_${peer}_$size() { head -c $size /dev/urandom >\"\$work/$size.bin\"; peer_$peer \"\$work/$size.bin\"; }"
    cases+=("case_${peer}_$size")
  done
done
# Other families, each as a part the peer knows: an LPC1768 (sectors of 4 KiB, then of
# 32 KiB) with an image across the boundary at 64 KiB; an LPC1764 through lpcprog, whose
# table gives it 64 KiB (the user manual 128: an image within the first 64 KiB), and an
# LPC1343.
case_lpc21isp_lpc1768() {
  head -c 81920 /dev/urandom >"$work/lpc1768.bin"
  peer_lpc21isp "$work/lpc1768.bin" --part LPC1768
}
case_lpc21isp_lpc1343() {
  head -c 20000 /dev/urandom >"$work/lpc1343.bin"
  peer_lpc21isp "$work/lpc1343.bin" --part LPC1343FBD48
}
case_lpcprog_lpc1764() {
  head -c 40000 /dev/urandom >"$work/lpc1764.bin"
  peer_lpcprog "$work/lpc1764.bin" --part LPC1764
}
cases+=(case_lpc21isp_lpc1768 case_lpc21isp_lpc1343 case_lpcprog_lpc1764)
run_cases "${cases[@]}"
