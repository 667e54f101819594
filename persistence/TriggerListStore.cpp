#include "persistence/TriggerListStore.h"

#include <mutex>

#include "persistence/TriggerListFile.h"

namespace hushwell {

TriggerListStore::TriggerListStore(const ProgramPaths& paths)
    : path_(paths.dataFolder.empty() ? std::string() : paths.triggerListFile) {}

int TriggerListStore::Load(TriggerList& list, std::string& reason) const {
    ResetToDefaults(list);
    reason.clear();
    if (!HasFile()) {
        return TriggerListFile::kNoPath;
    }
    return TriggerListFile::Load(list, path_, &reason);
}

int TriggerListStore::Save(const TriggerList& list) const {
    if (!HasFile()) {
        return TriggerListFile::kNoPath;
    }
    return TriggerListFile::SaveWithBackups(list, path_);
}

void TriggerListStore::ResetToDefaults(TriggerList& list) {
    std::lock_guard lock(list.Mutex());
    for (const TriggerKind kind : {TriggerKind::Sound, TriggerKind::Time, TriggerKind::Level}) {
        list.ClearKind(kind);
    }
    list.SetBaseDir(TriggerList::kDefaultBaseDir);
    list.SetLimits(TriggerList::kDefaultMaxSound, TriggerList::kDefaultMaxTime,
                   TriggerList::kDefaultMaxLevel);
}

}  // namespace hushwell
