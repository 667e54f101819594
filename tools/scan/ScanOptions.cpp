#include "tools/scan/ScanOptions.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "triggers/Trigger.h"
#include "triggers/TriggerTime.h"

namespace hushwell::scan {

namespace {

constexpr int kSecondsPerDay = 86400;

constexpr std::size_t kMaxFieldDigits = 2;
constexpr int kFields = 3;

// "HH:MM:SS" with one or two digits in each field, as the help describes: "1e9", "12abc" or
// "0x10" are not times, even though they start with a number.
bool LooksLikeTimeOfDay(const std::string& text) {
    int fields = 1;
    std::size_t digits = 0;
    for (const char c : text) {
        if (c == ':') {
            if (digits == 0 || ++fields > kFields) {
                return false;
            }
            digits = 0;
        } else if (!std::isdigit(static_cast<unsigned char>(c)) || ++digits > kMaxFieldDigits) {
            return false;
        }
    }
    return fields == kFields && digits > 0;
}

// "HH:MM:SS" as a time of day; nothing when it is not one.
std::optional<int> ParseTimeOfDay(const std::string& text) {
    if (!LooksLikeTimeOfDay(text)) {
        return std::nullopt;
    }
    TriggerTime time(-1, 0, 0);
    if (time.Parse(text) != TriggerTime::kParsed || time.hour < 0 ||
        time.Seconds() >= kSecondsPerDay) {
        return std::nullopt;
    }
    return static_cast<int>(time.Seconds());
}

constexpr float kLowest = Trigger::kMinMatchThreshold;
constexpr float kHighest = Trigger::kMaxMatchThreshold;

std::string ThresholdText(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", double{value});
    return text;
}

// A whole decimal number within the range a trigger's own threshold may take.
std::optional<float> ParseThreshold(const std::string& text) {
    float value = 0.0f;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || !(value >= kLowest) ||
        !(value <= kHighest)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<ScanOptions> ScanOptions::Parse(const std::vector<std::string>& args,
                                              std::string& error) {
    ScanOptions options;
    bool describe = false;
    bool separatorSeen = false;
    std::vector<std::string> beforeSeparator;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (separatorSeen) {
            options.recordings.push_back(arg);
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.mode = Mode::Help;
            return options;
        }
        if (arg == "--") {
            separatorSeen = true;
        } else if (arg == "--scores") {
            options.scores = true;
        } else if (arg == "--classic") {
            options.classic = true;
        } else if (arg == "--describe") {
            describe = true;
        } else if (arg == "--triggers" || arg == "--at" || arg == "--threshold") {
            if (i + 1 == args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            if (arg == "--triggers") {
                options.triggersFile = value;
            } else if (arg == "--threshold") {
                if (!(options.threshold = ParseThreshold(value))) {
                    error = "--threshold needs a number from " + ThresholdText(kLowest) + " to " +
                            ThresholdText(kHighest) + ", not \"" + value + "\"";
                    return std::nullopt;
                }
            } else if (!(options.startSecondOfDay = ParseTimeOfDay(value))) {
                error = "--at needs a time of day as HH:MM:SS, not \"" + value + "\"";
                return std::nullopt;
            }
        } else if (arg.size() > 1 && arg.front() == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else {
            beforeSeparator.push_back(arg);
        }
    }

    if (describe) {
        if (!options.triggersFile.empty() || separatorSeen || beforeSeparator.empty()) {
            error = "--describe takes reference files only";
            return std::nullopt;
        }
        options.mode = Mode::Describe;
        options.references = std::move(beforeSeparator);
        return options;
    }
    if (!options.triggersFile.empty()) {
        if (separatorSeen) {
            error = "--triggers takes no reference files and no --";
            return std::nullopt;
        }
        options.mode = Mode::Triggers;
        options.recordings = std::move(beforeSeparator);
    } else {
        if (!separatorSeen) {
            error = "give --triggers FILE, or reference files, then --, then recordings";
            return std::nullopt;
        }
        if (beforeSeparator.empty()) {
            error = "no reference file before --";
            return std::nullopt;
        }
        options.mode = Mode::References;
        options.references = std::move(beforeSeparator);
    }
    if (options.recordings.empty()) {
        error = "no recording to scan";
        return std::nullopt;
    }
    return options;
}

std::string ScanOptions::HelpText() {
    return R"(Usage:
  hushwell-scan [--classic] [--scores] [--at HH:MM:SS] [--threshold VALUE]
                --triggers TRIGGERS.xml RECORDING.wav...
  hushwell-scan [--classic] [--scores] [--at HH:MM:SS] [--threshold VALUE]
                REFERENCE.wav... -- RECORDING.wav...
  hushwell-scan --describe REFERENCE.wav...
  hushwell-scan --help

Runs Hushwell's sound detection over recordings, as fast as the computer allows, and
reports every trigger that fires instead of carrying out its control. Use it to tune
reference sounds and triggers on recordings of what your computer plays.

--triggers TRIGGERS.xml
    Takes the sound and level triggers of a trigger list file. Reference sounds are found
    as the program finds them: names without a folder in the list's base folder when that
    is absolute, otherwise in the application's triggers folder; * and ? match any text and
    any one character. Triggers whose sounds cannot be found or read are reported on
    stderr. Time triggers are not evaluated.
REFERENCE.wav... -- RECORDING.wav...
    Treats each reference file as a sound trigger of its own, named after the file, lasting
    one second (after a firing it rests for 1.3 seconds).
    A sound trigger with its own threshold (the "threshold" attribute the trigger form's
    sensitivity writes) is held against that instead of its sound's.
--threshold VALUE
    Holds every sound trigger against VALUE (0.500 to 0.999, the scale of SCORE below)
    instead of its own or its sound's threshold: a quick try of a sensitivity.
--classic
    Decides as Hushwell does with "Verify matches" off: a sound trigger fires whenever the
    correlation of a reference exceeds its threshold. Without it, detection decides as the
    program does by default: a reference with tonal peaks is a candidate when its correlation
    exceeds its threshold, and fires only when at least half of its peaks (by weight) are
    found, within 1.5 %, in the last second of what it matched. Such a reference is also a
    candidate under a bed (the second stage, "bed"): when its tonal tracks (how far its most
    prominent bins stand out from the bins around them, frame by frame, over its last 1.5 s)
    correlate above 0.80 with the recording's at the same bins; it then fires, as any
    candidate, only when its peaks are found. A sound shorter than about a third of a second
    is too short for the second stage. --classic also
    leaves out the lead-in of silence (see below), as earlier versions of this tool did, so
    that their output can be compared with its own.
--scores
    Also prints, for each second of each recording, the best score of every reference in
    that second, so you can see how close a near miss came, and each candidate that
    verification rejected.
--at HH:MM:SS
    The local time of day at the start of every recording, for triggers restricted to a
    time window (one or two digits in each of the three fields). Without it the present
    time of day is used.
--describe REFERENCE.wav...
    Prints each file's rate, channels, duration, the feature frames it yields and its match
    threshold. Sounds are cut to their first 7 seconds, as the program does. The duration
    is that of the audio the file holds; a header that claims more is warned about.

Reference sounds and recordings are WAV files of 16- or 32-bit PCM or 32-bit float samples,
at 16000, 22050, 32000, 44100, 48000, 96000 or 192000 Hz, with nothing but one "LIST" chunk
before and after the format; reference sounds have 1 to 6 channels, recordings one or two
(live detection takes no more than two). Other files (compressed audio, or float files with a
"fact" chunk as some programs write them) are refused: save them as 16-bit PCM.

Recordings are fed to detection in blocks of 10 ms, as the program receives the output of
the computer, with a simulated clock that follows the recording. Before each recording,
detection hears digital silence, as much as the longest reference needs of history (at least
4.1 s), as if the program had been listening to a silent output: so a sound is heard even
when it starts with the very first sample of the recording. With --classic there is no such
lead-in and matching starts once about 4.1 seconds of the recording have been heard (longer
when the longest reference is longer): a sound that ends earlier is not heard.

Output, one line per firing, fields separated by tabs:
    TIME  TRIGGER  REFERENCE  SCORE  THRESHOLD  VERDICT
TIME is in seconds from the start of the recording; SCORE is the correlation (the first
stage) and THRESHOLD the threshold it was held against (the trigger's own, or the
reference's match threshold). VERDICT is "peaks A" (the share A of
the reference's tonal peaks found), "peaks A, bed B" when the second stage's correlation B
made it a candidate (SCORE then lies at or below THRESHOLD), or "no peaks" for a reference
without tonal peaks, which fires when SCORE exceeds THRESHOLD; with --classic there is no VERDICT and a sound
trigger fires when SCORE exceeds THRESHOLD. For a level trigger REFERENCE is "level", SCORE
the smoothed level and THRESHOLD the trigger's level, both in percent of full scale. Lines
starting with "#" are comments: the recording being scanned and, with --scores,
    # scores SECOND  REFERENCE  BEST-SCORE  THRESHOLD
    # rejected TIME  REFERENCE  SCORE  THRESHOLD  peaks A < NEEDED[, bed B]
the latter once for each run of passes in which a candidate was rejected.

Exit status: 0 when every file could be scanned, 2 for a missing, unreadable or
unacceptable file or a mistake on the command line.
)";
}

}  // namespace hushwell::scan
