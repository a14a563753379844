// Folder snapshots for the installer's tests.
#include "tree_snapshot.h"

#include <sys/stat.h>

#include <filesystem>
#include <ostream>

#include "starter/file_sha1.h"

namespace zolm::starter::testing {

void PrintTo(const TreeItem &item, std::ostream *out) {
    *out << item.kind << " " << std::oct << item.mode << std::dec << " " << item.digest;
}

Snapshot TakeSnapshot(const std::string &folder) {
    namespace fs = std::filesystem;
    Snapshot snapshot;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        std::string name = it->path().lexically_relative(folder).generic_string();
        struct stat st {};
        ::lstat(it->path().c_str(), &st);
        TreeItem item;
        item.mode = st.st_mode & 07777;
        if (S_ISLNK(st.st_mode)) {
            item = {'l', 0, fs::read_symlink(it->path()).string()};
        } else if (S_ISDIR(st.st_mode)) {
            item.kind = 'd';
        } else {
            item.kind = 'f';
            item.digest = FileSha1(it->path());
        }
        snapshot[name] = item;
    }
    return snapshot;
}

}  // namespace zolm::starter::testing
