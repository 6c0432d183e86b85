# Shared by the scripts: the repo root, a private Wine prefix, and a virtual display.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# One prefix per Windows build: the 32-bit one made by `wine`, the 64-bit one by wine64.
WINE_PREFIX_BASE="${WZA_WINEPREFIX:-$ROOT/build/wineprefix}"
export WINEPREFIX="$WINE_PREFIX_BASE"
WINE=wine
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"  # no Mono/Gecko prompts

# Chooses the Wine loader and prefix for one Windows build (win32 or win64). The `wine`
# wrapper always starts the 32-bit loader when it is installed, even where it cannot run,
# and Debian's wine64 package keeps its loader off the PATH.
use_wine_for() {
  case "$1" in
    win32) WINE=wine; export WINEPREFIX="$WINE_PREFIX_BASE" ;;
    win64) WINE="$(command -v wine64 || echo /usr/lib/wine/wine64)"; export WINEPREFIX="${WINE_PREFIX_BASE}64" ;;
    *) echo "use_wine_for: unknown build $1" >&2; return 1 ;;
  esac
}

# A Linux path as the Windows programs under Wine take it: Z:\dev\shm\...
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Whether this machine executes 32-bit x86 programs, found by running one: some kernels
# refuse them all, and then no 32-bit Windows code can run under Wine either.
# WZA_NO_WIN32_RUN=1 answers no, to exercise the 64-bit-only path anywhere.
WIN32_RUN_WHY=""
can_run_win32() {
  if [ "${WZA_NO_WIN32_RUN:-0}" = 1 ]; then
    WIN32_RUN_WHY="WZA_NO_WIN32_RUN=1 forces the 32-bit Windows suites off"
    return 1
  fi
  local probe=/lib/ld-linux.so.2
  [ -x "$probe" ] || probe=/usr/lib/wine/wine
  if "$probe" --help >/dev/null 2>&1 || "$probe" --version >/dev/null 2>&1; then
    WIN32_RUN_WHY="this machine runs 32-bit programs"
    return 0
  fi
  WIN32_RUN_WHY="this machine cannot execute 32-bit programs ($probe did not run)"
  return 1
}

# Creates the current Wine prefix once; later runs find it ready.
ensure_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  # Wine draws the caption buttons with Marlett; Debian's Wine finds it only in the prefix.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
    mkdir -p "$fonts" && cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
  fi
}

# Starts Xvfb on a free display unless one is usable already; stopped when the script exits.
XVFB_PID=""
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  local n
  for n in $(seq 90 120); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then break; fi
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 1 50); do
    xdpyinfo >/dev/null 2>&1 && return
    sleep 0.1
  done
  echo "could not start Xvfb" >&2
  return 1
}

stop_display() {
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}

# The Windows configure presets (win32, and win64 where present), one a line.
windows_presets() {
  cmake --list-presets=configure | grep -o '"win[0-9]*"' | tr -d '"'
}
