#!/usr/bin/env bash
# The program's accessibility as a screen reader meets it: the program runs with Qt's AT-SPI
# bridge on, on a private session bus, and a pyatspi client reads the tree.
# Usage: atspi_test.sh PROGRAM EXAMPLE.qmattr. Exit 77 (skipped) without the tools.
set -u
program=$(realpath "$1")
example=$2
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
launcher=/usr/libexec/at-spi-bus-launcher
if [ -z "${DISPLAY:-}" ] || ! command -v dbus-run-session >/dev/null || [ ! -x "$launcher" ] ||
    ! "$python" -c 'import pyatspi' 2>/dev/null; then
    echo "skipped: needs a display, dbus-run-session, at-spi2-core and python3-pyatspi"
    exit 77
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# French stored for this program, so that no language dialog comes first.
key=$("$python" -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$program")
mkdir -p "$home/.config/Quillmere"
printf '[Locales]\n%s=FR\n' "$key" >"$home/.config/Quillmere/Quillmere.conf"

HOME=$home XDG_CONFIG_HOME=$home/.config dbus-run-session -- bash -c '
    "$0" --launch-immediately >/dev/null 2>&1 &
    sleep 1
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 timeout 60 "$1" "$2" >/dev/null 2>&1 &
    app=$!
    timeout 50 "$3" "$4"
    status=$?
    kill $app 2>/dev/null
    exit $status
' "$launcher" "$program" "$example" "$python" "$here/walk.py" 2>&1 | grep -v "fd limit"
exit "${PIPESTATUS[0]}"
