#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the viewer, the
# converter, the desktop entry, the PDT file type and the software-centre
# description land where a desktop finds them, and that a desktop's own tools
# accept them and recognise PDT files.
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

# Every program: its manual page, --help listing -h, --help and --version the
# same way, --version naming it and the package.
for program in quillon pdt2bmp quillon-thumbnailer; do
  [[ -x $prefix/bin/$program ]] || fail "bin/$program is not installed"
  [[ -f $prefix/share/man/man1/$program.1.gz ]] || fail "share/man/man1/$program.1.gz is not installed"
  help=$("$prefix/bin/$program" --help) || fail "$program --help fails"
  grep -qxF '  -h, --help         show this help and exit' <<<"$help" || fail "$program --help lists -h, --help otherwise"
  grep -qxF '      --version      show the version and exit' <<<"$help" || fail "$program --help lists --version otherwise"
  [[ $("$prefix/bin/$program" --version) == "$program (Quillon) "[0-9]* ]] || fail "$program --version"
  "$prefix/bin/$program" --no-such-option >/dev/null 2>"$prefix/err" && fail "$program accepts an unknown option"
  grep -qxF "$program: unknown option '--no-such-option'" "$prefix/err" ||
    fail "$program words an unknown option as: $(cat "$prefix/err")"
  grep -qxF "Try '$program --help' for more information." "$prefix/err" || fail "$program gives no --help hint"
done
for program in quillon pdt2bmp; do
  [[ -f $prefix/share/bash-completion/completions/$program ]] || fail "the completion of $program is not installed"
done

entry=$prefix/share/applications/quillon.desktop
[[ -f $entry ]] || fail "share/applications/quillon.desktop is not installed"
for line in '[Desktop Entry]' 'Type=Application' 'Name=Quillon' 'Exec=quillon %f' \
  'Terminal=false' 'Categories=Graphics;Viewer;' 'MimeType=image/x-pdt;'; do
  grep -qxF "$line" "$entry" || fail "desktop entry lacks the line $line"
done
grep -q '^Comment=.' "$entry" || fail "desktop entry has no Comment"
grep -q '^Comment\[ja\]=.' "$entry" || fail "desktop entry has no Japanese Comment"
for tool in desktop-file-validate appstreamcli update-mime-database xdg-mime mimetype; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"
done
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"

metainfo=$prefix/share/metainfo/org.quillon.Quillon.metainfo.xml
[[ -f $metainfo ]] || fail "share/metainfo/org.quillon.Quillon.metainfo.xml is not installed"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metainfo file"

# The file type, as a desktop sees it once the installed package is compiled
# into the prefix's MIME database.
[[ -f $prefix/share/mime/packages/quillon-pdt.xml ]] || fail "share/mime/packages/quillon-pdt.xml is not installed"
update-mime-database "$prefix/share/mime" >/dev/null 2>&1 || fail "update-mime-database failed"
files=$prefix/files
mkdir -p "$files"
printf 'PDT10\0\0\0%024d' 0 >"$files/EV001.PDT"           # name and signature
printf 'PDT10\0\0\0%024d' 0 >"$files/picture"             # signature alone
printf ' PDT10\0\0%024d' 0 >"$files/shifted"               # signature moved by one
printf 'not a picture\n' >"$files/title.pdt"                # name alone
printf 'PDT1 PDT10%024d' 0 >"$files/late"                    # no "PDT10" in the first 8 bytes
printf 'plain text\n' >"$files/notes.txt"
xdg() {
  XDG_DATA_HOME=$prefix/share XDG_DATA_DIRS=/usr/share XDG_CONFIG_HOME=$prefix/config \
    XDG_CURRENT_DESKTOP= xdg-mime query "$@" 2>&1
}
filetype() { xdg filetype "$files/$1"; }
for name in EV001.PDT picture shifted title.pdt; do
  type=$(filetype "$name")
  [[ $type == image/x-pdt* ]] || fail "$name is taken for '$type', not image/x-pdt"
done
for name in late notes.txt; do
  type=$(filetype "$name")
  [[ $type != image/x-pdt* ]] || fail "$name is taken for image/x-pdt"
done
# A file manager opens such files with the installed entry.
opener=$(xdg default image/x-pdt)
[[ $opener == quillon.desktop ]] || fail "PDT files are opened with '$opener', not quillon.desktop"
echo "ok: quillon, pdt2bmp, the desktop entry, the PDT file type and the metainfo installed"
