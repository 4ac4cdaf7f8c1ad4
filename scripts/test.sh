#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test in the optimised build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build and the ThreadSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="ignore_noninstrumented_modules=1:halt_on_error=1:second_deadlock_stack=1"

configs=(release:none:Release address:address:RelWithDebInfo thread:thread:RelWithDebInfo)
if [ $# -gt 0 ]; then
  wanted=" $* "
  filtered=()
  for c in "${configs[@]}"; do
    case "$wanted" in *" ${c%%:*} "*) filtered+=("$c") ;; esac
  done
  configs=("${filtered[@]}")
fi

for c in "${configs[@]}"; do
  IFS=: read -r name sanitize type <<<"$c"
  dir="build/$name"
  echo "=== $name build ==="
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DKORVALT_SANITIZE="$sanitize" -DKORVALT_BUILD_APP=ON >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 900
done
echo "All test configurations passed."
