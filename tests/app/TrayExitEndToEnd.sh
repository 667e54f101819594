#!/usr/bin/env bash
# The tray menu's "Exit" of the real program, clicked as libdbusmenu-based panels click it
# (com.canonical.dbusmenu.EventGroup), against the private sound server of scripts/pw-sandbox:
#   TrayExitEndToEnd.sh HUSHWELL MAKE_CHIME
# During a running mute the click ends the program with success, the output unmuted and
# "Quitting." logged.
set -uo pipefail
hushwell=${1:?usage: TrayExitEndToEnd.sh HUSHWELL MAKE_CHIME}
make_chime=${2:?usage: TrayExitEndToEnd.sh HUSHWELL MAKE_CHIME}
source "$(dirname "${BASH_SOURCE[0]}")/EndToEndSupport.sh"
command -v gdbus >/dev/null || { echo "gdbus is missing (libglib2.0-bin)"; exit 77; }
readonly EXIT_ITEM_ID=6  # the menu's sixth entry, after the separator

"$make_chime" "$chime" || fail "could not make the chime"
write_trigger_list mute 00:01:00

menu() {
    gdbus call --session --dest "org.kde.StatusNotifierItem-$pid-1" --object-path /MenuBar \
        --method "com.canonical.dbusmenu.$1" "${@:2}"
}
menu_offered() { menu GetLayout 0 "int32 -1" "@as []" >/dev/null 2>&1; }

"$hushwell" &
pid=$!
wait_for "the tray menu on the bus" menu_offered
menu GetLayout 0 "int32 -1" "['label']" | grep -q "'Exit(_X)'" || fail "no \"Exit(_X)\" in the menu"
play_until_muted

echo "--- Exit through EventGroup"
reply=$(menu EventGroup "[($EXIT_ITEM_ID, 'clicked', <''>, uint32 0)]") ||
    fail "EventGroup failed: $reply"
[ "$reply" = "(@ai [],)" ] || fail "ids reported unknown: $reply"
wait_for "the end" stopped
wait "$pid"
status=$?
pid=""
[ "$status" = 0 ] || fail "the program ended with $status"
unmuted || fail "the output was left muted"
tail -n 1 "$log" | grep -q ",Quitting.$" || fail "the log does not end with Quitting."
echo "PASS"
