#!/usr/bin/env bash
# Fuzzes the PDT loader for a while: bash fuzz/run.sh BUILD_DIR SECONDS
# BUILD_DIR must hold a clang build configured with -DQUILLON_FUZZ=ON; nothing
# is built here. The seed corpus is made afresh in a temporary folder. Exits
# non-zero when the fuzzer finds a crash, a leak, a timeout or an allocation
# beyond the limits; the failing input is kept in BUILD_DIR/fuzz/findings.
set -euo pipefail

if (($# != 2)); then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
fuzzer=$build/fuzz/pdt_load_fuzzer
seeds=$build/fuzz/pdt_fuzz_seeds
for program in "$fuzzer" "$seeds"; do
  if [[ ! -x $program ]]; then
    echo "fuzz: $program is missing; configure $build with clang and -DQUILLON_FUZZ=ON and build it" >&2
    exit 1
  fi
done

# Everything, the fuzzer's scratch file included, goes into one folder that is
# removed at the end, even after a crash; in memory when /dev/shm is there.
base=${TMPDIR:-/tmp}
[[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm
work=$(mktemp -d "$base/quillon-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/findings" "$work/scratch"
"$seeds" "$work/corpus"

# Inputs reach a little past 64 KiB, so that a payload can run past one read of
# the loader. Such a file can describe at most 576 Ki pixels (2.25 MiB); a
# single allocation above 64 MB can only come from believing a header's claim.
status=0
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} TMPDIR="$work/scratch" \
  "$fuzzer" "$work/corpus" \
  -max_total_time="$seconds" \
  -max_len=73728 \
  -rss_limit_mb=2048 \
  -malloc_limit_mb=64 \
  -timeout=10 \
  -print_final_stats=1 \
  -artifact_prefix="$work/findings/" \
  2>"$work/fuzz.log" || status=$?
grep -E '^(stat::|#[0-9]+ +DONE|INFO: Running with|Done [0-9]+ runs)' "$work/fuzz.log" || true

if ((status != 0)) || [[ -n $(ls -A "$work/findings") ]]; then
  tail -n 60 "$work/fuzz.log" >&2
  mkdir -p "$build/fuzz/findings"
  cp -f "$work/findings/"* "$build/fuzz/findings/" 2>/dev/null || true
  echo "fuzz: the loader failed on an input (exit $status); kept in $build/fuzz/findings" >&2
  exit 1
fi
echo "fuzz: nothing found in ${seconds}s"
