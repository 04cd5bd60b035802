# Sourced by the scripts that run Windows programs: the project's 32-bit Wine
# prefix (WINEPREFIX when set, otherwise build/wineprefix), created on first
# use and finished before anything runs in it.
wine_prefix() {
  local root
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
  export WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w
  fi
}
