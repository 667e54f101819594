#pragma once

#include <string>
#include <string_view>

namespace hushwell {

// How a folder or file text of a trigger list names a place on this system. Lists move
// between platforms, so a text may separate its folders with "\" (".\triggers",
// "jingles\ding.wav") or be absolute in the other platform's way ("C:\sounds",
// "\\server\sounds"). Lists keep such texts as they were written; they are interpreted only
// here, when a file is looked up. A plain value; any thread.
struct LocalPath {
    enum class Kind {
        Relative,  // taken from the current folder, or looked up in a base folder
        Absolute,  // begins with "/"
        Foreign,   // absolute on the other platform: names no place here
    };

    // The text with "\" read as "/" between folders, and its kind. Foreign texts begin with
    // "\" (a root or a network share) or with a drive letter and a colon.
    static LocalPath FromText(std::string_view text);

    // The folder sound names without a folder are looked up in: the list's base folder
    // text when it is an absolute folder here, otherwise the application's triggers folder.
    static std::string BaseFolder(std::string_view baseDirText, std::string_view triggersFolder);

    std::string path;
    Kind kind = Kind::Relative;
};

}  // namespace hushwell
