#!/bin/sh
# Runs a Windows program of the build under Wine: without Wine's own diagnostics, without the
# .NET and HTML installers that a fresh prefix would offer, and with the program's exit code.
# WINEPREFIX, when set, chooses the prefix; a 64-bit prefix runs 32-bit programs as well.
#
# The loader is chosen by the program's machine type. Debian's `wine` wrapper would start the
# 32-bit loader even for a 64-bit program, and that loader cannot start on a machine that does
# not execute 32-bit programs; so 64-bit programs, and Wine's own commands (wineboot), go to the
# 64-bit loader, and only 32-bit programs to the 32-bit one.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64

# The Machine field of a PE file's COFF header: 014c for x86, 8664 for x86-64; empty otherwise.
pe_machine() {
  [ -f "$1" ] || return 0
  [ "$(od -An -c -N2 "$1" | tr -d ' ')" = "MZ" ] || return 0
  header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' '
}

loader=$wine64
if [ "$(pe_machine "$1")" = "014c" ]; then
  loader=$wine32
fi
exec "$loader" "$@"
