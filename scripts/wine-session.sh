#!/usr/bin/env bash
# Runs a command inside one Wine session: the project's 32-bit prefix, one
# persistent wineserver, and an X display (Xvfb unless DISPLAY is set). The
# prefix is created on first use. Windows programs started by the command (for
# instance ctest through scripts/wine-run) share the server and the display.
#   scripts/wine-session.sh ctest --test-dir build/windows
set -euo pipefail

if [ -z "${HALVORN_IN_XVFB:-}" ] && [ -z "${DISPLAY:-}" ]; then
  export HALVORN_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
wine_prefix
# Without a window manager (Xvfb has none) Wine's managed windows lose their
# place once minimised and every hide waits for an answer that never comes.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1

# One server for the whole session spares each program its start-up. A server
# left from an earlier session may hold windows on a display that is gone, so
# it goes first. The new server's helper processes start here, with no pipes
# of ours to hold open.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT
"$@"
