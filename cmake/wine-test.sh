#!/bin/sh
# The Windows tests' way into Wine.
#
#   wine-test.sh init WINEPREFIX
#     Creates the prefix, or brings it up to date (a new one takes 20-60 s),
#     after ending whatever still runs in it.
#     Its windows are left unmanaged: with no window manager in the virtual
#     display, Wine would otherwise wait 2 s for each window that closes.
#   wine-test.sh run WINEPREFIX PROGRAM [ARGUMENT...]
#     Runs a Windows program under Wine.
#
# Both run in a virtual X display under the Japanese locale, where Wine's
# ANSI code page is 932, and wait until every process of the prefix has ended,
# so that none outlives its display. The exit status is the program's.
set -u
mode=$1
case $2 in
  /*) prefix=$2 ;;
  *) prefix=$PWD/$2 ;;  # Wine wants an absolute prefix
esac
export WINEPREFIX="$prefix" WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
shift 2

in_display() {
  xvfb-run -a -s "-screen 0 1024x768x24" \
    sh -c '"$@"; status=$?; wineserver -w; exit $status' wine-test "$@"
}

case $mode in
  init)
    # Processes left over from an interrupted run would hold a dead display.
    wineserver -k 2>/dev/null
    in_display sh -c 'wineboot -i &&
      wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null'
    ;;
  run)
    in_display wine "$@"
    ;;
  *)
    echo "usage: $0 init|run WINEPREFIX [PROGRAM [ARGUMENT...]]" >&2
    exit 2
    ;;
esac
