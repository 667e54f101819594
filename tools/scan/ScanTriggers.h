#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "detection/ReferenceSet.h"
#include "triggers/TriggerList.h"

namespace hushwell::scan {

// The triggers a scan looks for and their analysed reference sounds: the sound and level
// triggers of a trigger list file, or one sound trigger per reference file.
//
// Threads: the scanning thread only.
class ScanTriggers {
public:
    // How long a trigger made from a reference file lasts: a firing then rests it for this
    // plus 0.3 seconds.
    static constexpr int kReferenceTriggerSeconds = 1;

    ScanTriggers();

    // Loads a trigger list file and builds its references as the program does. Triggers whose
    // sounds are missing are reported to warnings. False (and error) when the file cannot be
    // read.
    bool LoadTriggerFile(const std::string& path, std::ostream& warnings, std::string& error);
    // Makes one sound trigger per file, named after the file. False (and error) when a file is
    // missing, unreadable or of an unacceptable format.
    bool UseReferenceFiles(const std::vector<std::string>& paths, std::string& error);

    TriggerList& Triggers() { return triggers_; }
    const ReferenceSet& References() const { return references_; }
    // Per reference, the threshold shown beside its scores: the own threshold of the triggers
    // that use it when they all have the same, otherwise the reference's.
    std::vector<float> Thresholds() const;
    // Gives every sound trigger this threshold (--threshold).
    void SetEveryThreshold(float threshold);

    // Empty when the file is usable as a reference sound, otherwise why not.
    static std::string CheckReferenceFile(const std::string& path);

private:
    TriggerList triggers_;
    ReferenceSet references_;
};

}  // namespace hushwell::scan
