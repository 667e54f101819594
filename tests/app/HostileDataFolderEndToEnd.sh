#!/usr/bin/env bash
# The real program started in broken or hostile data folders, against the private sound
# server of scripts/pw-sandbox:
#   HostileDataFolderEndToEnd.sh HUSHWELL
# - a file where the data folder, or its "triggers" folder, should be: the start ends with a
#   failure and says why on standard error; the file is left as it was;
# - a data folder of FIFOs, folders and symbolic links at every name the program uses (the
#   record of output changes and its old temporary name, the log, the lock, the socket, the
#   trigger list, the configuration, sounds): the program starts without hanging, reaches its
#   message loop (it answers SIGTERM by quitting in order, or a second start), and nothing
#   outside the data folder is written or created; with a folder at the socket's path, a
#   second start says that the running instance cannot be reached.
set -uo pipefail
hushwell=${1:?usage: HostileDataFolderEndToEnd.sh HUSHWELL}
source "$(dirname "${BASH_SOURCE[0]}")/EndToEndSupport.sh"

outside="$scratch/outside"
stderr_file="$scratch/stderr.txt"
mkdir -p "$outside"
echo "the user's own file" >"$outside/victim.txt"
snapshot() { (cd "$outside" && find . -printf '%p %s %T@ %m\n' | sort); }

# run_refused DESCRIPTION EXPECTED_TEXT: a start that must end at once, with a failure. The
# lock and the socket go to the data folder (there is no runtime folder for the program).
run_refused() {
    local status
    timeout "$DEADLINE_S" env -u XDG_RUNTIME_DIR "$hushwell" 2>"$stderr_file"
    status=$?
    [ "$status" = 124 ] && fail "$1: the start hung"
    [ "$status" = 0 ] && fail "$1: the start ended with success"
    grep -q "$2" "$stderr_file" || fail "$1: no \"$2\" on standard error: $(cat "$stderr_file")"
    echo "$1: exit $status, $(grep "$2" "$stderr_file")"
}

stderr_has() { grep -q "$1" "$stderr_file"; }

# Ends the program with SIGTERM; it must quit in order (exit 0), which only its message loop does.
stop_in_order() {
    kill -TERM "$pid"
    wait_for "the end" stopped
    wait "$pid"
    local status=$?
    pid=""
    [ "$status" = 0 ] || fail "the program ended with $status, not in order"
}

echo "--- a file where the data folder should be"
mkdir -p "$XDG_DATA_HOME"
echo "mine" >"$data"
run_refused "data folder" "Cannot start: the data folder $data is a file, not a folder"
[ "$(cat "$data")" = "mine" ] || fail "the file in place of the data folder was written"
rm "$data"

echo "--- a file where the triggers folder should be"
mkdir -p "$data"
echo "mine" >"$data/triggers"
run_refused "trigger folder" "Cannot start: the trigger folder $data/triggers is a file"
[ "$(cat "$data/triggers")" = "mine" ] || fail "the file in place of the triggers folder was written"
rm -r "$data"

before=$(snapshot)

echo "--- FIFOs everywhere, a link at the old temporary name, a folder at the socket"
mkdir -p "$data/triggers"
for name in HushwellOutput.txt Hushwell-log.txt triggers.xml HushwellConfig.xml triggers/chime.wav; do
    mkfifo "$data/$name"
done
ln -s "$outside/victim.txt" "$data/HushwellOutput.txt.tmp"
ln -s "$outside/new.wav" "$data/triggers/link.wav"
mkdir "$data/Hushwell.sock"
# The lock and the socket go to the data folder when there is no runtime folder.
env -u XDG_RUNTIME_DIR "$hushwell" 2>"$stderr_file" &
pid=$!
wait_for "the start to get past the socket" stderr_has "Cannot listen on the instance socket"
running || fail "the program ended"
[ -p "$data/Hushwell-log.txt" ] || fail "the FIFO at the log's name was replaced"
second_err="$scratch/second-stderr.txt"
timeout "$DEADLINE_S" env -u XDG_RUNTIME_DIR "$hushwell" 2>"$second_err" &&
    fail "a second start that cannot reach the first ended with success"
grep -q "The running instance cannot be reached through $data/Hushwell.sock" "$second_err" ||
    fail "the second start did not say the running instance cannot be reached: $(cat "$second_err")"
stop_in_order
grep -q "Cannot start" "$stderr_file" && fail "the start was refused: $(cat "$stderr_file")"
echo "standard error said: $(sed 's/^.*cannot write to the log [^ ]* //' "$stderr_file" | sort -u | head -n 5)"
[ -p "$data/HushwellOutput.txt" ] && fail "the FIFO at the record's name was left"
[ "$(snapshot)" = "$before" ] || fail "something outside the data folder changed"
rm -r "$data"

echo "--- a FIFO, a link or a folder at the lock's name: refused at once, nothing made outside"
mkdir -p "$data/triggers"
mkfifo "$data/Hushwell.lock"
run_refused "a FIFO at the lock" "Cannot start: the lock file $data/Hushwell.lock is not a regular file"
rm "$data/Hushwell.lock"
ln -s "$outside/lock" "$data/Hushwell.lock"
run_refused "a link at the lock" "Cannot start: the lock file $data/Hushwell.lock is a symbolic link"
[ "$(snapshot)" = "$before" ] || fail "something outside the data folder changed"
rm -r "$data"

echo "--- a folder at the record's name, a link at the log; a second start reaches the first"
mkdir -p "$data/HushwellOutput.txt" "$data/triggers"
ln -s "$outside/victim.txt" "$data/Hushwell-log.txt"
socket="$XDG_RUNTIME_DIR/Hushwell.sock"
"$hushwell" 2>"$stderr_file" &
pid=$!
wait_for "the instance socket" test -S "$socket"
wait_for "the record's folder reported" stderr_has "Could not remove a damaged record"
timeout "$DEADLINE_S" "$hushwell" 2>/dev/null || fail "the second start did not reach the first"
stop_in_order
[ -d "$data/HushwellOutput.txt" ] || fail "the folder at the record's name went"
[ "$(snapshot)" = "$before" ] || fail "something outside the data folder changed"
echo "PASS"
