#!/usr/bin/env bash
# Builds the Telnet interpreter fuzz target with clang in its own build directory and runs it
# for a bounded time, starting from a copy of the committed seed corpus (the corpus in the
# repository is never written to). Fails when the fuzzer finds a crash or a broken property.
#
# Usage: tests/fuzz/run-fuzz.sh [build-dir] [seconds]
#   build-dir  default build-fuzz (relative to the project root)
#   seconds    default $FUZZ_SECONDS, else 60
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-build-fuzz}"
seconds="${2:-${FUZZ_SECONDS:-60}}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
case "$seconds" in '' | *[!0-9]*) echo "run-fuzz: seconds must be a whole number: '$seconds'" >&2; exit 2 ;; esac

for tool in clang clang++ cmake; do
  command -v "$tool" >/dev/null || { echo "run-fuzz: $tool not found" >&2; exit 2; }
done

generator=()
if command -v ninja >/dev/null && [ ! -f "$build/CMakeCache.txt" ]; then generator=(-G Ninja); fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" \
  -DCMAKE_CXX_COMPILER=clang++ -DBRELVIN_BUILD_APP=OFF -DBRELVIN_BUILD_FUZZERS=ON
cmake --build "$build" --target telnet_interpreter_fuzz -j2

work="$build/fuzz-run"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$root/tests/fuzz/corpus/"* "$work/corpus/"

# libFuzzer exits non-zero on a crash, a sanitizer report or an abort from a checked
# property; the failing input is left in $work/artifacts.
"$build/fuzz/telnet_interpreter_fuzz" \
  -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus"
echo "run-fuzz: no failure in ${seconds}s; corpus grown in $work/corpus"
