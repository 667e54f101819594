# Shared by the end-to-end scripts of the real program, which source it inside
# scripts/pw-sandbox after `set -uo pipefail`. It points the program's data folder into the
# sandbox and offers the waits and checks below; `pid` holds the running program's pid.
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
# The sink's volume in percent, as the first channel shows it.
volume_percent() { pactl get-sink-volume "$sink" | grep -o '[0-9]*%' | head -n 1 | tr -d '%'; }
log_has() { [ -f "$log" ] && grep -q ",$1\$" "$log"; }
count_in_log() { grep -c ",$1\$" "$log"; }
starts_logged() { [ "$(count_in_log "Starting.")" = "$1" ]; }
running() { kill -0 "$pid" 2>/dev/null; }
stopped() { ! kill -0 "$pid" 2>/dev/null; }

# write_trigger_list CONTROL DURATION: a trigger list in the data folder in which the chime
# (copied into its triggers folder) carries out CONTROL for DURATION ("hh:mm:ss").
write_trigger_list() {
    mkdir -p "$data/triggers"
    cp "$chime" "$data/triggers/chime.wav"
    cat >"$data/triggers.xml" <<XML
<?xml version="1.0" encoding="utf-8" standalone="yes"?>
<root>
	<TriggerList version="1.1.0">
		<Sound>
<baseDir>$data/triggers</baseDir>
<item active="v" name="Chime" trigger="chime.wav" control="$1" duration="$2" startTime="00:00:00" endTime="00:00:00" target="whole" command="" commandArgs=""/>
		</Sound>
		<Time>
		</Time>
		<Level>
		</Level>
	</TriggerList>
</root>
XML
}

# play_until DESCRIPTION COMMAND...: plays the chime until COMMAND succeeds.
play_until() {
    local what=$1
    shift
    local end=$((SECONDS + DEADLINE_S))
    until "$@"; do
        [ $SECONDS -ge $end ] && fail "the chime did not $what"
        running || fail "the program ended"
        paplay -d "$sink" "$chime"
    done
}
play_until_muted() { play_until "mute the output" muted; }

# Ends the program with SIGTERM and waits for it.
stop_program() {
    kill -TERM "$pid"
    wait_for "the end" stopped
    wait "$pid"
    pid=""
}
