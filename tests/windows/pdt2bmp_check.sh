#!/usr/bin/env bash
# pdt2bmp_check.sh EXE BENCH_DIR OBJDUMP [EMULATOR...]: runs pdt2bmp.exe the
# way a Windows user does and checks what it writes and says. Windows ends
# lines with \r\n; the checks compare text with the \r removed.
set -u
exe=$1 bench=$2 objdump=$3
shift 3
emulator=("$@")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/check.sh"

# Runs pdt2bmp.exe in the current folder: $status, $out and $err (no \r).
run() {
  "${emulator[@]}" "$exe" "$@" >"$work/out" 2>"$work/err"
  status=$?
  out=$(tr -d '\r' <"$work/out")
  err=$(tr -d '\r' <"$work/err")
}
expect() {  # expect WHAT ACTUAL WANTED
  [ "$2" = "$3" ] || fail "$1: got [$2], wanted [$3]"
}

# Everything it needs is in the .exe: it imports system DLLs only.
dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || fail "objdump shows no imported DLL"
for dll in $dlls; do
  case $dll in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | advapi32.dll | user32.dll | \
      shell32.dll | ntdll.dll | bcrypt.dll) ;;
    *) fail "imports $dll, which is not part of Windows" ;;
  esac
done

mkdir -p "$work/pictures" && cd "$work/pictures" || exit 1

# The decoding kernel is chosen at run time as on Linux: the best one the
# processor runs, or the one QUILLON_PDT_KERNEL names.
kernels=""
for kernel in avx512 avx2 portable; do
  QUILLON_PDT_KERNEL=$kernel run --version
  [ "${out##*: }" = "$kernel" ] && kernels="$kernels $kernel"
done
case $kernels in
  *portable) ;;
  *) fail "the portable kernel cannot be chosen (runnable:$kernels)" ;;
esac
best=${kernels# }
best=${best%% *}
run --version
expect "the kernel chosen by default" "${out##*: }" "$best"

# The shared pictures, converted in parallel with the best kernel and with the
# portable one: each BMP has its known digest.
if [ -f "$bench/BENCH.tsv" ]; then
  for kernel in $best portable; do
    QUILLON_PDT_KERNEL=$kernel run -q -o "bmp-$kernel" "$bench"
    expect "shared pictures with the $kernel kernel: status" "$status" 0
    n=0
    while read -r name _ _ _ _ _ digest; do
      [ "$name" = name ] && continue
      echo "$digest  bmp-$kernel/$name.bmp" | sha256sum --quiet -c - ||
        fail "$name.bmp differs with the $kernel kernel"
      n=$((n + 1))
    done <"$bench/BENCH.tsv"
    [ "$n" -eq 16 ] || fail "$n shared pictures, not 16"
  done
  cp "$bench/bench_04_painted_1280x720.pdt" picture.pdt
else
  echo "no shared pictures in $bench: they are not checked"
  # The smallest PDT picture: 1 × 1, one literal pixel.
  printf 'PDT10\0\0\0\x40\0\0\0\1\0\0\0\1\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x80\1\2\3' >picture.pdt
fi

# PNG output holds the same pixels as the BMP (decoded by ImageMagick).
run picture.pdt picture.png
expect "PNG output: status" "$status" 0
run picture.pdt picture.bmp
if command -v compare >/dev/null; then
  differing=$(compare -metric AE picture.png picture.bmp null: 2>&1)
  expect "pixels that differ between the PNG and the BMP" "$differing" 0
fi
[ "$(head -c 8 picture.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "picture.png does not start with the PNG signature"

# An existing file is kept without -f and replaced with it; the message
# names the file and how to replace it.
printf 'old' >kept.bmp
run picture.pdt kept.bmp
expect "replacing without -f: status" "$status" 1
expect "replacing without -f: message" "$err" \
  "pdt2bmp: picture.pdt: kept.bmp already exists (use --force to replace)
converted 0 of 1 files, 1 failed"
expect "replacing without -f: the old file" "$(cat kept.bmp)" old
run -f picture.pdt kept.bmp
expect "replacing with -f: status" "$status" 0
cmp -s kept.bmp picture.bmp || fail "-f did not replace kept.bmp with the picture"
leftovers=$(find . -name '.quillon-*')
expect "temporary files left behind" "$leftovers" ""

# The output's name decides its format: any other name writes nothing.
run picture.pdt picture.jpg
expect "unknown extension: status" "$status" 2
[ -e picture.jpg ] && fail "an output named .jpg was written"

# Names that differ only in letter case name one file on Windows: the second
# conversion fails rather than replacing the first one's output, even with -f.
mkdir -p upper lower && cp picture.pdt upper/X.pdt && cp picture.pdt lower/x.PDT
run -q -f -o same upper/X.pdt lower/x.PDT
expect "outputs differing in case: status" "$status" 1
case $err in
  *"lower/x.PDT: same"?"x.bmp is already the output of upper/X.pdt") ;;
  *) fail "outputs differing in case: message [$err]" ;;
esac

# A Japanese name: the output is named from it, and messages show it in UTF-8.
cp picture.pdt 背景.pdt
run 背景.pdt
expect "Japanese name: status" "$status" 0
expect "Japanese name: summary" "$err" "converted 1 of 1 files"
cmp -s 背景.bmp picture.bmp || fail "背景.bmp is not the picture"
run 背景.pdt
expect "Japanese name: message" "$err" \
  "pdt2bmp: 背景.pdt: 背景.bmp already exists (use --force to replace)
converted 0 of 1 files, 1 failed"
mkdir -p 絵/夜 && cp picture.pdt 絵/夜/月.PDT
run -q -r -o 出力 絵
expect "Japanese folders: status" "$status" 0
[ -f 出力/夜/月.bmp ] || fail "-r -o did not write 出力/夜/月.bmp"

# Ctrl-C (wine turns SIGINT into the console's Ctrl-C) in the middle of a
# folder, two files at a time: exit status 130, how many files were done, every finished file
# complete and no temporary file left.
if [ -f "$bench/BENCH.tsv" ]; then
  for k in 1 2 3 4 5 6; do mkdir -p tree/$k && cp "$bench"/*.pdt tree/$k/; done
  "${emulator[@]}" "$exe" -j2 -r -o stopped tree >"$work/out" 2>"$work/err" &
  pid=$!
  # Once a few files are done, while others are being written.
  for _ in $(seq 600); do
    [ "$(find stopped -name '*.bmp' 2>/dev/null | wc -l)" -ge 4 ] && break
    sleep 0.05
  done
  kill -INT $pid
  wait $pid
  status=$?
  err=$(tr -d '\r' <"$work/err")
  if [ "$status" -eq 0 ]; then
    echo "the folder was converted before Ctrl-C reached it: not checked"
  else
    expect "Ctrl-C: status" "$status" 130
    case ${err##*$'\n'} in
      "pdt2bmp: interrupted; converted "*" of 96 files") ;;
      *) fail "Ctrl-C: last line [${err##*$'\n'}]" ;;
    esac
    leftovers=$(find stopped -name '.quillon-*')
    expect "Ctrl-C: temporary files left behind" "$leftovers" ""
    while read -r name _ _ _ _ _ digest; do
      for bmp in stopped/*/"$name.bmp"; do
        [ -f "$bmp" ] || continue
        echo "$digest  $bmp" | sha256sum --quiet -c - || fail "Ctrl-C: $bmp is not complete"
      done
    done <"$bench/BENCH.tsv"
  fi
fi

# The command line: usage errors, help and version, as on Linux.
run
expect "no operand: status" "$status" 2
expect "no operand: first line" "${err%%$'\n'*}" "pdt2bmp: missing operand"
run --version
expect "--version" "${out%%$'\n'*}" "pdt2bmp (Quillon) $(sed -n 's/^project(Quillon VERSION \([^ ]*\).*/\1/p' \
  "$here/../../CMakeLists.txt")"
run nothing.pdt
expect "missing input: status" "$status" 1

((failures == 0)) && echo "pdt2bmp.exe: all checks passed"
exit $((failures > 0))
