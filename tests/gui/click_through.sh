#!/usr/bin/env bash
# The real program under a real X server (Xvfb) with a window manager
# (openbox), driven as a user drives it, with the keyboard: Alt+S and "t"
# choose drive t: (a scratch tmpfs), Alt+P and Down choose "Security Wipe
# Free Space", Alt+W presses the Wipe button, Escape answers the question.
# Nothing may be written: the tmpfs keeps only its own file and no record
# is made. With ZARVEX_SHOTS=<folder> it leaves PNG screenshots there.
#
#   tests/gui/click_through.sh BUILD_DIR     (root: it mounts a tmpfs)
set -uo pipefail
build=${1:?usage: click_through.sh BUILD_DIR}
program=$build/bin/zarvexwipe
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
for tool in Xvfb openbox xdotool xwd; do command -v "$tool" >/dev/null || skip "$tool is missing"; done
[[ $(id -u) -eq 0 ]] || skip "run as root: it mounts a tmpfs"
[[ -x $program ]] || skip "$program is not built"

work=$(mktemp -d /tmp/zarvexgui.XXXXXX)
pids=()
cleanup() {
    set +e
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    umount "$work/t" 2>/dev/null || umount -l "$work/t" 2>/dev/null
    grep -q " $work/" /proc/self/mountinfo || rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

mkdir -p "$work/t" "$work/c" "$work/state"
mount -t tmpfs -o size=4M tmpfs "$work/t" && mountpoint -q "$work/t" || fail "the scratch tmpfs is not mounted"
echo keep >"$work/t/keep.txt"

display=90
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do ((display++)); done
export DISPLAY=:$display
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 & pids+=($!)
for ((i = 0; i < 100; i++)); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
openbox >"$work/openbox.log" 2>&1 & pids+=($!)
sleep 1
ZARVEX_DRIVES="c=$work/c;t=$work/t" XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=xcb "$program" \
    >"$work/program.log" 2>&1 & pids+=($!)

shot() { # name [window]
    [[ -n ${ZARVEX_SHOTS:-} ]] || return 0
    mkdir -p "$ZARVEX_SHOTS"
    local from=(-root)
    [[ -n ${2:-} ]] && from=(-id "$2")
    xwd -silent "${from[@]}" >"$work/$1.xwd" && python3 "$here/xwd2png.py" "$work/$1.xwd" "$ZARVEX_SHOTS/$1.png"
}

main=$(timeout 30 xdotool search --sync --onlyvisible --name "The Zarvex Drive Wiper" | head -n 1)
[[ -n $main ]] || fail "the main window did not appear: $(cat "$work/program.log")"
xdotool windowactivate --sync "$main"
sleep 0.5
xdotool key alt+s; sleep 0.3
xdotool type --delay 50 t; sleep 0.3
xdotool key alt+p; sleep 0.3
for ((i = 0; i < 4; i++)); do xdotool key Down; sleep 0.2; done
sleep 0.5
shot main-window "$main"
xdotool key alt+w
question=$(timeout 20 xdotool search --sync --onlyvisible --name "^ZarvexWipe$" | tail -n 1)
[[ -n $question ]] || fail "Wipe asked nothing"
sleep 1
shot confirmation "$question"
xdotool key Escape
sleep 1.5
xdotool search --onlyvisible --name "^ZarvexWipe$" >/dev/null && fail "the question is still open after Escape"

left=$(ls -A "$work/t" | tr '\n' ' ')
[[ $left == "keep.txt " ]] || fail "the drive holds more than its own file after No: $left"
[[ $(cat "$work/t/keep.txt") == keep ]] || fail "the drive's own file changed"
records=$(find "$work/state" -name WipeRecords.db)
if [[ -n $records ]] && command -v sqlite3 >/dev/null; then
    n=$(sqlite3 "$records" "SELECT count(*) FROM sqlite_master WHERE name='records'")
    [[ $n == 0 ]] || [[ $(sqlite3 "$records" "SELECT count(*) FROM records") == 0 ]] || fail "a record was made"
fi
kill -0 "${pids[2]}" 2>/dev/null || fail "the program ended"
echo "PASS: Free Space, Wipe, Escape (No): nothing written"
