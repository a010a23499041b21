#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the viewer, the
# converter and the viewer's desktop entry land where a desktop finds them.
#
#   install_check.sh BUILD_DIR
set -uo pipefail

build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

cmake --install "$build_dir" --prefix "$prefix" >"$prefix.log" 2>&1 || {
  cat "$prefix.log" >&2
  rm -f "$prefix.log"
  fail "cmake --install failed"
}
rm -f "$prefix.log"

for program in quillon pdt2bmp; do
  [[ -x $prefix/bin/$program ]] || fail "bin/$program is not installed"
done

entry=$prefix/share/applications/quillon.desktop
[[ -f $entry ]] || fail "share/applications/quillon.desktop is not installed"
for line in '[Desktop Entry]' 'Type=Application' 'Name=Quillon' 'Exec=quillon' \
  'Terminal=false' 'Categories=Graphics;Viewer;'; do
  grep -qxF "$line" "$entry" || fail "desktop entry lacks the line $line"
done
grep -q '^Comment=.' "$entry" || fail "desktop entry has no Comment"
grep -q '^Comment\[ja\]=.' "$entry" || fail "desktop entry has no Japanese Comment"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
else
  echo "note: desktop-file-validate is not installed; the entry's syntax was not validated"
fi
echo "ok: quillon, pdt2bmp and quillon.desktop installed"
