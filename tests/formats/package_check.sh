#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR, unpacks it with dpkg -x and uses
# it from the unpacked tree: a Qt program opens PDT files through the plugin,
# the thumbnailer runs as its entry says, and, when the package holds a MIME
# package file, the MIME database names image/x-pdt.
#
#   package_check.sh BUILD_DIR QT_READ MAKE_PICTURES
set -uo pipefail
build_dir=$1 qt_read=$2 make_pictures=$3
command -v cpack >/dev/null && command -v dpkg-deb >/dev/null || { echo "no cpack or dpkg" >&2; exit 77; }
source "$(dirname "$0")/../support/check.sh"

(cd "$work" && cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/out") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; echo "FAILED: cpack" >&2; exit 1; }
deb=$(ls "$work"/out/quillon_*_"$(dpkg --print-architecture)".deb 2>/dev/null | head -1)
[[ -f $deb ]] || { ls "$work/out" >&2; echo "FAILED: no quillon_<version>_<arch>.deb" >&2; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q 'libqt6gui6' || fail "Depends lacks the computed Qt library: $(dpkg-deb -f "$deb" Depends)"
root=$work/root
dpkg -x "$deb" "$root"

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
plugins=$root/usr/lib/$multiarch/qt6/plugins
for file in usr/bin/quillon usr/bin/pdt2bmp usr/bin/quillon-thumbnailer \
  "usr/lib/$multiarch/qt6/plugins/imageformats/libqpdt.so" \
  usr/share/thumbnailers/quillon.thumbnailer usr/share/applications/quillon.desktop \
  usr/share/doc/quillon/copyright; do
  [[ -e $root/$file ]] || fail "the package lacks /$file"
done

"$make_pictures" "$work/in" || fail "cannot make the pictures"
QT_PLUGIN_PATH=$plugins QT_QPA_PLATFORM=offscreen "$qt_read" "$work/in/art.pdt" "$work/in/tall.pdt" ||
  fail "a Qt program cannot read PDT files through the packaged plugin"

exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/thumbnailers/quillon.thumbnailer")
cmd=${exec_line//%s/128}
cmd=${cmd//%i/\'$work/in/art.pdt\'}
cmd=${cmd//%o/\'$work/thumb.png\'}
PATH="$root/usr/bin:$PATH" bash -c "$cmd" || fail "the packaged thumbnailer failed"
[[ $(od -An -c -j1 -N3 "$work/thumb.png" 2>/dev/null | tr -d ' ') == PNG ]] || fail "the thumbnail is not a PNG"

for page in quillon pdt2bmp quillon-thumbnailer; do
  [[ -e $root/usr/share/man/man1/$page.1.gz ]] || fail "the package lacks the manual page of $page"
done
[[ -e $root/usr/share/bash-completion/completions/pdt2bmp ]] || fail "the package lacks the completion of pdt2bmp"
grep -q '^License: Expat' "$root/usr/share/doc/quillon/copyright" || fail "the copyright file names no licence"

# Debian's own checks: no errors, and no warning about manual pages or the
# copyright file.
# (The sanitizer build's package is the same package, not checked twice.)
if grep -q '^QUILLON_SANITIZE:BOOL=ON' "$build_dir/CMakeCache.txt" 2>/dev/null; then
  :
elif command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>/dev/null
  if grep -E '^E: |^W: .*(manual-page|copyright)' "$work/lintian.txt" >&2; then
    fail "lintian reports the lines above"
  fi
else
  echo "note: no lintian; the package was not checked with it"
fi

shopt -s nullglob
mime_files=("$root"/usr/share/mime/packages/*.xml)
if ((${#mime_files[@]} > 0)); then
  mkdir -p "$work/data/mime/packages"
  cp /usr/share/mime/packages/freedesktop.org.xml "${mime_files[@]}" "$work/data/mime/packages/"
  update-mime-database "$work/data/mime" >/dev/null 2>&1 || fail "update-mime-database rejects the package's MIME file"
  cp "$work/in/art.pdt" "$work/EV001.pdt"
  type=$(XDG_DATA_DIRS=$work/data XDG_DATA_HOME=$work/none xdg-mime query filetype "$work/EV001.pdt" 2>/dev/null)
  [[ $type == image/x-pdt* ]] || fail "xdg-mime names '$type' for a PDT file"
else
  echo "note: the package holds no MIME package file; the MIME check did not run"
fi

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "ok: $(basename "$deb") holds working programs, plugin and thumbnailer"
