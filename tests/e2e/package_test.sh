#!/usr/bin/env bash
# The Debian package as a user gets it: checked by lintian, installed into this machine
# with dpkg -i, used from the installed path (its version, writes into the simulated
# chip, also through korvane-sim on a pty with the shipped modem-line shim, its man pages
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

work=$(mktemp -d)
sim=/usr/bin/korvane-sim
program=korvane-cli
# shellcheck source=tests/e2e/sim_harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/sim_harness.sh"
trap 'stop_sim; rm -rf "$work"' EXIT

# lintian_clean: lintian --pedantic tells no error and no warning but bogus-mail-host and
# bogus-mail-host-in-debian-changelog: Korvane has no mail address yet, so the Maintainer
# field and the changelog's entries name korvane@localhost.
lintian_clean() {
  local report
  report=$(lintian --pedantic --fail-on none "$deb" 2>/dev/null) || { echo "lintian did not run"; return 1; }
  report=$(grep -E '^[EW]: ' <<<"$report" |
    grep -vE '^E: korvane: (bogus-mail-host Maintainer|bogus-mail-host-in-debian-changelog) korvane@localhost( |$)')
  [[ -z $report ]] || { echo "$report"; return 1; }
}

# write_through_shim: the installed korvane-cli writes through a pty into the installed
# korvane-sim with the shipped shim preloaded; without the shim the pty has no RTS and
# DTR, and the chip never enters its boot loader.
write_through_shim() {
  case_name=installed_pty
  local before=$failures
  start_sim --exit-after-restart || return 1
  timeout 20 env LD_PRELOAD="$shim" KORVANE_SIM_LINES="$lines" /usr/bin/korvane-cli -q -p "$link" "$blink" \
    >"$(out cli.out)" 2>"$(out cli.err)"
  cli_code=$?
  expect_exit 0
  finish_sim by-itself
  expect_flash "$blink"
  ((failures == before))
}

# complete_in_terminal FOLDER [TYPED EXPECTED]...: an interactive bash on a pty in
# FOLDER, with the installed completion, gets each TYPED line and a tab; the terminal
# must then show EXPECTED (readline's insertion, so escaping shows), within 10 s each.
complete_in_terminal() {
  python3 - "$@" <<'PYTHON'
import os, pty, select, sys, time

folder, cases = sys.argv[1], sys.argv[2:]
pid, fd = pty.fork()
if pid == 0:
    os.chdir(folder)
    os.execvpe("bash", ["bash", "--norc", "--noprofile", "-i"],
               {"PATH": os.environ["PATH"], "HOME": folder, "TERM": "dumb", "INPUTRC": "/dev/null",
                "PS1": "ready> "})
seen = b""

def wait_for(text):
    global seen
    deadline = time.monotonic() + 10
    while text not in seen:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            return False
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            return False
        if not chunk:
            return False
        seen += chunk
    seen = seen[seen.index(text) + len(text):]
    return True

# The answer, not the echo of the line typed, tells that the completion is loaded: bash's
# own file name completion would pass some cases alone.
ok = wait_for(b"ready> ")
os.write(fd, b"source /usr/share/bash-completion/completions/korvane-cli && echo loaded$((6 * 7))\n")
ok = ok and wait_for(b"loaded42")
for typed, expected in zip(cases[::2], cases[1::2]):
    os.write(fd, typed.encode() + b"\t")
    if not wait_for(expected.encode()):
        print(f"{typed!r} and a tab: no {expected!r} in {seen!r}")
        ok = False
    os.write(fd, b"\x15")  # the line discarded for the next
os.write(fd, b"exit\n")
os.close(fd)
os.waitpid(pid, 0)
sys.exit(0 if ok else 1)
PYTHON
}

check "lintian --pedantic" lintian_clean
check "dpkg -i $(basename "$deb")" "${as_root[@]}" dpkg -i "$deb"
check "korvane-cli --version" bash -c "[[ \$(/usr/bin/korvane-cli --version) == 'korvane-cli $version' ]]"
check "korvane-sim --version" bash -c "[[ \$(/usr/bin/korvane-sim --version) == 'korvane-sim $version' ]]"
check "a write from the installed korvane-cli" bash -c \
  "/usr/bin/korvane-cli -q -p sim '$blink' | grep -q '^simulated chip: reset into the new program$'"
check "man pages" test -s /usr/share/man/man1/korvane-cli.1.gz -a -s /usr/share/man/man1/korvane-sim.1.gz
check "the man page is korvane-cli's --help" bash -c \
  "zcat /usr/share/man/man1/korvane-cli.1.gz | grep -q -- '--erase-all'"
check "README, changelog and copyright" test -s /usr/share/doc/korvane/README.md \
  -a -s /usr/share/doc/korvane/changelog.gz -a -s /usr/share/doc/korvane/copyright
shim=$(dpkg -L korvane 2>/dev/null | grep '^/usr/lib/.*/libkorvane_modem_shim\.so$')
check "the modem-line shim is installed" test -f "$shim"
# The page's source writes each hyphen as \-.
check "korvane-sim's man page names the shipped shim" bash -c \
  "[[ -n '$shim' ]] && zcat /usr/share/man/man1/korvane-sim.1.gz | sed 's/\\\\-/-/g' | grep -qF '$shim'"
check "korvane-sim on a pty, korvane-cli writing through the shipped shim" write_through_shim
check "bash completion" bash -c \
  "source /usr/share/bash-completion/completions/korvane-cli && complete -p korvane-cli | grep -q _korvane_cli"
check "-p completes sim and the ports" bash -c \
  'source /usr/share/bash-completion/completions/korvane-cli; COMP_WORDS=(korvane-cli -p ""); COMP_CWORD=2;
   _korvane_cli; [[ " ${COMPREPLY[*]} " == *" sim "* && " ${COMPREPLY[*]} " == *" auto-all "* ]]'
check "options complete" bash -c \
  'source /usr/share/bash-completion/completions/korvane-cli; COMP_WORDS=(korvane-cli --era); COMP_CWORD=1;
   _korvane_cli; [[ ${COMPREPLY[*]} == --erase-all ]]'
files=$work/completion
mkdir -p "$files/sub dir"
touch "$files/my image.BIN" "$files/my notes.txt" "$files/board.Elf" "$files/flash dump.txt"
check "images in any case complete, other files not" bash -c \
  'cd "$1" && source /usr/share/bash-completion/completions/korvane-cli; COMP_WORDS=(korvane-cli ""); COMP_CWORD=1;
   _korvane_cli; [[ $(printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd /) == "board.Elf/my image.BIN/sub dir" ]]' \
  - "$files"
check "file names complete escaped, any file after --read" complete_in_terminal "$files" \
  "korvane-cli --read fl" 'ash\ dump.txt' "korvane-cli my" '\ image.BIN' "korvane-cli su" 'b\ dir/'
check "dpkg -r korvane" "${as_root[@]}" dpkg -r korvane
check "nothing left behind" bash -c \
  "[[ ! -e /usr/bin/korvane-cli && ! -e /usr/share/doc/korvane && ! -e '$(dirname "${shim:-/nonexistent/x}")' ]]"
echo "$passed passed, $failed failed"
((failed == 0))
