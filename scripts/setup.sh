#!/usr/bin/env bash
# Installs the Debian packages Quillon needs to build, test and run; installs
# only what is missing, so running it again is cheap. Needs root (or sudo).
set -euo pipefail

PACKAGES=(
  # build
  cmake g++ make pkg-config libcli11-dev
  # tests, benchmarks, fuzzing and sanitizers
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # the viewer, and Qt's own texts (dialog buttons) in the desktop's language
  qt6-base-dev libgl-dev fonts-ipafont-gothic qt6-translations-l10n
  # running the real program on a virtual display
  xvfb xauth x11-utils x11-apps xdotool
  # checking the installed desktop entry, file type and metainfo
  desktop-file-utils appstream shared-mime-info xdg-utils libfile-mimeinfo-perl
  # PNG output, and reading PNG files back in the tests
  libpng-dev imagemagick
  # the Debian package and its checks
  dpkg-dev fakeroot lintian
  # the manual pages
  scdoc
  # the gdk-pixbuf loader, and gdk-pixbuf's own tools that load and query it
  libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin
  # pdt2bmp.exe for Windows: the MinGW-w64 compiler, zlib for it, wine to test
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 unzip
  # the core tests on other processors: AArch64 and x86 without AVX under
  # qemu, WebAssembly under node
  qemu-user g++-aarch64-linux-gnu emscripten nodejs
)
# The web app: its WebAssembly build, and the browser its tests drive.
if [[ -n ${QUILLON_WEB:-} ]]; then
  PACKAGES+=(emscripten chromium)
  command -v npm >/dev/null || PACKAGES+=(npm)
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "setup: need root to install: ${missing[*]}" >&2; exit 1; }
  SUDO=(sudo)
fi
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
