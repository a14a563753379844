// Key-medium operations over the host table, in the host-function call orders the plug-ins rely on.
#include "common/key_medium.h"

#include <cstring>
#include <exception>

#include "common/formatted_exception.h"
#include "common/host.h"
#include "common/medium_messages.h"

namespace zolm {
namespace {

// A host table that lacks a function the operation needs is the host's fault; say which one rather
// than call through a null pointer.
const char kMissingFunction[] = "the host table has no %s function";
const char kNullParameter[] = "the host returned no text for the parameter %s";

template <typename Group>
const Group &GroupOf(Group *group, const char *name) {
    if (group == nullptr) throw formatted_exception(kMissingFunction, name);
    return *group;
}

template <typename Fn>
Fn Need(Fn fn, const char *name) {
    if (fn == nullptr) throw formatted_exception(kMissingFunction, name);
    return fn;
}

const HostMedium &Medium() { return GroupOf(Host().medium, "medium"); }
const HostGeneral &General() { return GroupOf(Host().general, "general"); }

// Copies a host text, then gives it back through `release` with length + 1 whether or not the copy
// succeeded. Returns false when the release reported failure; a copy failure leaves after the release.
bool CopyAndGiveBack(uint32_t medium, char *text, host_release_fn release, std::string &copy) {
    uint32_t length = static_cast<uint32_t>(std::strlen(text));
    std::exception_ptr copyFailure;
    try {
        copy.assign(text, length);
    } catch (...) {
        copyFailure = std::current_exception();
    }
    bool released = release(medium, text, length + 1) != 0;
    if (copyFailure) std::rethrow_exception(copyFailure);
    return released;
}

}  // namespace

std::string MediumPath(uint32_t medium) {
    const HostMedium &m = Medium();
    auto getPath = Need(m.getPath, "medium.getPath");
    auto release = Need(m.releaseMemory, "medium.releaseMemory");
    char *text = nullptr;
    if (getPath(medium, &text) == 0 || text == nullptr) RaiseMediumMessage(MediumMessage::kMediumPath);
    std::string path;
    if (!CopyAndGiveBack(medium, text, release, path)) RaiseMediumMessage(MediumMessage::kReleaseMemory);
    return path;
}

std::string SerialNumber(uint32_t medium) {
    auto getSerialNumber = Need(Medium().getSerialNumber, "medium.getSerialNumber");
    auto release = Need(General().releaseMemory, "general.releaseMemory");
    char *text = nullptr;
    if (getSerialNumber(medium, &text) == 0 || text == nullptr) RaiseMediumMessage(MediumMessage::kSerialNumber);
    std::string serial;
    CopyAndGiveBack(medium, text, release, serial);
    return serial;
}

std::string HostParameter(uint32_t medium, const std::string &name) {
    auto getParameter = Need(GroupOf(Host().parameters, "parameters").getParameter, "parameters.getParameter");
    auto release = Need(General().releaseMemory, "general.releaseMemory");
    const char *text = getParameter(medium, name.c_str());
    if (text == nullptr) throw formatted_exception(kNullParameter, name.c_str());
    std::string value;
    CopyAndGiveBack(medium, const_cast<char *>(text), release, value);
    return value;
}

bool FileExists(uint32_t medium, const std::string &name) {
    auto fileExists = Need(Medium().fileExists, "medium.fileExists");
    int32_t exists = 0;
    if (fileExists(medium, name.c_str(), &exists) == 0) RaiseMediumMessage(MediumMessage::kFileExists, name.c_str());
    return exists != 0;
}

CMemoryBufferPtr ReadFile(uint32_t medium, const std::string &name) {
    auto readFile = Need(Medium().readFile, "medium.readFile");
    auto release = Need(General().releaseMemory, "general.releaseMemory");
    void *block = nullptr;
    uint32_t length = 0;
    if (readFile(medium, name.c_str(), &block, &length) == 0)
        RaiseMediumMessage(MediumMessage::kReadFile, name.c_str());
    // A host that claims bytes but hands out no block has not read the file.
    if (block == nullptr && length != 0) RaiseMediumMessage(MediumMessage::kReadFile, name.c_str());
    if (block == nullptr) return CMemoryBuffer::Create();
    CMemoryBufferPtr copy;
    std::exception_ptr copyFailure;
    try {
        copy = CMemoryBuffer::Create(block, length);
    } catch (...) {
        copyFailure = std::current_exception();
    }
    release(medium, block, length);  // result not examined
    if (copyFailure) std::rethrow_exception(copyFailure);
    return copy;
}

CMemoryBufferPtr ReadFileIfPresent(uint32_t medium, const std::string &name) {
    if (!FileExists(medium, name)) return nullptr;
    return ReadFile(medium, name);
}

void WriteFile(uint32_t medium, const std::string &name, const void *data, size_t length) {
    auto writeFile = Need(Medium().writeFile, "medium.writeFile");
    // The host interface carries 32-bit lengths; a longer file cannot be written whole.
    if (length > UINT32_MAX) RaiseMediumMessage(MediumMessage::kWriteFile, name.c_str());
    if (writeFile(medium, name.c_str(), data, static_cast<uint32_t>(length)) == 0)
        RaiseMediumMessage(MediumMessage::kWriteFile, name.c_str());
}

void WriteFile(uint32_t medium, const std::string &name, const CMemoryBuffer &buffer) {
    WriteFile(medium, name, buffer.Data(), buffer.Length());
}

bool WriteFileAfterAsking(uint32_t medium, const std::string &name, const CMemoryBuffer &buffer) {
    if (FileExists(medium, name)) {
        auto confirm = Need(General().confirm, "general.confirm");
        std::string question = MediumMessageText(MediumMessage::kReplaceFile, name.c_str());
        if (confirm(medium, question.c_str()) == 0) return false;
    }
    WriteFile(medium, name, buffer);
    return true;
}

void DeleteFileIfPresent(uint32_t medium, const std::string &name) {
    if (!FileExists(medium, name)) return;
    auto deleteFile = Need(Medium().deleteFile, "medium.deleteFile");
    if (deleteFile(medium, name.c_str()) == 0) RaiseMediumMessage(MediumMessage::kDeleteFile, name.c_str());
}

void RenameFile(uint32_t medium, const std::string &from, const std::string &to) {
    auto renameFile = Need(Medium().renameFile, "medium.renameFile");
    if (renameFile(medium, from.c_str(), to.c_str()) == 0)
        RaiseMediumMessage(MediumMessage::kRenameFile, from.c_str(), to.c_str());
}

}  // namespace zolm
