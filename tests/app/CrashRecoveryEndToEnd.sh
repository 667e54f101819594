#!/usr/bin/env bash
# The real program killed while a control runs, against the private sound server of
# scripts/pw-sandbox:
#   CrashRecoveryEndToEnd.sh HUSHWELL MAKE_CHIME
# A chime mutes the output; a second start is refused and leaves the record of that mute
# alone; SIGKILL leaves the output muted; the next start unmutes it within 2 seconds and logs
# "Restored the output after an unexpected end.". The same for "down 30", killed half-way
# down: the next start puts the volume back where it was, and no higher.
set -uo pipefail
hushwell=${1:?usage: CrashRecoveryEndToEnd.sh HUSHWELL MAKE_CHIME}
make_chime=${2:?usage: CrashRecoveryEndToEnd.sh HUSHWELL MAKE_CHIME}
source "$(dirname "${BASH_SOURCE[0]}")/EndToEndSupport.sh"

readonly RESTORE_LIMIT_MS=2000
readonly START_VOLUME=50
readonly RESTORED="Restored the output after an unexpected end."
record="$data/HushwellOutput.txt"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
volume_is() { [ "$(volume_percent)" = "$1" ]; }
volume_at_most() { [ "$(volume_percent)" -le "$1" ]; }

# Ends the program with SIGKILL: nothing is undone.
kill_program() {
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    pid=""
}

# restart_until DESCRIPTION COMMAND...: starts the program and prints the milliseconds until
# COMMAND holds; more than RESTORE_LIMIT_MS is a failure.
restart_until() {
    local what=$1
    shift
    local started elapsed
    started=$(now_ms)
    "$hushwell" &
    pid=$!
    until "$@"; do
        elapsed=$(($(now_ms) - started))
        [ "$elapsed" -gt $((DEADLINE_S * 1000)) ] && fail "no $what after the restart"
        sleep 0.02
    done
    elapsed=$(($(now_ms) - started))
    echo "restart to $what: $elapsed ms"
    [ "$elapsed" -le $RESTORE_LIMIT_MS ] ||
        fail "$what came $elapsed ms after the restart (limit $RESTORE_LIMIT_MS ms)"
}

# Checks the restarted program's log line, the record's removal and that it keeps running.
check_restored() {
    wait_for "\"$RESTORED\"" log_has "$RESTORED"
    [ "$(count_in_log "$RESTORED")" = "$1" ] || fail "not $1 \"$RESTORED\" in the log"
    [ -e "$record" ] && fail "the record is still there after the restore"
    running || fail "the restarted program ended"
    stop_program
}

"$make_chime" "$chime" || fail "could not make the chime"
pactl set-sink-volume "$sink" "$START_VOLUME%" || fail "cannot set the sink's volume"

echo "--- a mute killed with SIGKILL is undone by the next start"
write_trigger_list mute 00:05:00
unmuted || fail "the output starts muted"
"$hushwell" &
pid=$!
wait_for "Starting." starts_logged 1
play_until_muted
wait_for "the record of the mute" test -f "$record"
first=$pid
pid=""
"$hushwell"
pid=$first
[ "$(count_in_log "Already started.")" = 1 ] || fail "no single \"Already started.\""
muted && [ -f "$record" ] || fail "the refused start touched the mute or its record"
kill_program
muted || fail "the output was unmuted without the program"
restart_until "the unmute" unmuted
volume_is "$START_VOLUME" || fail "the volume changed: $(volume_percent) %"
check_restored 1

echo "--- a \"down 30\" killed half-way is undone by the next start"
write_trigger_list "down 30" 00:05:00
"$hushwell" &
pid=$!
wait_for "the fourth start" starts_logged 4
play_until "lower the volume" volume_at_most $((START_VOLUME - 5))
wait_for "the volume at 40 %" volume_at_most $((START_VOLUME - 10))
kill_program
left=$(volume_percent)
[ "$left" -lt "$START_VOLUME" ] || fail "the volume went back without the program"
echo "killed at $left %"
restart_until "the volume back at $START_VOLUME %" volume_is "$START_VOLUME"
check_restored 2
volume_is "$START_VOLUME" || fail "the volume ended at $(volume_percent) %, not $START_VOLUME %"
unmuted || fail "the output ended muted"
echo "PASS"
