#pragma once

#include <dirent.h>
#include <optional>
#include <string>
#include <vector>

namespace hosttools {

// The names in a folder, without "." and "..", read in full before the caller changes anything in the tree.
// None when the folder cannot be opened (errno says why).
inline std::optional<std::vector<std::string>> folderEntries(const std::string& path) {
    DIR* folder = ::opendir(path.c_str());
    if (!folder)
        return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(folder);
    return names;
}

} // namespace hosttools
