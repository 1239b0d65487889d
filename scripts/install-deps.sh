#!/usr/bin/env bash
# Installs the Debian packages that building, testing, benchmarking and packaging Quillmere need.
# Idempotent and non-interactive: packages already present are left alone, and apt is
# only called when something is missing. Run as root (or through sudo).
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libgl-dev libglu1-mesa-dev libgl1-mesa-dri
  zlib1g-dev
  qt6-base-dev libqt6opengl6-dev qt6-translations-l10n
  xvfb xauth
  # xprop: the window-title test reads the titles the X server holds.
  x11-utils
  # The accessibility test: a private session bus, the AT-SPI bus and its Python client.
  dbus-daemon at-spi2-core python3-pyatspi
  python3 python3-pil
  # The point-cloud test reads the PLY files with an independent reader.
  python3-numpy
  # Renders split into shards: the local and remote job runner of scripts/cluster.
  parallel
  # quillmere-cli animate --video encodes its frames with ffmpeg.
  ffmpeg
  clang libclang-rt-14-dev
  locales
  # The gallery's contact sheet writes its captions in DejaVu Sans.
  fonts-dejavu-core
  # Installing and packaging: icons, manual pages, the .deb, and the checks of each.
  librsvg2-bin help2man dpkg-dev lintian
  desktop-file-utils appstream libxml2-utils shared-mime-info libglib2.0-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The tests read and write files under a comma-decimal locale, as a French desktop runs.
if ! locale -a 2>/dev/null | grep -qix 'fr_FR.utf8'; then
  echo "Generating the fr_FR.UTF-8 locale" >&2
  $sudo sed -i 's/^# *\(fr_FR.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^fr_FR.UTF-8 UTF-8' /etc/locale.gen || echo 'fr_FR.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
