#!/usr/bin/env bash
# The Windows programs as shipped: 32-bit executables (korvane.exe with its window,
# korvane-cli.exe for the console), linked statically, so that they load only DLLs
# that every Windows has.
#
# usage: windows_exe_test.sh KORVANE_EXE KORVANE_CLI_EXE
set -uo pipefail
if (($# != 2)); then
  echo "usage: $0 KORVANE_EXE KORVANE_CLI_EXE" >&2
  exit 2
fi
readonly system_dlls=" ADVAPI32.DLL COMCTL32.DLL COMDLG32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL SETUPAPI.DLL USER32.DLL "
passed=0 failed=0
check() {
  local exe=$1 subsystem=$2 kind dll problems=""
  kind=$(file -b "$exe")
  [[ $kind == "PE32 executable ($subsystem) Intel 80386, for MS Windows"* ]] ||
    problems+=" it is '$kind', expected a 32-bit $subsystem program;"
  while read -r dll; do
    [[ $system_dlls == *" ${dll^^} "* ]] || problems+=" it needs $dll;"
  done < <(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print $3 }')
  if [[ -z $problems ]]; then
    echo "ok      $(basename "$exe"): 32-bit $subsystem program, system DLLs only"
    passed=$((passed + 1))
  else
    echo "FAILED  $(basename "$exe"):$problems"
    failed=$((failed + 1))
  fi
}
check "$1" GUI
check "$2" console
echo "$passed passed, $failed failed"
((failed == 0))
