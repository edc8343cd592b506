# Korvane's Wine environment for the Windows tests. Source it (bash), then run the
# Windows test programs; call korvane_wine_stop when they are done:
#
#   source scripts/wine-env.sh && ctest --preset windows; korvane_wine_stop
#
# It chooses 32-bit Wine and the windows preset's programs, or, where the machine runs
# no 32-bit x86 code, 64-bit Wine and the windows64 preset's (KORVANE_WINE_BITS,
# KORVANE_WINDOWS_PRESET; $KORVANE_WINE runs a Windows program). It makes the Wine
# prefix build/wine-prefix (or wine-prefix64) once and keeps it for later runs
# (KORVANE_WINE_FRESH=1 makes a new one), starts Xvfb when there is no display
# (KORVANE_WINE_XVFB=0: none), starts a persistent wineserver with Wine's background
# services already running, and links a pty that echoes every byte to COM9 of the
# prefix (its number in KORVANE_LOOPBACK_COM) for the tests of the Windows port backend.
# COM1 of the prefix (KORVANE_SIM_COM) is linked to the path in KORVANE_SIM_COM_LINK,
# where korvane-sim --link puts its pty when a test starts it.
#
# Wine's output always goes to files under build/wine-logs, never to a pipe: Wine's
# background processes would hold a pipe open. Because the services are started here,
# a test program started by ctest later does not start them on ctest's pipes.

if [ -n "${KORVANE_WINE_READY:-}" ] && kill -0 "${KORVANE_LOOPBACK_PID:-0}" 2>/dev/null; then
  # Sourced twice in one run: keep what the first time started.
  return 0 2>/dev/null || exit 0
fi

korvane_wine_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Korvane ships a 32-bit korvane.exe, tested under 32-bit Wine. A machine that runs no
# 32-bit x86 code (a kernel without IA-32 emulation: Wine's 32-bit loader fails with
# "Exec format error") runs the same sources built for x86-64 under 64-bit Wine instead.
# KORVANE_WINE_BITS=32 or 64 chooses by hand.
if [ -z "${KORVANE_WINE_BITS:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then KORVANE_WINE_BITS=32; else KORVANE_WINE_BITS=64; fi
fi
export KORVANE_WINE_BITS
if [ "$KORVANE_WINE_BITS" = 64 ]; then
  # Wine's own loader: Debian's wine command takes the 32-bit one whenever it is there.
  export KORVANE_WINE=/usr/lib/wine/wine64 WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
  export KORVANE_WINDOWS_PRESET=windows64
  export WINEPREFIX="$korvane_wine_root/build/wine-prefix64"
else
  # Debian 12 installs only the 32-bit loader (wine32:i386); the prefix is 32-bit too.
  export KORVANE_WINE=wine WINEARCH=win32
  export KORVANE_WINDOWS_PRESET=windows
  export WINEPREFIX="$korvane_wine_root/build/wine-prefix"
fi
export WINEDEBUG=-all
# No Mono and no Gecko: the install dialogs for them would wait for a click.
export WINEDLLOVERRIDES="mscoree,mshtml="
export KORVANE_LOOPBACK_COM=9
export KORVANE_SIM_COM=1
export KORVANE_SIM_COM_LINK="$WINEPREFIX/korvane-com$KORVANE_SIM_COM"
# Written into the prefix's ready mark; an older prefix is made again.
korvane_wine_prefix_version=6
korvane_wine_logs="$korvane_wine_root/build/wine-logs"
korvane_wine_loopback_link="$WINEPREFIX/korvane-loopback"

# Seconds since the epoch, to the millisecond.
korvane_wine_now() { date +%s.%3N; }
korvane_wine_since() { awk -v s="$1" -v e="$(korvane_wine_now)" 'BEGIN { printf "%.1f", e - s }'; }

# Starts Xvfb on a free display and exports DISPLAY.
korvane_wine_start_xvfb() {
  local display_file="$korvane_wine_logs/xvfb-display"
  : >"$display_file"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" \
    >"$korvane_wine_logs/xvfb.log" 2>&1 &
  KORVANE_XVFB_PID=$!
  local i
  for ((i = 0; i < 100; i++)); do
    if [ -s "$display_file" ]; then
      export DISPLAY=":$(tr -dc 0-9 <"$display_file")"
      return 0
    fi
    sleep 0.1
  done
  echo "wine-env: Xvfb did not start (see $korvane_wine_logs/xvfb.log)" >&2
  return 1
}

# The registry values the tests rely on, as KEY|NAME|TYPE|DATA: the COM ports of the
# loopback pty and of korvane-sim (Wine links a COM port to the path named here each
# time its services start; the path need not exist then); Wine drawing the frames of
# windows not managed by an X window manager (so a screenshot shows the caption, and
# hiding or destroying a window does not wait for a window manager that Xvfb does not
# have); and Japanese text in the system's own dialogs (message boxes) drawn with VL
# PGothic. Windows links MS UI Gothic to the UI font (Tahoma) on a Windows of any
# language, and Wine writes that link list itself, again whenever the code page changes
# (the Japanese case of the window test changes it): so the link list is left to Wine,
# and MS UI Gothic, the first font in it, is replaced by VL PGothic.
korvane_wine_settings() {
  printf '%s\n' \
    "HKLM\\Software\\Wine\\Ports|COM$KORVANE_LOOPBACK_COM|REG_SZ|$korvane_wine_loopback_link" \
    "HKLM\\Software\\Wine\\Ports|COM$KORVANE_SIM_COM|REG_SZ|$KORVANE_SIM_COM_LINK" \
    'HKCU\Software\Wine\X11 Driver|Managed|REG_SZ|N' \
    'HKCU\Software\Wine\Fonts\Replacements|MS UI Gothic|REG_SZ|VL PGothic'
}

# Makes the prefix in order: Wine's first start, and only once it has finished writing
# the registry (the wineserver has ended), the settings; then reads each one back from
# a new start of Wine and fails, naming it, when one did not stick.
korvane_wine_make_prefix() {
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  local start key name type data got
  start=$(korvane_wine_now)
  if ! "$KORVANE_WINE" wineboot -i >"$korvane_wine_logs/wineboot.out" 2>"$korvane_wine_logs/wineboot.err"; then
    echo "wine-env: wineboot failed (see $korvane_wine_logs/wineboot.err)" >&2
    return 1
  fi
  wineserver -w
  while IFS='|' read -r key name type data; do
    if ! "$KORVANE_WINE" reg add "$key" /v "$name" /t "$type" /d "$data" /f \
      >"$korvane_wine_logs/reg.out" 2>&1 </dev/null; then
      echo "wine-env: cannot set $name in $key (see $korvane_wine_logs/reg.out)" >&2
      return 1
    fi
  done < <(korvane_wine_settings)
  wineserver -w
  while IFS='|' read -r key name type data; do
    "$KORVANE_WINE" reg query "$key" /v "$name" >"$korvane_wine_logs/reg.out" 2>&1 </dev/null
    # reg query prints "    NAME    TYPE    DATA" (names may hold spaces).
    got=$(tr -d '\r' <"$korvane_wine_logs/reg.out" | awk -v prefix="    $name    $type    " '
      index($0, prefix) == 1 { print substr($0, length(prefix) + 1); exit }')
    # reg query shows a multi-string's end as "\0".
    if [ "${got%\\0}" != "$data" ]; then
      echo "wine-env: the prefix's $key\\$name reads '$got', expected '$data': it did not stick" >&2
      wineserver -k
      return 1
    fi
  done < <(korvane_wine_settings)
  wineserver -w
  echo "$korvane_wine_prefix_version" >"$WINEPREFIX/.korvane-ready"
  echo "wine-env: made the prefix in $(korvane_wine_since "$start") s" >&2
}

# Starts the pty whose other end sends back every byte it receives; links it to
# $korvane_wine_loopback_link.
korvane_wine_start_loopback() {
  rm -f "$korvane_wine_loopback_link" "$korvane_wine_loopback_link.new"
  python3 - "$korvane_wine_loopback_link" >"$korvane_wine_logs/loopback.log" 2>&1 <<'PY' &
import os, sys, tty

link = sys.argv[1]
main_fd, device_fd = os.openpty()
tty.setraw(device_fd)  # no echo or line editing until the port's settings are applied
os.symlink(os.ttyname(device_fd), link + ".new")
os.replace(link + ".new", link)
# device_fd stays open: the pty lives on while Wine opens and closes its end.
while True:
    data = os.read(main_fd, 4096)
    while data:
        data = data[os.write(main_fd, data):]
PY
  KORVANE_LOOPBACK_PID=$!
  local i
  for ((i = 0; i < 50; i++)); do
    [ -L "$korvane_wine_loopback_link" ] && return 0
    sleep 0.1
  done
  echo "wine-env: the loopback pty did not start (see $korvane_wine_logs/loopback.log)" >&2
  return 1
}

# Stops what korvane_wine_start started: the wineserver (and every Wine process of the
# prefix), the loopback pty and Xvfb.
korvane_wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "${KORVANE_LOOPBACK_PID:-}" ]; then
    kill "$KORVANE_LOOPBACK_PID" 2>/dev/null || true
    wait "$KORVANE_LOOPBACK_PID" 2>/dev/null || true
    rm -f "$korvane_wine_loopback_link"
  fi
  if [ -n "${KORVANE_XVFB_PID:-}" ]; then
    kill "$KORVANE_XVFB_PID" 2>/dev/null || true
    wait "$KORVANE_XVFB_PID" 2>/dev/null || true
  fi
  unset KORVANE_LOOPBACK_PID KORVANE_XVFB_PID KORVANE_WINE_READY KORVANE_LOOPBACK_COM \
    KORVANE_SIM_COM KORVANE_SIM_COM_LINK
  return 0
}

korvane_wine_start() {
  mkdir -p "$korvane_wine_logs"
  if [ -z "${DISPLAY:-}" ] && [ "${KORVANE_WINE_XVFB:-1}" != 0 ]; then
    korvane_wine_start_xvfb || return 1
  fi
  # A server left over from an earlier run would keep the old environment.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ "${KORVANE_WINE_FRESH:-0}" = 1 ] ||
    [ "$(cat "$WINEPREFIX/.korvane-ready" 2>/dev/null)" != "$korvane_wine_prefix_version" ]; then
    korvane_wine_make_prefix || return 1
  fi
  korvane_wine_start_loopback || return 1
  local start
  start=$(korvane_wine_now)
  if ! wineserver -p >"$korvane_wine_logs/wineserver.log" 2>&1; then
    echo "wine-env: wineserver did not start (see $korvane_wine_logs/wineserver.log)" >&2
    return 1
  fi
  # Start Wine's services now (they link the COM ports), with output to files.
  if ! "$KORVANE_WINE" cmd /c exit 0 >"$korvane_wine_logs/services.out" 2>&1 </dev/null; then
    echo "wine-env: Wine did not start (see $korvane_wine_logs/services.out)" >&2
    return 1
  fi
  echo "wine-env: Wine ready in $(korvane_wine_since "$start") s (prefix $WINEPREFIX)" >&2
  export KORVANE_WINE_READY=1
}

if ! korvane_wine_start; then
  korvane_wine_stop
  return 1 2>/dev/null || exit 1
fi
