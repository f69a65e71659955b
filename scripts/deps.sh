#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need; does
# nothing when they are all present. Works as root or through sudo, on
# Debian 12 and 13: the Python runtime and clang differ by release.
set -euo pipefail

release=$(. /etc/os-release && echo "${VERSION_ID:-}")
case "$release" in
  12) python=3.11 llvm=14 ;;
  13) python=3.13 llvm=19 ;;
  *) echo "deps.sh: Debian 12 or 13 expected, /etc/os-release says VERSION_ID=$release"; exit 1 ;;
esac

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6test6 qt6-qpa-plugins
  libpcre2-dev
  # The tests make virtual environments with /usr/bin/python3.X -m venv.
  "libpython$python" "python$python" "python$python-venv" python3-venv
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils imagemagick
  at-spi2-core python3-pyatspi dbus-daemon
  fonts-noto-cjk adwaita-icon-theme
  qt6-translations-l10n locales
  dpkg-dev file desktop-file-utils appstream xdotool xclip x11-xkb-utils
  libqscintilla2-qt6-dev
  "clang-$llvm" "libclang-rt-$llvm-dev" "llvm-$llvm"
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# Qt's dialogs follow the user's language; the tests imitate a Japanese desktop.
add_japanese_locale() {
  locale -a 2>/dev/null | grep -qiE '^ja_JP\.utf-?8$' && return 0
  if grep -qE '^# *ja_JP\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    $SUDO sed -i -E 's/^# *(ja_JP\.UTF-8 UTF-8)/\1/' /etc/locale.gen
  else
    echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  add_japanese_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
add_japanese_locale
