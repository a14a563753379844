// Profile-format reading and writing, on texts and on files.
#include "starter/profile_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/named_objects.h"

namespace zolm::starter {
namespace {

using zolm::platform::UniqueFd;

// One line of the file: [begin, end) is its text, [end, next) its line end.
struct Line {
    size_t begin, end, next;
};

enum class Kind { kNone, kSection, kKey };

struct Parsed {
    Kind kind = Kind::kNone;
    std::string name;        // section or key name, trimmed
    std::string_view value;  // key value, untrimmed
};

// Blanks around names and values: white space only, so control characters such as the code-1
// marker of the settings store survive a read.
std::string Trim(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    size_t begin = 0, end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

size_t BomLength(std::string_view content) {
    return content.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    size_t at = BomLength(content);
    while (at < content.size()) {
        size_t end = content.find_first_of("\r\n", at);
        if (end == std::string_view::npos) {
            lines.push_back({at, content.size(), content.size()});
            break;
        }
        size_t next = end + 1;
        if (content[end] == '\r' && next < content.size() && content[next] == '\n') ++next;
        lines.push_back({at, end, next});
        at = next;
    }
    return lines;
}

Parsed Parse(std::string_view text) {
    Parsed parsed;
    std::string trimmed = Trim(text);
    if (trimmed.empty() || trimmed[0] == ';') return parsed;
    if (trimmed[0] == '[') {
        parsed.kind = Kind::kSection;
        size_t close = trimmed.find(']');
        parsed.name = Trim(std::string_view(trimmed).substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return parsed;
    }
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) return parsed;
    parsed.kind = Kind::kKey;
    parsed.name = Trim(text.substr(0, equals));
    parsed.value = text.substr(equals + 1);
    return parsed;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// Cuts to the read buffer's size, backing off to the start of a UTF-8 character.
std::string CutValue(std::string value) {
    if (size_t nul = value.find('\0'); nul != std::string::npos) value.resize(nul);
    if (value.size() <= kMaxProfileValue) return value;
    size_t cut = kMaxProfileValue;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
    value.resize(cut);
    return value;
}

std::string ValueOf(std::string_view raw) {
    std::string value = Trim(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return CutValue(std::move(value));
}

std::string LineEnd(std::string_view content, const std::vector<Line> &lines) {
    for (const Line &line : lines)
        if (line.next > line.end) return std::string(content.substr(line.end, line.next - line.end));
    return "\n";
}

}  // namespace

std::string ProfileGetString(std::string_view content, std::string_view section, std::string_view name,
                             std::string_view def) {
    std::string wantSection = Trim(section), wantName = Trim(name);
    bool inSection = false;
    for (const Line &line : SplitLines(content)) {
        Parsed parsed = Parse(content.substr(line.begin, line.end - line.begin));
        if (parsed.kind == Kind::kSection) inSection = SameName(parsed.name, wantSection);
        else if (parsed.kind == Kind::kKey && inSection && SameName(parsed.name, wantName))
            return ValueOf(parsed.value);
    }
    return CutValue(std::string(def));
}

std::string ProfileSetString(std::string_view content, std::string_view section, std::string_view name,
                             std::string_view value) {
    std::string wantSection = Trim(section), wantName = Trim(name);
    std::vector<Line> lines = SplitLines(content);
    std::string eol = LineEnd(content, lines);
    bool inSection = false, sectionFound = false;
    size_t lastInSection = 0;  // index of the matching section's last non-blank line
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view text = content.substr(lines[i].begin, lines[i].end - lines[i].begin);
        Parsed parsed = Parse(text);
        if (parsed.kind == Kind::kSection) {
            if (sectionFound && inSection) break;  // the first matching section has ended
            inSection = SameName(parsed.name, wantSection);
            if (inSection) {
                sectionFound = true;
                lastInSection = i;
            }
            continue;
        }
        if (!inSection) continue;
        if (parsed.kind == Kind::kKey && SameName(parsed.name, wantName)) {
            std::string out(content.substr(0, lines[i].begin));
            out += parsed.name + "=" + std::string(value);
            out += content.substr(lines[i].end);
            return out;
        }
        if (!Trim(text).empty()) lastInSection = i;
    }
    std::string entry = wantName + "=" + std::string(value);
    if (sectionFound) {
        const Line &after = lines[lastInSection];
        std::string out(content.substr(0, after.next));
        if (after.next == after.end) out += eol;  // the last line had no line end
        out += entry + eol;
        out += content.substr(after.next);
        return out;
    }
    std::string out(content);
    if (!out.empty() && out.back() != '\n' && out.back() != '\r' && out.size() > BomLength(out)) out += eol;
    out += "[" + wantSection + "]" + eol + entry + eol;
    return out;
}

namespace {

// The whole file as text; false with errno when it exists but cannot be read.
bool LoadText(const std::string &path, std::string &text, bool &exists) {
    text.clear();
    exists = false;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) return errno == ENOENT;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    exists = true;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        text.append(buffer, static_cast<size_t>(got));
    }
}

mode_t NewFileMode() {
    // The process's umask, read without changing it (umask(2) would race with other threads).
    mode_t mask = 022;
    if (FILE *status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
        std::fclose(status);
    }
    return 0666 & ~mask;
}

}  // namespace

std::string ReadProfileString(const std::string &path, std::string_view section, std::string_view name,
                              std::string_view def) {
    std::string text;
    bool exists = false;
    if (!LoadText(path, text, exists)) text.clear();
    return ProfileGetString(text, section, name, def);
}

namespace {

// Deletes the temporary files "<prefix>XXXXXX" (six characters from mkstemp) in folder.
void RemoveLeftoverTemporaries(const std::string &folder, const std::string &prefix) {
    DIR *dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return;
    while (const dirent *entry = ::readdir(dir)) {
        std::string_view name(entry->d_name);
        if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace

bool WriteProfileString(const std::string &path, std::string_view section, std::string_view name,
                        std::string_view value) {
    // Replace the target of a symbolic link, not the link.
    std::string target = path;
    if (char *real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    std::string text;
    bool exists = false;
    if (!LoadText(target, text, exists)) return false;
    // A file its owner made read-only stays unchanged, although its folder would allow the rename.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;
    std::string updated = ProfileSetString(text, section, name, value);

    struct stat old {};
    bool haveOld = exists && ::stat(target.c_str(), &old) == 0;
    // The new text goes to a hidden temporary file beside the target. Writers hold the settings mutex,
    // so a temporary file found here now was left by a writer that died: remove it.
    size_t slash = target.rfind('/');
    std::string folder = target.substr(0, slash + 1);
    std::string tempPrefix = "." + target.substr(slash + 1) + ".tmp-";
    RemoveLeftoverTemporaries(folder, tempPrefix);
    std::string tempPattern = folder + tempPrefix + "XXXXXX";
    std::vector<char> temp(tempPattern.begin(), tempPattern.end());
    temp.push_back('\0');
    UniqueFd fd(::mkstemp(temp.data()));
    if (!fd.Valid()) return false;
    auto fail = [&] {
        int code = errno;
        ::unlink(temp.data());
        errno = code;
        return false;
    };
    if (haveOld) {
        if (::fchmod(fd.Get(), old.st_mode & 07777) != 0) return fail();
        if (::fchown(fd.Get(), old.st_uid, old.st_gid) != 0) { /* keeping the owner is best effort */ }
    } else if (::fchmod(fd.Get(), NewFileMode()) != 0) {
        return fail();
    }
    const char *data = updated.data();
    size_t left = updated.size();
    while (left > 0) {
        ssize_t done = ::write(fd.Get(), data, left);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            if (done == 0) errno = EIO;
            return fail();
        }
        data += done;
        left -= static_cast<size_t>(done);
    }
    if (::fsync(fd.Get()) != 0) return fail();
    fd.Reset();
    if (::rename(temp.data(), target.c_str()) != 0) return fail();
    // Make the rename itself durable.
    UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) ::fsync(dir.Get());
    return true;
}

}  // namespace zolm::starter
