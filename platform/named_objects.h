// Named kernel objects shared by the starter, the splash and the application: a named mutex, a named
// lock taken without waiting (the update marker) and named auto-reset events. Per user, like a logon's
// objects on Windows; free of any starter dependency so every program of the system can link it.
//
// Naming rule (an external interface: the application opens the splash events by name):
//   encoded name  = the name's bytes, each letter A-Z a-z, digit, "-" and "_" kept as it is and every
//                   other byte written as "%" and two upper-case hex digits ("a b" -> "a%20b"); an
//                   encoded name longer than 200 characters is cut to 180 and followed by "~" and the
//                   16 lower-case hex digits of the 64-bit FNV-1a hash of the whole original name.
//   lock files    = <runtime folder>/<encoded name>.lock (mutex and update marker), where the runtime
//                   folder is $XDG_RUNTIME_DIR when it is an absolute path to a folder owned by the user
//                   and closed to others (mode & 077 == 0), else /tmp/zolm-<uid> (created with mode 0700;
//                   refused when it is not a real folder owned by the user and closed to others).
//   events        = POSIX shared memory objects "/zolm-<uid>-<encoded name>" (in /dev/shm), mode 0600;
//                   an existing object owned by another user is refused.
// A splash event "<GUID>-KEEP-ALIVE" is thus the shared memory object "/zolm-<uid>-<GUID>-KEEP-ALIVE".
//
// Failures throw std::system_error carrying errno and a "call(argument)" description.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace zolm::platform {

// The file-name form of an object name (see the rule above).
std::string EncodeObjectName(std::string_view name);

// The folder holding lock files, created and checked on first use; no trailing "/".
std::string RuntimeFolder();

// Path of the lock file for a name: RuntimeFolder() + "/" + EncodeObjectName(name) + ".lock".
std::string LockFilePath(std::string_view name);

// Name of the shared memory object for an event name: "/zolm-<uid>-" + EncodeObjectName(name).
std::string EventObjectName(std::string_view name);

// An open file descriptor, closed when the owner goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.Release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd();

    int Get() const noexcept { return fd_; }
    bool Valid() const noexcept { return fd_ >= 0; }
    int Release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset() noexcept;

private:
    int fd_ = -1;
};

// A mutex shared by all processes of the user under one name. Waiting has no time limit; a process
// that dies while holding it releases it (the lock belongs to the open file, which the kernel closes).
// Threads of one process exclude each other as well. Not recursive.
class NamedMutex {
public:
    // Creates the lock file or opens it when it exists; never owned after construction.
    explicit NamedMutex(std::string_view name);

    void lock();
    void unlock() noexcept;

private:
    std::mutex threads_;
    UniqueFd fd_;
};

// A held named lock; released when destroyed (or when the process dies).
class NamedLock {
public:
    explicit NamedLock(UniqueFd fd) noexcept : fd_(std::move(fd)) {}

private:
    UniqueFd fd_;
};

// Takes the named lock without waiting. Empty when another holder has it ("already exists").
std::optional<NamedLock> TryLockNamed(std::string_view name);

// An auto-reset event in shared memory: Set signals it, Test consumes the signal without waiting.
class NamedEvent {
public:
    // Opens the event when it exists, else creates it with the given initial state. existed tells
    // which happened (Windows' ERROR_ALREADY_EXISTS).
    static NamedEvent CreateOrOpen(std::string_view name, bool initiallySignalled, bool *existed = nullptr);
    // Opens an existing event; empty when there is none.
    static std::optional<NamedEvent> Open(std::string_view name);
    // Removes the name; handles already open stay usable. Absent names are not an error.
    static void Remove(std::string_view name);

    NamedEvent(NamedEvent &&) noexcept = default;
    NamedEvent &operator=(NamedEvent &&) noexcept = default;
    ~NamedEvent();

    void Set() noexcept;
    // True when the event was signalled; it is not signalled afterwards.
    bool Test() noexcept;

private:
    explicit NamedEvent(void *mapping) noexcept : state_(static_cast<std::atomic<uint32_t> *>(mapping)) {}
    struct Unmap {
        void operator()(std::atomic<uint32_t> *state) const noexcept;
    };
    std::unique_ptr<std::atomic<uint32_t>, Unmap> state_;
};

}  // namespace zolm::platform
