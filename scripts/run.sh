#!/usr/bin/env bash
# Builds Quillon and starts the viewer in the folder of drawn sample pictures,
# so that the file list shows pictures at once. Without a display it says how
# to run it on a virtual one.
set -euo pipefail

# Said before anything is installed or built, so it is learnt at once.
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
  echo "run: no display (DISPLAY and WAYLAND_DISPLAY are unset); on a machine without one, use: xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi

cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh

build=build/release
# The release build, with the developer tooling that draws the sample pictures.
cmake --preset release -DQUILLON_DEVTOOLS=ON >/dev/null
cmake --build --preset release -j"$(nproc)" --target quillon quillon_samples

# The viewer shows the folder it is started in.
cd "$root/$build/samples"
exec "$root/$build/app/quillon"
