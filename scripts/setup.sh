#!/usr/bin/env bash
# Shared set-up for run.sh and test.sh: installs the Debian packages the
# build and tests need (as root), then configures and builds in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

# fonts-liberation2 gives "Times New Roman" (the printed help texts) a
# metric-compatible face; poppler-utils lets the tests read printed PDFs.
# dpkg-dev and file let cpack build the Debian package with its library
# dependencies; desktop-file-utils and groff-base check its menu entry and
# manual page. xvfb, openbox, xdotool and x11-apps (xwd) run the window
# under a real X server and window manager, driven by keys (tests/gui).
# libfuse3-dev and fuse3 build and mount the tests' disk with bad sectors.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6sql6-sqlite qt6-qpa-plugins
          libgtest-dev sqlite3 ntfs-3g dosfstools e2fsprogs util-linux mount
          fonts-liberation2 poppler-utils dpkg-dev file desktop-file-utils groff-base btrfs-progs
          xvfb openbox xdotool x11-apps libfuse3-dev fuse3)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "Missing packages. Run as root:" >&2
    echo "  apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi

tests=${ZARVEX_TESTS:-ON}
cmake -S . -B build -G Ninja -DZARVEX_TESTS="$tests" >/dev/null
cmake --build build -- -j"$(nproc)"
