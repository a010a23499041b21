#!/usr/bin/env bash
# Fuzzes the PDT loader, then the Qt image plugin's reader and the gdk-pixbuf
# loader when they were built, for a while each: bash fuzz/run.sh BUILD_DIR
# SECONDS (the PDT loader gets SECONDS, the plugin half of that, the gdk-pixbuf
# loader a quarter, at least 15 s). BUILD_DIR must hold a
# clang build configured with -DQUILLON_FUZZ=ON; nothing is built here. The
# seed corpus is made afresh in a temporary folder. Exits non-zero when a
# fuzzer finds a crash, a leak, a timeout or an allocation beyond the limits;
# the failing input is kept in BUILD_DIR/fuzz/findings.
set -euo pipefail

if (($# != 2)); then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
seeds=$build/fuzz/pdt_fuzz_seeds
for program in "$build/fuzz/pdt_load_fuzzer" "$seeds"; do
  if [[ ! -x $program ]]; then
    echo "fuzz: $program is missing; configure $build with clang and -DQUILLON_FUZZ=ON and build it" >&2
    exit 1
  fi
done

# Everything goes into one folder that is removed at the end, even after a
# crash; in memory when /dev/shm is there.
base=${TMPDIR:-/tmp}
[[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm
work=$(mktemp -d "$base/quillon-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/scratch"
"$seeds" "$work/corpus"

# fuzz NAME SECONDS: one target over its own copy of the seeds. Inputs reach a
# little past 64 KiB. Such a file can describe at most 576 Ki pixels
# (2.25 MiB); a single allocation above 64 MB can only come from believing a
# header's claim.
fuzz() {
  local name=$1 time=$2 status=0
  local findings=$work/findings-$name
  mkdir -p "$findings" "$work/corpus-$name"
  cp "$work/corpus/"* "$work/corpus-$name/"
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} TMPDIR="$work/scratch" QT_QPA_PLATFORM=offscreen \
    "$build/fuzz/$name" "$work/corpus-$name" \
    -max_total_time="$time" \
    -max_len=73728 \
    -rss_limit_mb=2048 \
    -malloc_limit_mb=64 \
    -timeout=10 \
    -print_final_stats=1 \
    -artifact_prefix="$findings/" \
    2>"$work/$name.log" || status=$?
  grep -E '^(stat::|#[0-9]+ +DONE|INFO: Running with|Done [0-9]+ runs)' "$work/$name.log" || true
  if ((status != 0)) || [[ -n $(ls -A "$findings") ]]; then
    tail -n 60 "$work/$name.log" >&2
    mkdir -p "$build/fuzz/findings"
    cp -f "$findings/"* "$build/fuzz/findings/" 2>/dev/null || true
    echo "fuzz: $name failed on an input (exit $status); kept in $build/fuzz/findings" >&2
    exit 1
  fi
  echo "fuzz: $name found nothing in ${time}s"
}

fuzz pdt_load_fuzzer "$seconds"
if [[ -x $build/fuzz/pdt_plugin_fuzzer ]]; then
  fuzz pdt_plugin_fuzzer $(((seconds + 1) / 2))
fi
if [[ -x $build/fuzz/pixbuf_loader_fuzzer ]]; then
  pixbuf_seconds=$(((seconds + 3) / 4))
  fuzz pixbuf_loader_fuzzer $((pixbuf_seconds < 15 ? 15 : pixbuf_seconds))
fi
