#!/usr/bin/env bash
# Runs every test: the native unit tests, the same under AddressSanitizer + UBSan, and the Windows
# build's tests under Wine (Win32 layer and end to end with the real exe).
#   scripts/test.sh            everything (what CI runs)
#   scripts/test.sh --quick    skips the long end-to-end tests (label "long")
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1

ctest_args=()
[ "${1:-}" = "--quick" ] && ctest_args+=(-LE long)

passed=0
failed=0
status=0
for preset in native asan mingw; do
  echo "=== $preset: configure and build"
  mkdir -p build
  if ! cmake --preset "$preset" >"build/$preset.log" 2>&1 || ! cmake --build --preset "$preset" >>"build/$preset.log" 2>&1; then
    tail -n 60 "build/$preset.log"
    echo "=== $preset: build FAILED (see build/$preset.log)"
    status=1
    continue
  fi
  echo "=== $preset: tests"
  jobs=2
  [ "$preset" = mingw ] && jobs=1
  ctest --preset "$preset" -j "$jobs" "${ctest_args[@]}" 2>&1 | tee "build/test-$preset.log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "build/test-$preset.log" | tail -n 1)
  if [ -n "$summary" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  else
    status=1
  fi
done
echo
echo "$passed passed, $failed failed"
exit $status
