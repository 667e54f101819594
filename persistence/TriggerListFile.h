#pragma once

#include <string>
#include <string_view>

#include "base/ProgramPaths.h"
#include "persistence/XmlDocument.h"
#include "triggers/TriggerList.h"

namespace hushwell {

// The trigger list file: reading it into a TriggerList, writing a list to it (with or without
// the rotation of three backups), and merging a file into a list. Every operation holds the
// list's lock for its whole duration, so no other thread sees a half-loaded list; in the
// program they run on the user-interface thread.
class TriggerListFile {
public:
    // Load results (callers test only for zero).
    static constexpr int kOk = 0;
    static constexpr int kNoPath = 1;
    static constexpr int kNoXmlComponent = 2;
    static constexpr int kNotReadable = 3;  // missing, not a regular file, or not well-formed
    static constexpr int kBaseDirQueryFailed = 4;
    static constexpr int kNoBaseDir = 5;
    static constexpr int kItemFetchFailed = 5;
    static constexpr int kItemNodeTypeFailed = 6;
    static constexpr int kItemNotElement = 7;
    static constexpr int kTimeItemFailureOffset = 10;  // 15, 16, 17 for a time item
    // Save results.
    static constexpr int kNotWellFormed = 10;
    static constexpr int kSaveFailed = 11;
    static constexpr int kTooLarge = 12;  // over kMaxFileBytes; nothing written

    // The largest list file read or written: a full list (2000 + 200 + 50 items) of items of
    // the longest line the format has, with the margin of XmlDocument, about 14 MB. A list
    // at the limits with ordinary fields is well under 1 MB.
    static constexpr std::uintmax_t kMaxItems = TriggerList::kDefaultMaxSound +
                                                TriggerList::kDefaultMaxTime +
                                                TriggerList::kDefaultMaxLevel;
    static constexpr std::uintmax_t kStructureLines = 16;  // declaration, root, kinds, baseDir
    static constexpr std::uintmax_t kMaxFileBytes =
        XmlDocument::kSizeMargin * (kMaxItems + kStructureLines) * XmlDocument::kLongestLineBytes;

    static constexpr const char* kFileName = ProgramPaths::kTriggerListFileName;
    static constexpr int kBackupCount = 3;

    // The list file in a folder ("/" added only when the folder does not end with one).
    static std::string PathIn(const std::string& folder);
    // The n-th backup (1 newest .. 3 oldest): the path without ".xml", then "_bakN.xml".
    static std::string BackupPath(const std::string& listPath, int n);

    // Reads the file into the list: replaces the base folder, then each kind present in the
    // file replaces that kind's records (at most the kind's limit of items are read). When
    // the file exists but cannot be used, reason (if given) receives why, in words that
    // follow the file's name ("is a folder"); it stays empty for a missing file.
    static int Load(TriggerList& list, const std::string& path, std::string* reason = nullptr);
    // The same for a document held in memory.
    static int LoadText(TriggerList& list, std::string_view text);
    // Loads the file into a fresh list and, only when that succeeds, merges it into list;
    // the list's base folder is kept.
    static int LoadAndMerge(TriggerList& list, const std::string& path);

    // Writes the active records. Nothing on disk changes unless the document is well-formed,
    // within kMaxFileBytes and fully written. Through a symbolic link the file it points to
    // is written (AtomicFile).
    static int Save(const TriggerList& list, const std::string& path);
    // Save with the backup rotation: _bak3 dropped, _bak2 to _bak3, _bak1 to _bak2, the list
    // file to _bak1. The rotation runs only once the new content is safely on disk beside
    // its target, and the list file is never absent.
    static int SaveWithBackups(const TriggerList& list, const std::string& path);

    // The document text of the list.
    static std::string BuildText(const TriggerList& list);

private:
    static int Read(const XmlDocument& document, TriggerList& list);
    // Builds the text and checks that it parses: kOk or kNotWellFormed.
    static int BuildChecked(const TriggerList& list, std::string& text);
    static bool RotateBackups(const std::string& path);
};

}  // namespace hushwell
