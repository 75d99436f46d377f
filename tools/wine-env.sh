# Sourced by the test scripts: a fresh wine prefix in a scratch folder, set up so that console
# test programs start fast and crashes end the program instead of opening a dialog.
# Defines WINE (the wine64 loader) and wine_prefix_cleanup.
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
wine_scratch=$(mktemp -d /tmp/kavo-wine.XXXXXX)
export WINEPREFIX="$wine_scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

wine_prefix_cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$wine_scratch"
}

wine_prefix_setup() {
  "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
  "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 </dev/null
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
  "$WINESERVER" -k >/dev/null 2>&1 || true
  # A persistent server, and one warm-up run, so each test program starts in milliseconds and
  # wine's services do not hold ctest's output pipe open.
  "$WINESERVER" -p >/dev/null 2>&1 </dev/null
  "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
}
