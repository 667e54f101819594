#!/usr/bin/env bash
# The real program against the private sound server of scripts/pw-sandbox:
#   ProgramEndToEnd.sh HUSHWELL MAKE_CHIME
# It starts with no data folder and makes its folders and log; a second start is refused with
# "Already started." and ends with success, after asking the running instance (on its
# owner-only socket, removed at exit) to show its window; a played reference sound mutes the
# output and the mute is undone after the trigger's 3 seconds; SIGTERM during a running mute
# unmutes and logs "Quitting.".
set -uo pipefail
hushwell=${1:?usage: ProgramEndToEnd.sh HUSHWELL MAKE_CHIME}
make_chime=${2:?usage: ProgramEndToEnd.sh HUSHWELL MAKE_CHIME}
source "$(dirname "${BASH_SOURCE[0]}")/EndToEndSupport.sh"
socket="$XDG_RUNTIME_DIR/Hushwell.sock"

"$make_chime" "$chime" || fail "could not make the chime"

echo "--- the first start creates its folders and log"
[ -e "$data" ] && fail "the data folder exists before the first start"
"$hushwell" &
pid=$!
wait_for "Starting." log_has "Starting."
wait_for "the triggers folder" test -d "$data/triggers"
running || fail "the program ended"

echo "--- a second start is refused"
wait_for "the instance socket" test -S "$socket"
[ $((0$(stat -c %a "$socket") & 077)) = 0 ] || fail "the instance socket is open to others"
"$hushwell" || fail "the second start did not end with success"
[ "$(count_in_log "Already started.")" = 1 ] || fail "no single \"Already started.\""
[ "$(count_in_log "Starting.")" = 2 ] || fail "\"Starting.\" not logged twice"
running || fail "the first instance ended"
stop_program
log_has "Quitting." || fail "no \"Quitting.\""
[ -e "$socket" ] && fail "the instance socket was left behind"

echo "--- the chime mutes, and the mute is undone after 3 seconds"
write_trigger_list mute 00:00:03
unmuted || fail "the output starts muted"
"$hushwell" &
pid=$!
wait_for "the third start" starts_logged 3
play_until_muted
wait_for "the unmute" unmuted

echo "--- SIGTERM during a running mute unmutes and logs Quitting."
play_until_muted
stop_program
unmuted || fail "the output was left muted"
tail -n 1 "$log" | grep -q ",Quitting.$" || fail "the log does not end with Quitting."
echo "PASS"
