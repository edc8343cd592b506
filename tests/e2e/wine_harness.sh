# Shared by the Wine end-to-end scripts. Source it after sim_harness.sh, with $root and
# $work set. It uses the Wine environment of scripts/wine-env.sh when that is sourced
# already (as in scripts/test), else sources it and stops Wine at exit; korvane-sim's
# link is Wine's COM port. Then it builds the modem-line shims: $preload is the
# LD_PRELOAD value that gives each process its own. A script may set on_cleanup to a
# command run first at exit.
#
# The shim for Wine's 32-bit process, and a 64-bit one for the /bin/sh that Debian's
# wine command is: ld.so puts its own library directory (Debian's multiarch names) in
# place of $LIB, so each process loads the shim of its own kind and none prints a
# wrong-class error into the program's stderr.
build_wine_shims() {
  local start kind preload_dir shim32
  start=$(now_ms)
  preload_dir=$work/preload
  for kind in 32:i386-linux-gnu 64:x86_64-linux-gnu; do
    mkdir -p "$preload_dir/lib/${kind#*:}"
    if ! gcc "-m${kind%%:*}" -shared -fPIC -O2 -Wall -Wextra -Werror \
      -o "$preload_dir/lib/${kind#*:}/libkorvane_modem_shim.so" "$root/tests/e2e/modem_shim.c" \
      -ldl -lpthread >"$work/shim${kind%%:*}.log" 2>&1; then
      echo "cannot build the ${kind%%:*}-bit shim: $(cat "$work/shim${kind%%:*}.log")" >&2
      return 1
    fi
  done
  shim32=$preload_dir/lib/i386-linux-gnu/libkorvane_modem_shim.so
  # Byte 5 of an ELF header is its class: 1 for 32-bit.
  if [[ $(od -An -tu1 -j4 -N1 "$shim32" | tr -d ' ') != 1 ]]; then
    echo "$shim32 is not a 32-bit library" >&2
    return 1
  fi
  # shellcheck disable=SC2016  # $LIB is for ld.so
  preload=$preload_dir/'$LIB'/libkorvane_modem_shim.so
  echo "  built the modem-line shims in $(($(now_ms) - start)) ms"
}

wine_started=""
cleanup() {
  [[ -n ${on_cleanup:-} ]] && $on_cleanup
  # Only korvane-sim is waited for: Xvfb and the loopback pty of wine-env.sh may be
  # children of this shell too.
  stop_sim
  [[ -n $wine_started ]] && korvane_wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

if [[ -z ${KORVANE_WINE_READY:-} || -z ${KORVANE_SIM_COM_LINK:-} ]]; then
  # shellcheck source=scripts/wine-env.sh
  source "$root/scripts/wine-env.sh" || exit 1
  wine_started=1
fi
# shellcheck disable=SC2034  # read by sim_harness.sh
sim_link=$KORVANE_SIM_COM_LINK
build_wine_shims || exit 1
