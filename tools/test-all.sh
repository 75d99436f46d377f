#!/usr/bin/env bash
# Installs what is missing, builds Linux, Windows x86_64 and Windows i686, and runs every test:
# natively with ctest, and the Windows programs under wine64. The i686 build is compiled only
# (32-bit programs do not run under wine64).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash tools/setup.sh || exit 1
bash tools/build.sh native win64 win32 || exit 1

summary() {  # "N passed, M failed" from a ctest log
  local total failed
  total=$(grep -oE 'tests failed out of [0-9]+' "$1" | grep -oE '[0-9]+$' | tail -1)
  failed=$(grep -oE '[0-9]+ tests failed out of' "$1" | grep -oE '^[0-9]+' | tail -1)
  echo "$(( ${total:-0} - ${failed:-0} )) ${failed:-0}"
}

status=0
logs=$(mktemp -d)

# Images made by the real tools, read by the Linux and the Windows test runs alike.
export KAVO_FIXTURES="$root/build/fixtures"
bash tools/make-fixtures.sh "$KAVO_FIXTURES" >/dev/null || exit 1

echo "== native tests"
ctest --test-dir build/native --output-on-failure -j2 2>&1 | tee "$logs/native.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1

echo "== fuzz targets (a fixed number of runs from a fixed seed)"
bash tools/fuzz.sh --smoke || status=1

echo "== Windows x86_64 tests under wine64"
source tools/wine-env.sh
trap wine_prefix_cleanup EXIT
wine_prefix_setup
ctest --test-dir build/win64 --output-on-failure 2>&1 | tee "$logs/win64.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1

read -r np nf < <(summary "$logs/native.log")
read -r wp wf < <(summary "$logs/win64.log")
echo "native: $np passed, $nf failed; win64 (wine): $wp passed, $wf failed"
[ $((np + wp)) -gt 0 ] || status=1
echo "Total: $((np + wp)) passed, $((nf + wf)) failed"
rm -rf "$logs"
exit $status
