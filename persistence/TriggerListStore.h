#pragma once

#include <string>

#include "base/ProgramPaths.h"
#include "triggers/TriggerList.h"

namespace hushwell {

// The program's own trigger list file: the one place where the program reads its list at
// start (the detection engine) and writes it back after an edit (the Controls page, with the
// rotation of three backups). Other files (open, merge, save as) go through TriggerListFile
// directly. A plain value holding the file's path; copies may be used on any thread, each
// operation holding the list's lock as TriggerListFile does.
class TriggerListStore {
public:
    // No file: nothing is read and every save fails with TriggerListFile::kNoPath.
    TriggerListStore() = default;
    // The trigger list file of the program's paths; none without a data folder.
    explicit TriggerListStore(const ProgramPaths& paths);

    bool HasFile() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

    // Sets the list to an empty one with the default limits and base folder, then reads the
    // file into it. A missing file leaves the list empty with an empty reason; a file that
    // exists but cannot be used gives why in `reason`, in words that follow the file's name.
    int Load(TriggerList& list, std::string& reason) const;
    // Writes the list with the backup rotation (TriggerListFile::SaveWithBackups).
    int Save(const TriggerList& list) const;

private:
    static void ResetToDefaults(TriggerList& list);

    std::string path_;
};

}  // namespace hushwell
