#!/usr/bin/env bash
# release_zip_check.sh BUILD_DIR NAME: makes the release zip with cpack and
# checks what a Windows user unpacks from it.
set -u
build=$1 name=$2
source "$(dirname "$0")/../support/check.sh"

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G ZIP failed"; exit 1; }
zip=$work/package/$name.zip
[ -f "$zip" ] || { fail "no $name.zip"; exit 1; }
unzip -q "$zip" -d "$work/unpacked" || fail "the zip does not unpack"
cd "$work/unpacked" || exit 1

listed=$(find . -type f | sort | tr '\n' ' ')
expect_files="./$name/LICENSE.txt ./$name/README.txt ./$name/pdt2bmp.exe "
[ "$listed" = "$expect_files" ] || fail "the zip holds [$listed], not [$expect_files]"
for text in README.txt LICENSE.txt; do
  file=$name/$text
  [ -s "$file" ] || continue
  lines=$(wc -l <"$file")
  crlf=$(grep -c $'\r$' "$file")
  [ "$lines" -eq "$crlf" ] || fail "$text: $crlf of $lines lines end in CR LF"
done
[ "$(head -c 2 "$name/pdt2bmp.exe")" = MZ ] || fail "pdt2bmp.exe is not a Windows program"

((failures == 0)) && echo "$name.zip: pdt2bmp.exe, README.txt and LICENSE.txt"
exit $((failures > 0))
