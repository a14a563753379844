// What a folder tree holds, for comparing installations before and after.
#pragma once

#include <sys/types.h>

#include <map>
#include <ostream>
#include <string>

namespace zolm::starter::testing {

struct TreeItem {
    char kind = '?';     // 'f' file, 'd' folder, 'l' link
    mode_t mode = 0;     // permission bits (not for links)
    std::string digest;  // SHA-1 of a file, target of a link
    bool operator==(const TreeItem &) const = default;
};
using Snapshot = std::map<std::string, TreeItem>;
void PrintTo(const TreeItem &item, std::ostream *out);

// Every entry below the folder by relative name; links are not followed.
Snapshot TakeSnapshot(const std::string &folder);

}  // namespace zolm::starter::testing
