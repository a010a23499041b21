#!/usr/bin/env bash
# Runs the core benchmarks with repetitions and prints, per picture, the ratio
# of the medians: LoadPdt / memcpy (lower is better) and
# ReferenceDecode / DecodeStream (the decoder's speed-up; higher is better).
#
# usage: bench/core/ratios.sh [BENCH_BINARY] [REPETITIONS]
set -euo pipefail
bin=${1:-build/dev/bench/core/quillon_bench_core}
reps=${2:-7}

# Repetitions of all benchmarks are interleaved at random, so that a change in
# the machine's load affects a picture and its baseline alike.
"$bin" --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_format=csv 2>/dev/null |
  awk -F, '
    function ns(t, unit) {
      if (unit == "ms") return t * 1e6
      if (unit == "us") return t * 1e3
      if (unit == "s") return t * 1e9
      return t
    }
    {
      gsub(/"/, "")
      if ($1 !~ /_median$/) next
      name = substr($1, 1, length($1) - length("_median"))
      split(name, part, "/")
      real[part[1], part[2]] = ns($3, $5)
      cpu[part[1], part[2]] = ns($4, $5)
      if (!(part[2] in seen)) { seen[part[2]] = 1; order[++count] = part[2] }
    }
    END {
      printf "medians of '"$reps"' repetitions; ratios from CPU time (real time in brackets)\n"
      printf "%-18s %22s %22s %22s\n", "picture", "LoadPdt/memcpy", "LoadPdtFresh/memcpy",
             "Reference/DecodeStream"
      for (k = 1; k <= count; ++k) {
        p = order[k]
        printf "%-18s %14.2fx (%4.2fx) %14.2fx (%4.2fx) %14.2fx (%4.2fx)\n", p,
               cpu["LoadPdt", p] / cpu["Memcpy", p], real["LoadPdt", p] / real["Memcpy", p],
               cpu["LoadPdtFresh", p] / cpu["Memcpy", p],
               real["LoadPdtFresh", p] / real["Memcpy", p],
               cpu["ReferenceDecode", p] / cpu["DecodeStream", p],
               real["ReferenceDecode", p] / real["DecodeStream", p]
      }
    }'
