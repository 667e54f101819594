#!/usr/bin/env bash
# The program's command options against a real running instance, inside scripts/pw-sandbox:
#   CommandLineEndToEnd.sh HUSHWELL MAKE_CHIME
# A second process carries each command over the instance's socket: --status prints the run
# state and the number of active triggers, --toggle stops and starts detection,
# --record-save writes a recording into the sound folder and --register adds it to the list,
# --show and --record are taken, --quit ends the instance; with no instance a command exits 3
# (but --show starts one), a wrong command line exits 2, and --help lists every command. A
# process of another user is refused even when the socket file is opened to everyone (run as
# root, with setpriv).
set -uo pipefail
hushwell=${1:?usage: CommandLineEndToEnd.sh HUSHWELL MAKE_CHIME}
make_chime=${2:?usage: CommandLineEndToEnd.sh HUSHWELL MAKE_CHIME}
source "$(dirname "${BASH_SOURCE[0]}")/EndToEndSupport.sh"
socket="$XDG_RUNTIME_DIR/Hushwell.sock"
out="$scratch/command-out"
err="$scratch/command-err"

# run EXPECTED_STATUS OPTION...: runs the program with the options as a second process.
run() {
    local expected=$1
    shift
    "$hushwell" "$@" >"$out" 2>"$err"
    local status=$?
    [ "$status" = "$expected" ] ||
        fail "hushwell $* ended with $status, not $expected (out: $(cat "$out") err: $(cat "$err"))"
}
status_is() {
    run 0 --status
    [ "$(cat "$out")" = "$1" ]
}
recordings() { find "$data/triggers" -name '2*.wav' | wc -l; }
recordings_are() { [ "$(recordings)" = "$1" ]; }

"$make_chime" "$chime" || fail "could not make the chime"
write_trigger_list mute 00:00:03

echo "--- without an instance: exit 3 with a message; a wrong command line exits 2"
run 3 --status
grep -q "Hushwell is not running." "$err" || fail "no message for a missing instance"
[ -e "$data/Hushwell-log.txt" ] && fail "a command without an instance wrote a log"
run 2 --frobnicate
grep -q "unknown option --frobnicate" "$err" || fail "no message for an unknown option"
run 2 --record --quit
run 0 --help
for option in --show --record --record-save --register --toggle --quit --status; do
    grep -q -- "  $option " "$out" || fail "--help does not list $option"
done

echo "--- a running instance answers --status and --toggle"
"$hushwell" &
pid=$!
wait_for "the instance socket" test -S "$socket"
wait_for "capture" log_has "Capture is running."
status_is "running, 1 active trigger" || fail "status: $(cat "$out")"
run 0 --show
run 0 --toggle
status_is "stopped, 1 active trigger" || fail "status after --toggle: $(cat "$out")"
run 0 --toggle
status_is "running, 1 active trigger" || fail "status after a second --toggle: $(cat "$out")"

echo "--- --record-save writes a recording, --register adds it to the list"
recordings_are 0 || fail "a recording exists before --record-save"
# Something plays meanwhile, so that the output's history holds sound.
sox -R -n -r 48000 -b 16 -c 2 "$scratch/noise.wav" synth 12 brownnoise vol 0.1 ||
    fail "could not make the noise"
paplay -d "$sink" "$scratch/noise.wav" &
player=$!
run 0 --record-save
wait_for "the recording" recordings_are 1
kill "$player" 2>/dev/null
wait "$player" 2>/dev/null
run 0 --register
wait_for "the registered trigger" status_is "running, 2 active triggers"
grep -q "trigger=\"2[0-9_]*\.wav\"" "$data/triggers.xml" ||
    fail "the list file does not hold the recording"
run 0 --record

echo "--- another user is refused, even with the socket open to everyone"
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    chmod o+x "$scratch/.." "$XDG_RUNTIME_DIR"
    chmod 0777 "$socket"
    setpriv --reuid=65534 --regid=65534 --clear-groups -- \
        env XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" XDG_DATA_HOME=/nonexistent \
        "$hushwell" --toggle >"$out" 2>"$err"
    other=$?
    chmod 0700 "$socket" "$XDG_RUNTIME_DIR"
    chmod o-x "$scratch/.."
    [ "$other" = 1 ] || fail "another user's --toggle ended with $other, not 1"
    grep -q "did not take the command" "$err" || fail "no message for the refusal"
    status_is "running, 2 active triggers" || fail "another user's --toggle changed the state"
else
    echo "(not root or no setpriv: only the socket's permissions are checked)"
fi
[ $((0$(stat -c %a "$socket") & 077)) = 0 ] || fail "the instance socket is open to others"

echo "--- --quit ends the instance"
run 0 --quit
wait_for "the end" stopped
wait "$pid"
status=$?
pid=""
[ "$status" = 0 ] || fail "the instance ended with $status"
log_has "Quitting." || fail "no \"Quitting.\""
[ -e "$socket" ] && fail "the instance socket was left behind"
run 3 --status

echo "--- --show starts an instance when none runs"
"$hushwell" --show &
pid=$!
wait_for "the instance socket" test -S "$socket"
status_is "running, 2 active triggers" || fail "status of the instance --show started"
run 0 --quit
wait_for "the end" stopped
wait "$pid" || fail "the instance --show started ended with $?"
pid=""
echo "PASS"
