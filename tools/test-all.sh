#!/usr/bin/env bash
# Installs what is missing, builds Linux, Windows x86_64 and Windows i686, and runs every test:
# natively with ctest (once plain, once under AddressSanitizer and UndefinedBehaviorSanitizer),
# and the Windows programs under wine64. The i686 build is compiled only (32-bit programs do not
# run under wine64). Last, a Release build as a user makes it (default generator, warnings not
# errors) must build.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash tools/setup.sh || exit 1
bash tools/build.sh native asan win64 win32 || exit 1

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

echo "== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j2 2>&1 | tee "$logs/asan.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1

echo "== fuzz targets (a fixed number of runs from a fixed seed)"
bash tools/fuzz.sh --smoke || status=1

echo "== Windows x86_64 tests under wine64"
source tools/wine-env.sh
trap wine_prefix_cleanup EXIT
wine_prefix_setup
# Wine says for every volume query of Z: (its view of /) that the label cannot be read: left out.
ctest --test-dir build/win64 --output-on-failure 2>&1 |
  grep --line-buffered -v 'FS volume label and serial are not available' | tee "$logs/win64.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1

wine_prefix_cleanup
trap - EXIT

echo "== Release build as a user makes it (default generator)"
if cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null &&
  cmake --build build/release -j2 >"$logs/release.log" 2>&1; then
  echo "Release build: ok"
else
  tail -n 40 "$logs/release.log"
  echo "Release build: failed"
  status=1
fi

# A long log may be cut in the middle where it is shown: the failures once more, at its end.
reports='Failure$|ERROR: [A-Za-z]+Sanitizer|runtime error:'
all_logs=("$logs/native.log" "$logs/asan.log" "$logs/win64.log")
if grep -qE "$reports|^\[  FAILED  \]" "${all_logs[@]}"; then
  echo "== failures"
  grep -h -A8 -E "$reports" "${all_logs[@]}" | head -n 200
  grep -h -E '^\[  FAILED  \]' "${all_logs[@]}" | sort -u
fi

read -r np nf < <(summary "$logs/native.log")
read -r ap af < <(summary "$logs/asan.log")
read -r wp wf < <(summary "$logs/win64.log")
echo "native: $np passed, $nf failed; sanitizers: $ap passed, $af failed; win64 (wine): $wp passed, $wf failed"
[ $((np + ap + wp)) -gt 0 ] || status=1
echo "Total: $((np + ap + wp)) passed, $((nf + af + wf)) failed"
rm -rf "$logs"
exit $status
