#!/usr/bin/env bash
# Starts the prefix's wineserver and desktop process before the tests, detached from every output.
# Otherwise the first test that opens a window starts the desktop process, which inherits that test's
# output pipes and lives as long as the server, and ctest waits for those pipes until the test times out.
set -euo pipefail
[ "${1:-}" = "--shutdown" ] && exit 0  # prepare-prefix.sh stops the server after the run
[ -n "${DISPLAY:-}" ] || exit 0         # without a display there is no desktop
driver="$FERNQUILL_BUILD_DIR/equipment/setup-driver.exe"
[ -f "$driver" ] || { echo "70-desktop: $driver is not built" >&2; exit 1; }
# A server that an earlier step started holds that step's output; let it end first.
"$WINESERVER" -w
# Persistent for the length of a test run, and bounded in case the run is killed before its clean-up.
setsid "$WINESERVER" -p1800 </dev/null >/dev/null 2>&1
# Any window lookup makes the desktop; wait-gone returns at once since no setup window is open.
setsid "$WINE" "$driver" --timeout 0 wait-gone </dev/null >/dev/null 2>&1 || true
