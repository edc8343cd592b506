#!/usr/bin/env bash
# The Debian package as a user gets it: installed into this machine with dpkg -i, used
# from the installed path (its version, a write into the simulated chip, its man pages
# and completion), and removed again without a trace. Needs root (or sudo without a
# password), as dpkg does.
#
# usage: package_test.sh KORVANE_DEB BLINK_BIN
set -uo pipefail
if (($# != 2)); then
  echo "usage: $0 KORVANE_DEB BLINK_BIN" >&2
  exit 2
fi
deb=$1 blink=$2
as_root=()
if (($(id -u) != 0)); then
  sudo -n true 2>/dev/null || { echo "package_test: needs root or sudo for dpkg" >&2; exit 1; }
  as_root=(sudo -n)
fi
passed=0 failed=0
check() {  # check NAME COMMAND...: one step, ok when the command succeeds
  local name=$1
  shift
  if "$@" >/tmp/korvane-package-check.out 2>&1; then
    echo "ok      $name"
    passed=$((passed + 1))
  else
    echo "FAILED  $name: $(head -c 400 /tmp/korvane-package-check.out)"
    failed=$((failed + 1))
  fi
}
version=$(dpkg-deb -f "$deb" Version)

check "dpkg -i $(basename "$deb")" "${as_root[@]}" dpkg -i "$deb"
check "korvane-cli --version" bash -c "[[ \$(/usr/bin/korvane-cli --version) == 'korvane-cli $version' ]]"
check "korvane-sim --version" bash -c "[[ \$(/usr/bin/korvane-sim --version) == 'korvane-sim $version' ]]"
check "a write from the installed korvane-cli" bash -c \
  "/usr/bin/korvane-cli -q -p sim '$blink' | grep -q '^simulated chip: reset into the new program$'"
check "man pages" test -s /usr/share/man/man1/korvane-cli.1.gz -a -s /usr/share/man/man1/korvane-sim.1.gz
check "the man page is korvane-cli's --help" bash -c \
  "zcat /usr/share/man/man1/korvane-cli.1.gz | grep -q -- '--erase-all'"
check "README and licence" test -s /usr/share/doc/korvane/README.md -a -s /usr/share/doc/korvane/LICENSE
check "bash completion" bash -c \
  "source /usr/share/bash-completion/completions/korvane-cli && complete -p korvane-cli | grep -q _korvane_cli"
check "-p completes sim and the ports" bash -c \
  'source /usr/share/bash-completion/completions/korvane-cli; COMP_WORDS=(korvane-cli -p ""); COMP_CWORD=2;
   _korvane_cli; [[ " ${COMPREPLY[*]} " == *" sim "* && " ${COMPREPLY[*]} " == *" auto-all "* ]]'
check "options complete" bash -c \
  'source /usr/share/bash-completion/completions/korvane-cli; COMP_WORDS=(korvane-cli --era); COMP_CWORD=1;
   _korvane_cli; [[ ${COMPREPLY[*]} == --erase-all ]]'
check "dpkg -r korvane" "${as_root[@]}" dpkg -r korvane
check "nothing left behind" bash -c "[[ ! -e /usr/bin/korvane-cli && ! -e /usr/share/doc/korvane ]]"
echo "$passed passed, $failed failed"
((failed == 0))
