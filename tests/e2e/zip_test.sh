#!/usr/bin/env bash
# The Windows download as a user gets it: the zip holds korvane.exe, korvane-cli.exe, the
# README and the licence, nothing else; the programs are the shipped 32-bit static
# builds; unpacked, both run under Wine (korvane-cli.exe --version, and a write through
# korvane.exe's window into korvane-sim) where this machine runs 32-bit x86 code.
# Run with scripts/wine-env.sh sourced.
#
# usage: zip_test.sh KORVANE_ZIP WINDOW_PROBE_EXE KORVANE_SIM BLINK_BIN
set -uo pipefail
if (($# != 4)); then
  echo "usage: $0 KORVANE_ZIP WINDOW_PROBE_EXE KORVANE_SIM BLINK_BIN" >&2
  exit 2
fi
zip=$1 probe=$2 sim=$3 blink=$4
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
name=$(basename "$zip" .zip)
version=${name#korvane-}
version=${version%-windows-x86}
folder=korvane-$version

listed=$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')
expected="$folder/LICENSE $folder/README.md $folder/korvane-cli.exe $folder/korvane.exe "
if [[ $listed == "$expected" ]]; then
  echo "ok      the zip holds $expected"
else
  echo "FAILED  the zip holds '$listed', expected '$expected'"
  failed=1
fi
unzip -q "$zip" -d "$work" || { echo "FAILED  unzip"; exit 1; }
bash "$root/tests/e2e/windows_exe_test.sh" "$work/$folder/korvane.exe" "$work/$folder/korvane-cli.exe" || failed=1

if [[ ${KORVANE_WINDOWS_PRESET:-} != windows ]]; then
  echo "skipped running them: this machine runs no 32-bit x86 code (the 64-bit builds of the same"
  echo "        sources run under 64-bit Wine in the Windows tests)"
else
  got=$(timeout -k 5 30 "$KORVANE_WINE" "$work/$folder/korvane-cli.exe" --version </dev/null 2>/dev/null | tr -d '\r')
  if [[ $got == "korvane-cli $version" ]]; then
    echo "ok      korvane-cli.exe --version from the zip: $got"
  else
    echo "FAILED  korvane-cli.exe --version from the zip: '$got'"
    failed=1
  fi
  KORVANE_E2E_CASES=blink bash "$root/tests/e2e/wine_gui_test.sh" "$work/$folder/korvane.exe" "$probe" "$sim" "$blink" ||
    failed=1
fi
((failed == 0))
