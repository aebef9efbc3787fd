#!/usr/bin/env bash
# The installed program as a separate process in a real X server, driven by
# keys as a player would: bind a key, change the field of view, save with
# Ctrl+S, go through every tab, open the backup manager; then the files.
# Usage: installed_e2e.sh BUILD_DIR SOURCE_DIR OUT_DIR   (run inside xvfb-run)
set -euo pipefail
build=$1 src=$2 out=$3
work=$(mktemp -d)
trap 'kill "$app" 2>/dev/null || true; rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cp -r "$src/demo/UT2004" "$work/UT2004"
sys=$work/UT2004/System
printf '[Quorlex]\r\nInit=False\r\nAutoBackup=True\r\nCheckOnStartup=False\r\nUpdateURL=http://127.0.0.1:9/x.inf\r\nBannerURL=http://127.0.0.1:9/banner.txt\r\n\r\n[UT2k4]\r\nDir=%s\r\nSystem=%s/System\r\n' \
  "$work/UT2004" "$work/UT2004" > "$work/prefix/bin/Quorlex2004.ini"
mkdir -p "$out"
export HOME=$work XDG_CONFIG_HOME=$work/.config QT_QPA_PLATFORM=xcb
"$work/prefix/bin/quorlex2004" &
app=$!

key() { xdotool key --delay 40 "$@"; sleep 0.3; }
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.3; }
shot() { import -window root "$out/$1.png"; }
win=$(xdotool search --sync --onlyvisible --name 'Quorlex 2004 v2.0' | head -n1)
xdotool windowfocus --sync "$win"
sleep 1.5
# Places on the window (at 0,0 without a window manager) as the layout puts them.
fieldA=(450 242) tabKeys=(50 160) tabGeneral=(220 160) fieldName=(200 222) exitButton=(20 38)

# Key binds: into the first field (A), on to Space (the 99th, after the thumb buttons), a new command, Ctrl+S.
click "${fieldA[@]}"
for _ in $(seq 98); do xdotool key Tab; done
key ctrl+a
xdotool type --delay 20 'Jump | Fire'
key ctrl+s
sleep 0.5
key Return # "The changes have been successfully saved!"

# General Settings: from the player name on to the field of view, one page up.
click "${tabGeneral[@]}"
click "${fieldName[@]}"
for _ in $(seq 22); do xdotool key Tab; done
key Prior
key ctrl+s
sleep 0.5
key Return

# Every tab, as a picture, each chosen by a click on its tab.
n=0
for x in 50 124 220 345 460 546; do
  n=$((n + 1))
  click "$x" "${tabKeys[1]}"
  sleep 0.5
  shot "installed-$n"
done

# The backup manager lists the start-up backup.
key ctrl+m
xdotool search --sync --onlyvisible --name 'Backed-up Ini Manager' >/dev/null
sleep 0.5
shot installed-backup-manager
key Escape
click "${exitButton[@]}"
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && { echo "the program did not exit"; exit 1; }

grep -q $'^Space=Jump | Fire\r$' "$sys/User.ini" || { echo "Space not bound"; exit 1; }
grep -q $'^DefaultFOV=95\r$' "$sys/User.ini" || { echo "FOV not saved:"; grep -a FOV "$sys/User.ini"; exit 1; }
grep -q $'^DesiredFOV=95\r$' "$sys/User.ini" || { echo "DesiredFOV not saved"; exit 1; }
ls "$sys"/User_*.INI >/dev/null || { echo "no start-up backup"; exit 1; }
echo "1 passed, 0 failed"
