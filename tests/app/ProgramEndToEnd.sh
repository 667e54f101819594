#!/usr/bin/env bash
# The real program against the private sound server of scripts/pw-sandbox:
#   ProgramEndToEnd.sh HUSHWELL MAKE_CHIME
# It starts with no data folder and makes its folders and log; a second start is refused with
# "Already started."; a played reference sound mutes the output and the mute is undone after
# the trigger's 3 seconds; SIGTERM during a running mute unmutes and logs "Quitting.".
set -uo pipefail
hushwell=${1:?usage: ProgramEndToEnd.sh HUSHWELL MAKE_CHIME}
make_chime=${2:?usage: ProgramEndToEnd.sh HUSHWELL MAKE_CHIME}
sink=${HUSHWELL_TEST_SINK:?run inside scripts/pw-sandbox}
scratch=${HUSHWELL_SANDBOX_DIR:?run inside scripts/pw-sandbox}

readonly DEADLINE_S=20
export XDG_DATA_HOME="$scratch/data"
export QT_QPA_PLATFORM=offscreen
data="$XDG_DATA_HOME/Hushwell"
log="$data/Hushwell-log.txt"
chime="$scratch/chime.wav"
pid=""

fail() {
    echo "FAIL: $*" >&2
    [ -f "$log" ] && sed 's/^/  log: /' "$log" >&2
    [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    exit 1
}

# wait_for DESCRIPTION COMMAND...: polls COMMAND until it succeeds or the deadline passes.
wait_for() {
    local what=$1
    shift
    local end=$((SECONDS + DEADLINE_S))
    until "$@"; do
        [ $SECONDS -ge $end ] && fail "timed out waiting for $what"
        sleep 0.1
    done
}

muted() { [ "$(pactl get-sink-mute "$sink")" = "Mute: yes" ]; }
unmuted() { [ "$(pactl get-sink-mute "$sink")" = "Mute: no" ]; }
log_has() { [ -f "$log" ] && grep -q ",$1\$" "$log"; }
count_in_log() { grep -c ",$1\$" "$log"; }
starts_logged() { [ "$(count_in_log "Starting.")" = "$1" ]; }
running() { kill -0 "$pid" 2>/dev/null; }
stopped() { ! kill -0 "$pid" 2>/dev/null; }

"$make_chime" "$chime" || fail "could not make the chime"

echo "--- the first start creates its folders and log"
[ -e "$data" ] && fail "the data folder exists before the first start"
"$hushwell" &
pid=$!
wait_for "Starting." log_has "Starting."
wait_for "the triggers folder" test -d "$data/triggers"
running || fail "the program ended"

echo "--- a second start is refused"
"$hushwell"
[ "$(count_in_log "Already started.")" = 1 ] || fail "no single \"Already started.\""
[ "$(count_in_log "Starting.")" = 2 ] || fail "\"Starting.\" not logged twice"
running || fail "the first instance ended"
kill -TERM "$pid"
wait_for "the end" stopped
wait "$pid"
log_has "Quitting." || fail "no \"Quitting.\""

echo "--- the chime mutes, and the mute is undone after 3 seconds"
# A trigger list in the data folder: the chime mutes for 3 seconds.
cp "$chime" "$data/triggers/chime.wav"
cat > "$data/triggers.xml" <<XML
<?xml version="1.0" encoding="utf-8" standalone="yes"?>
<root>
	<TriggerList version="1.1.0">
		<Sound>
<baseDir>$data/triggers</baseDir>
<item active="v" name="Chime" trigger="chime.wav" control="mute" duration="00:00:03" startTime="00:00:00" endTime="00:00:00" target="whole" command="" commandArgs=""/>
		</Sound>
		<Time>
		</Time>
		<Level>
		</Level>
	</TriggerList>
</root>
XML
unmuted || fail "the output starts muted"
"$hushwell" &
pid=$!
wait_for "the third start" starts_logged 3
play_until_muted() {
    local end=$((SECONDS + DEADLINE_S))
    until muted; do
        [ $SECONDS -ge $end ] && fail "the chime did not mute the output"
        running || fail "the program ended"
        paplay -d "$sink" "$chime"
    done
}
play_until_muted
wait_for "the unmute" unmuted

echo "--- SIGTERM during a running mute unmutes and logs Quitting."
play_until_muted
kill -TERM "$pid"
wait_for "the end" stopped
wait "$pid"
pid=""
unmuted || fail "the output was left muted"
tail -n 1 "$log" | grep -q ",Quitting.$" || fail "the log does not end with Quitting."
echo "PASS"
