#!/usr/bin/env bash
# Sets up everything and runs the whole test suite:
#   release  Release build, every CTest test (GoogleTest)
#   e2e      pytest end-to-end suite against the Release build of velmo
#   asan     engine and PDF helper tests, and the host's desktop services, under ASan+UBSan
#   tsan     the concurrency tests under ThreadSanitizer
#   fuzz     every libFuzzer target for a short run (clang)
# VELMO_STAGES picks stages (default: all, in that order); extra arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

stages=${VELMO_STAGES:-release e2e asan tsan fuzz}
jobs=$(nproc)
gen=(-G Ninja)

has() { [[ " $stages " == *" $1 "* ]]; }
step() { printf '\n==== %s ====\n' "$*"; }

if has release || has e2e; then
  step "Release build"
  cmake -S . -B build/release "${gen[@]}" -DCMAKE_BUILD_TYPE=Release
  cmake --build build/release -j"$jobs"
fi
if has release; then
  step "Unit tests (Release)"
  ctest --test-dir build/release --output-on-failure -j"$jobs" -LE fuzz
fi
if has e2e; then
  step "End-to-end tests"
  # The Debian interpreter: python3-gi and python3-pytest are installed for it,
  # and another python3 may come first on PATH.
  VELMO_BUILD_DIR="$PWD/build/release" /usr/bin/python3 -m pytest tests/e2e -q "$@"
fi
if has asan; then
  step "ASan+UBSan build and tests"
  cmake -S . -B build/asan "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMO_SANITIZE=address -DVELMO_HOST=OFF -DVELMO_BENCHMARKS=OFF
  cmake --build build/asan -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure -j"$jobs"
  step "ASan+UBSan: the host's desktop services"
  # Only this target of the host build: the services and the embedder stand-in.
  cmake -S . -B build/asan-host "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMO_SANITIZE=address -DVELMO_BENCHMARKS=OFF
  cmake --build build/asan-host -j"$jobs" --target velmo_desktop_test
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build/asan-host/linux/velmo_desktop_test
fi
if has tsan; then
  step "ThreadSanitizer build and concurrency tests"
  cmake -S . -B build/tsan "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMO_SANITIZE=thread -DVELMO_HOST=OFF -DVELMO_BENCHMARKS=OFF
  cmake --build build/tsan -j"$jobs"
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build/tsan --output-on-failure -j"$jobs" -L tsan
fi
if has fuzz; then
  step "libFuzzer targets (short runs)"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMO_FUZZ=ON -DVELMO_HOST=OFF
  cmake --build build/fuzz -j"$jobs"
  ctest --test-dir build/fuzz --output-on-failure -j"$jobs" -L fuzz
fi
step "All stages passed: $stages"
