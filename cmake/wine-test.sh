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
#
# A kernel without 32-bit support (ia32 emulation switched off) cannot start
# Wine's 32-bit loader, which the wine command prefers, unless something like
# the qemu-i386 that scripts/setup registers runs it. Where nothing does, the
# 64-bit loader runs every Wine command, and a 32-bit program cannot run at
# all: its run ends with exit status 77, which the tests report as skipped.
set -u
mode=$1
case $2 in
  /*) prefix=$2 ;;
  *) prefix=$PWD/$2 ;;  # Wine wants an absolute prefix
esac
export WINEPREFIX="$prefix" WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
shift 2

# Without Wine's 32-bit loader (package wine32:i386), or where it cannot run,
# the wine command falls back to the 64-bit one, which "runs" a 32-bit
# program by doing nothing and exiting 0: that is a skip, not a pass.
wine64_only=false
if ! /usr/lib/wine/wine --version >/dev/null 2>&1 && /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
  wine64_only=true
  loaders=$prefix.loaders
  mkdir -p "$loaders"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$loaders/$name"
    chmod +x "$loaders/$name"
  done
  export WINELOADER=/usr/lib/wine/wine64 PATH="$loaders:$PATH"
fi

# The machine type of a Windows program: 014c for 32-bit x86.
machine() {
  header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' '
}

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
    if $wine64_only && [ "$(machine "$1")" = 014c ]; then
      echo "skipped: Wine's 32-bit loader is missing (wine32:i386) or this kernel cannot" \
        "run 32-bit programs (ia32 emulation is off), so Wine cannot run $1" >&2
      exit 77
    fi
    in_display wine "$@"
    ;;
  *)
    echo "usage: $0 init|run WINEPREFIX [PROGRAM [ARGUMENT...]]" >&2
    exit 2
    ;;
esac
