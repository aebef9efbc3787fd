#!/usr/bin/env bash
# The Windows program as a player gets it, under Wine in a fresh prefix:
# the installer runs silently; the game is recorded in the registry the way
# its own installer records it; the first start proposes that folder; a
# save with no edits leaves every real-world pair byte for byte; a signed
# update replaces the running program and the new one starts. The game's
# System\UT2004.exe is a stand-in that records how it was started.
# Usage: windows_e2e.sh BUILD_DIR SOURCE_DIR OUT_DIR   (run inside xvfb-run)
set -euo pipefail
build=$1 src=$2 out=$3
setup=$(ls "$build"/dist/quorlex2004-*-setup.exe 2>/dev/null | head -n1 || true)
if [ -z "$setup" ]; then
  echo "no installer in $build/dist: scripts/build-windows makes it"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quorlex-e2e.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
site_pid=
cleanup() {
  [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out"
fail() { echo "FAILED: $*"; import -window root "$out/windows-e2e-failure.png" 2>/dev/null || true; exit 1; }
shot() { import -window root "$out/windows-$1.png"; }
wineboot -i >/dev/null 2>&1
unix() { winepath -u "$1" 2>/dev/null; }

# ---- the installer, silently ----
wine "$setup" /S
wineserver -w
localappdata=$(wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')
appwin="$localappdata\\Programs\\Quorlex 2004"
app=$(unix "$appwin")
[ -f "$app/quorlex2004.exe" ] && [ -f "$app/upd.exe" ] && [ -f "$app/uninstall.exe" ] || fail "not installed in $appwin"
wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorlex2004' /v QuietUninstallString 2>/dev/null |
  grep -q 'uninstall.exe" /S' || fail "no uninstall entry"
ls "$(unix "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs\\Quorlex 2004")"/*.lnk >/dev/null ||
  fail "no Start-menu entry"
echo "installed: $appwin"

# ---- the game, as its installer records it (a 32-bit program: the 32-bit view) ----
game=$WINEPREFIX/drive_c/UT2004
cp -r "$src/demo/UT2004" "$game"
cp "$build/bin/game_standin.exe" "$game/System/UT2004.exe"
wine reg add 'HKLM\Software\Unreal Technology\Installed Apps\UT2004' /v Folder /d 'C:\UT2004' /f /reg:32 >/dev/null 2>&1
wineserver -w

start_app() {
  (cd "$app" && exec wine "$appwin\\quorlex2004.exe") >/dev/null 2>&1 &
  app_pid=$!
}
key() { xdotool key --delay 40 "$@"; sleep 0.4; }
window() { # NAME [SECONDS]: waits for a visible window of that name
  for _ in $(seq $((${2:-60} * 5))); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.2
  done
  return 1
}
focus() { xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1"; sleep 0.5; }
# Answers a message with its default button: a click into its margin gives
# it the keyboard first, which no window manager does here.
answer() { xdotool mousemove --window "$1" 8 8 click 1; sleep 0.3; key Return; }
# Gives the main window the keyboard: a click on a blank part of its header.
grab() { xdotool mousemove --window "$1" 320 75 click 1; sleep 0.3; }
close_app() { # ends the program with Alt+F4, answering what it asks, again if a key got lost
  for _ in 1 2 3; do
    grab "$m"
    key alt+F4
    if q=$(window '^Quorlex 2004$' 3); then answer "$q"; fi
    for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || return 0; sleep 0.2; done
  done
  return 1
}
ended() { # waits for the program to end
  for _ in $(seq 150); do kill -0 "$app_pid" 2>/dev/null || return 0; sleep 0.2; done
  return 1
}
settings=$app/Quorlex2004.ini

# ---- the first start proposes the registry's game ----
start_app
w=$(window 'Quorlex 2004 setup') || fail "no setup dialog"
focus "$w"
shot first-run-setup
key Return
if r=$(window 'Readme|ReadMe' 10); then focus "$r"; key Return; fi
m=$(window 'Quorlex 2004 v' 60) || fail "no main window after the setup"
sleep 1
shot first-run-main
grep -a -q -E $'^Dir=C:[/\\\\]UT2004\r$' "$settings" || { cat "$settings"; fail "the proposal was not C:\\UT2004"; }
close_app || fail "the program did not end"
echo "first run: proposed and recorded C:\\UT2004"

setting() { # KEY VALUE: set in the [Quorlex] section of the settings file
  local value=${2//\\/\\\\}
  sed -i -e "/^$1=/d" -e "s|\[Quorlex\]\r\$|[Quorlex]\r\n$1=$value\r|" "$settings"
}
# No update checks against the release site from here on.
setting CheckOnStartup False
setting UpdateURL http://127.0.0.1:9/x.inf
setting BannerURL http://127.0.0.1:9/banner.txt

# ---- save without edits, on every real-world pair ----
realworld=$src/../shared/realworld
pairs=()
if [ -d "$realworld" ]; then
  while IFS= read -r main; do
    dir=$(dirname "$main")
    user=$dir/User.ini
    [ "$(basename "$main")" = Default.ini ] && user=$dir/DefUser.ini
    [ -f "$user" ] || user=$src/demo/UT2004/System/User.ini
    pairs+=("$user|$main")
  done < <(find "$realworld" -name 'UT2004.ini*' -o -name 'Default.ini' | sort)
fi
n=0
for pair in "${pairs[@]}"; do
  user=${pair%%|*} main=${pair#*|}
  cp "$user" "$game/System/User.ini"
  cp "$main" "$game/System/UT2004.ini"
  start_app
  m=$(window 'Quorlex 2004 v' 60) || fail "no main window for $main"
  sleep 1
  grab "$m"
  key ctrl+s
  if s=$(window '^Quorlex 2004$' 10); then answer "$s"; fi
  close_app || fail "the program did not end ($main)"
  cmp -s "$user" "$game/System/User.ini" || fail "User.ini changed: $user"
  cmp -s "$main" "$game/System/UT2004.ini" || fail "UT2004.ini changed: $main"
  n=$((n + 1))
done
echo "save without edits: $n pairs byte for byte"
cp "$src/demo/UT2004/System/User.ini" "$src/demo/UT2004/System/UT2004.ini" "$game/System/"

# ---- a signed update replaces the running program ----
site=$work/site
mkdir -p "$site"
# The new program: the installed one with bytes of its own at the end, which
# Windows ignores when it loads it and which tell the two apart.
cp "$app/quorlex2004.exe" "$site/quorlex2004.exe_NEW"
printf 'quorlex end-to-end update' >> "$site/quorlex2004.exe_NEW"
new_sha=$(sha256sum "$site/quorlex2004.exe_NEW" | cut -d' ' -f1)
python=/usr/bin/python3
[ -x "$python" ] || python=python3
(sleep 86400 | "$python" "$src/tests/support/http_server.py" "$site" > "$work/site.port" 2>/dev/null) </dev/null &
site_pid=$!
for _ in $(seq 50); do [ -s "$work/site.port" ] && break; sleep 0.1; done
base=http://127.0.0.1:$(head -n1 "$work/site.port")
# Offered by size: the new program, of the served size, is not offered it again.
new_size=$(stat -c %s "$site/quorlex2004.exe_NEW")
printf '[update]\r\nnewversion=2.0.0.1\r\nlocalversion={APP}\\quorlex2004.exe\r\nnewsize=%s\r\ndescr=Quorlex 2004 (end-to-end update)\r\n[application]\r\nappupdate=1\r\nappname={APP}\\quorlex2004.exe\r\nappcomps=quorlex2004.exe_NEW\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=%s/files/quorlex2004.exe_NEW\r\ntargetdir={APP}\r\nsha256=%s\r\n' \
  "$new_size" "$base" "$new_sha" > "$site/quorlex2004.inf"
minisign -S -s "$src/demo/demo-update-key.key" -m "$site/quorlex2004.inf" -t "timestamp:$(date +%s)" >/dev/null
setting UpdateURL "$base/files/quorlex2004.inf"
setting UpdateKey "$(winepath -w "$src/demo/demo-update-key.pub" 2>/dev/null)"
setting CheckOnStartup True
export QUORLEX_DEMO=1 # the demo key signs this update
start_app
replaced() { [ "$(sha256sum "$app/quorlex2004.exe" 2>/dev/null | cut -d' ' -f1)" = "$new_sha" ]; }
# The check offers the update, fetches it and asks to restart; each question
# is answered with its default as it comes.
for step in $(seq 120); do
  replaced && break
  [ $((step % 15)) = 1 ] && shot "update-$step"
  if q=$(window '^Quorlex 2004$' 1); then answer "$q"; fi
done
replaced || fail "the program was not replaced"
# The new one reports its start: the updater then drops the old copy.
for _ in $(seq 100); do [ -e "$app/quorlex2004.exe.old" ] || break; sleep 0.2; done
[ ! -e "$app/quorlex2004.exe.old" ] || fail "the new program did not report its start (quorlex2004.exe.old kept)"
ended || fail "the old program did not end"
m=$(window 'Quorlex 2004 v' 60) || fail "the new program shows no window"
sleep 2
shot updated
pgrep -f 'Quorlex 2004.quorlex2004\.exe' >/dev/null || fail "the new program is not running"
xdotool search --onlyvisible --name 'Quorlex 2004 v' >/dev/null || fail "the new program's window went away"
! window '^Quorlex 2004$' 5 >/dev/null || fail "the new program offers the update again"
echo "update: the running program was replaced and the new one started"

echo "1 passed, 0 failed"
