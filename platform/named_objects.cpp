// Named mutex, update-marker lock and auto-reset events on Linux: lock files under flock and POSIX
// shared memory, named by the rule in named_objects.h.
#include "platform/named_objects.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace zolm::platform {
namespace {

static_assert(std::atomic<uint32_t>::is_always_lock_free, "events need an address-free atomic");

constexpr size_t kMaxEncoded = 200;
constexpr size_t kCutEncoded = 180;
constexpr size_t kEventSize = 64;

[[noreturn]] void Fail(const std::string &what, int code) {
    throw std::system_error(code, std::generic_category(), what);
}

bool IsPlain(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// A folder we may keep lock files in: a real folder of this user that nobody else can enter or write.
bool IsPrivateFolder(const std::string &path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

}  // namespace

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = other.Release();
    }
    return *this;
}

UniqueFd::~UniqueFd() { Reset(); }

void UniqueFd::Reset() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string EncodeObjectName(std::string_view name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        if (IsPlain(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    if (out.size() <= kMaxEncoded) return out;
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char tail[18];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
    out.resize(kCutEncoded);
    // Never end inside a "%XX" escape, so the cut form stays unambiguous.
    if (out[kCutEncoded - 1] == '%') out.resize(kCutEncoded - 1);
    else if (out[kCutEncoded - 2] == '%') out.resize(kCutEncoded - 2);
    return out + tail;
}

std::string RuntimeFolder() {
    const char *xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && xdg[0] == '/') {
        std::string folder(xdg);
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        if (IsPrivateFolder(folder)) return folder;
    }
    std::string folder = "/tmp/zolm-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) Fail("mkdir(" + folder + ")", errno);
    // Someone else may have made it first: use it only when it is ours and closed to others.
    if (!IsPrivateFolder(folder)) Fail("unsafe runtime folder " + folder, EACCES);
    return folder;
}

std::string LockFilePath(std::string_view name) {
    return RuntimeFolder() + "/" + EncodeObjectName(name) + ".lock";
}

std::string EventObjectName(std::string_view name) {
    return "/zolm-" + std::to_string(geteuid()) + "-" + EncodeObjectName(name);
}

namespace {

UniqueFd OpenLockFile(std::string_view name) {
    std::string path = LockFilePath(name);
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.Valid()) Fail("open(" + path + ")", errno);
    return fd;
}

}  // namespace

NamedMutex::NamedMutex(std::string_view name) : fd_(OpenLockFile(name)) {}

void NamedMutex::lock() {
    threads_.lock();
    while (::flock(fd_.Get(), LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        int code = errno;
        threads_.unlock();
        Fail("flock(LOCK_EX)", code);
    }
}

void NamedMutex::unlock() noexcept {
    ::flock(fd_.Get(), LOCK_UN);
    threads_.unlock();
}

std::optional<NamedLock> TryLockNamed(std::string_view name) {
    UniqueFd fd = OpenLockFile(name);
    while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return std::nullopt;
        Fail("flock(LOCK_EX|LOCK_NB)", errno);
    }
    return NamedLock(std::move(fd));
}

void NamedEvent::Unmap::operator()(std::atomic<uint32_t> *state) const noexcept {
    ::munmap(static_cast<void *>(state), kEventSize);
}

namespace {

// Maps an open event object, growing it first when its creator has not sized it yet.
void *MapEvent(const UniqueFd &fd, const std::string &object) {
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) Fail("fstat(" + object + ")", errno);
    if (st.st_uid != geteuid()) Fail("foreign event " + object, EACCES);
    if (st.st_size < static_cast<off_t>(kEventSize) && ::ftruncate(fd.Get(), kEventSize) != 0)
        Fail("ftruncate(" + object + ")", errno);
    void *mapping = ::mmap(nullptr, kEventSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
    if (mapping == MAP_FAILED) Fail("mmap(" + object + ")", errno);
    return mapping;
}

}  // namespace

NamedEvent NamedEvent::CreateOrOpen(std::string_view name, bool initiallySignalled, bool *existed) {
    std::string object = EventObjectName(name);
    // The object may vanish between a failed create and the open: try again a few times.
    for (int attempt = 0; attempt < 100; ++attempt) {
        UniqueFd fd(::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
        if (fd.Valid()) {
            NamedEvent event(MapEvent(fd, object));
            event.state_->store(initiallySignalled ? 1u : 0u);
            if (existed != nullptr) *existed = false;
            return event;
        }
        if (errno != EEXIST) Fail("shm_open(" + object + ")", errno);
        fd = UniqueFd(::shm_open(object.c_str(), O_RDWR, 0600));
        if (fd.Valid()) {
            NamedEvent event(MapEvent(fd, object));
            if (existed != nullptr) *existed = true;
            return event;
        }
        if (errno != ENOENT) Fail("shm_open(" + object + ")", errno);
    }
    Fail("shm_open(" + object + ")", EAGAIN);
}

std::optional<NamedEvent> NamedEvent::Open(std::string_view name) {
    std::string object = EventObjectName(name);
    UniqueFd fd(::shm_open(object.c_str(), O_RDWR, 0600));
    if (!fd.Valid()) {
        if (errno == ENOENT) return std::nullopt;
        Fail("shm_open(" + object + ")", errno);
    }
    return NamedEvent(MapEvent(fd, object));
}

void NamedEvent::Remove(std::string_view name) {
    std::string object = EventObjectName(name);
    if (::shm_unlink(object.c_str()) != 0 && errno != ENOENT) Fail("shm_unlink(" + object + ")", errno);
}

NamedEvent::~NamedEvent() = default;

void NamedEvent::Set() noexcept { state_->store(1u); }

bool NamedEvent::Test() noexcept { return state_->exchange(0u) != 0; }

}  // namespace zolm::platform
