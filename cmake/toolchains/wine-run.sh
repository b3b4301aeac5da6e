#!/bin/sh
# Runs a Windows program of the build under Wine: without Wine's own diagnostics, without the
# .NET and HTML installers that a fresh prefix would offer, and with the program's exit code.
# WINEPREFIX, when set, chooses the prefix; a 64-bit prefix runs 32-bit programs as well.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
