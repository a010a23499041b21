#!/usr/bin/env bash
# Runs the core benchmarks with repetitions and prints ratios of the medians,
# per picture, per picture class (sums of the medians) and over the whole
# shared set:
#   Ref/LoadPdt     the reference decoder's time over LoadPdt's (speed-up; higher is better)
#   LoadPdt/Memory  LoadPdt's time over the in-memory loader's (lower is better)
#   LoadPdt/memcpy  LoadPdt's time over a memcpy of its output (lower is better)
#   Ref/Decode      the reference decoder's time over DecodeStream's (speed-up)
# Ratios come from CPU time.
#
# usage: bench/core/ratios.sh [BENCH_BINARY] [REPETITIONS]
set -euo pipefail
bin=${1:-build/dev/bench/core/quillon_bench_core}
reps=${2:-7}

# Repetitions of all benchmarks are interleaved at random, so that a change in
# the machine's load affects a picture and its baselines alike.
"$bin" --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true --benchmark_min_time=0.1 \
  --benchmark_report_aggregates_only=true \
  --benchmark_format=csv 2>/dev/null |
  awk -F, '
    function ns(t, unit) {
      if (unit == "ms") return t * 1e6
      if (unit == "us") return t * 1e3
      if (unit == "s") return t * 1e9
      return t
    }
    function line(label, g) {
      printf "%-24s %10.2fx %13.2fx %13.2fx %10.2fx %10.0f\n", label,
             cpu["ReferenceDecode", g] / cpu["LoadPdt", g], cpu["LoadPdt", g] / cpu["LoadPdtMemory", g],
             cpu["LoadPdt", g] / cpu["Memcpy", g], cpu["ReferenceDecode", g] / cpu["DecodeStream", g],
             cpu["LoadPdt", g] / 1e3
    }
    {
      gsub(/"/, "")
      if ($1 !~ /_median$/) next
      name = substr($1, 1, length($1) - length("_median"))
      split(name, part, "/")
      bench = part[1]; pic = part[2]
      t = ns($4, $5)
      cpu[bench, pic] = t
      if (!(pic in seen)) { seen[pic] = 1; order[++count] = pic }
      # bench_NN_CLASS_WxH: the shared set, grouped by class.
      if (split(pic, field, "_") == 4 && field[1] == "bench") {
        cls = field[3]
        if (!(cls in cseen)) { cseen[cls] = 1; corder[++ccount] = cls }
        cpu[bench, "class " cls] += t
        cpu[bench, "shared set"] += t
      }
    }
    END {
      printf "medians of '"$reps"' repetitions (CPU time)\n"
      printf "%-24s %11s %14s %14s %11s %10s\n", "picture", "Ref/LoadPdt", "LoadPdt/Memory",
             "LoadPdt/memcpy", "Ref/Decode", "LoadPdt_us"
      # Repetitions come interleaved at random: list the pictures by name.
      for (a = 2; a <= count; ++a) {
        v = order[a]
        for (b = a - 1; b >= 1 && order[b] > v; --b) order[b + 1] = order[b]
        order[b + 1] = v
      }
      for (k = 1; k <= count; ++k) line(order[k], order[k])
      for (k = 1; k <= ccount; ++k) line("class " corder[k], "class " corder[k])
      if (ccount > 0) line("shared set", "shared set")
    }'
