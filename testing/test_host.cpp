// The test host's recording, scripts and failure injection over the folder media.
#include "testing/test_host.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zolm::testing {
namespace fs = std::filesystem;

TestHost *TestHost::current_ = nullptr;

namespace {

const HostTable *g_bound = nullptr;  // the folder host's own table, which the entries below wrap

std::string Num(uint64_t value) { return std::to_string(value); }

// Entries that can be made to hand out a null text or block instead of asking the folder host.
int32_t ZOLM_STDCALL NullableGetPath(uint32_t medium, char **text) {
    TestHost *host = TestHost::Current();
    if (host != nullptr && host->GivesNull("getPath") && text != nullptr) {
        host->Record("getPath", {Num(medium)});
        *text = nullptr;
        return 1;
    }
    return g_bound->medium->getPath(medium, text);
}

int32_t ZOLM_STDCALL NullableGetSerialNumber(uint32_t medium, char **text) {
    TestHost *host = TestHost::Current();
    if (host != nullptr && host->GivesNull("getSerialNumber") && text != nullptr) {
        host->Record("getSerialNumber", {Num(medium)});
        *text = nullptr;
        return 1;
    }
    return g_bound->medium->getSerialNumber(medium, text);
}

int32_t ZOLM_STDCALL NullableReadFile(uint32_t medium, const char *name, void **block, uint32_t *length) {
    TestHost *host = TestHost::Current();
    if (host != nullptr && host->GivesNull("readFile") && block != nullptr && length != nullptr) {
        host->Record("readFile", {Num(medium), name ? name : "(null)"});
        *block = nullptr;
        *length = 16;
        return 1;
    }
    return g_bound->medium->readFile(medium, name, block, length);
}

const char *ZOLM_STDCALL NullableGetParameter(uint32_t medium, const char *name) {
    TestHost *host = TestHost::Current();
    if (host != nullptr && host->GivesNull("getParameter")) {
        host->Record("getParameter", {Num(medium), name ? name : "(null)"});
        return nullptr;
    }
    return g_bound->parameters->getParameter(medium, name);
}

}  // namespace

TestHost::TestHost() {
    if (current_ != nullptr) throw std::logic_error("only one TestHost may exist at a time");
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zolm-test-host-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create " + pattern);
    root_ = pattern;
    g_bound = host::BindHost(this);
    current_ = this;
    general_ = *g_bound->general;
    medium_ = *g_bound->medium;
    keyboard_ = *g_bound->keyboard;
    parameters_table_ = *g_bound->parameters;
    medium_.getPath = &NullableGetPath;
    medium_.getSerialNumber = &NullableGetSerialNumber;
    medium_.readFile = &NullableReadFile;
    parameters_table_.getParameter = &NullableGetParameter;
    table_ = {&general_, &medium_, &keyboard_, &parameters_table_};
    AddFolderMedium(1);
    AddFolderMedium(2);
}

TestHost::~TestHost() {
    host::BindHost(nullptr);
    current_ = nullptr;
    std::error_code ec;
    fs::remove_all(root_, ec);
}

fs::path TestHost::AddFolderMedium(uint32_t handle) {
    fs::path folder = root_ / ("medium" + Num(handle));
    fs::create_directories(folder);
    AddMedium(handle, folder);
    return folder;
}

void TestHost::PutFile(uint32_t medium, const std::string &name, const std::string &bytes) {
    std::ofstream out(Folder(medium) / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + name);
}

std::string TestHost::FileBytes(uint32_t medium, const std::string &name) const {
    std::ifstream in(Folder(medium) / name, std::ios::binary);
    if (!in) throw std::runtime_error("no file " + name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TestHost::HasFile(uint32_t medium, const std::string &name) const { return fs::exists(Folder(medium) / name); }

void TestHost::Fail(const std::string &function, const std::string &name) { failures_.emplace(function, name); }

std::vector<std::string> TestHost::Functions() const {
    std::vector<std::string> names;
    for (const auto &call : calls_) names.push_back(call.function);
    return names;
}

size_t TestHost::Count(const std::string &function) const {
    size_t n = 0;
    for (const auto &call : calls_) n += call.function == function;
    return n;
}

bool TestHost::Record(std::string function, std::vector<std::string> args, const std::string &name) {
    bool fail = failures_.count({function, ""}) != 0 || (!name.empty() && failures_.count({function, name}) != 0);
    calls_.push_back({std::move(function), std::move(args)});
    return fail;
}

std::vector<std::string> TestHost::BlockProblems() const {
    std::vector<std::string> problems = releaseProblems_;
    for (const auto &[block, length] : Outstanding())
        problems.push_back("a block of " + Num(length) + " bytes was not given back");
    return problems;
}

bool TestHost::ReadFile(uint32_t medium, const std::string &name, std::string &bytes) {
    if (Record("readFile", {Num(medium), name}, name)) return false;
    return FolderMedia::ReadFile(medium, name, bytes);
}

bool TestHost::WriteFile(uint32_t medium, const std::string &name, std::string_view bytes) {
    if (Record("writeFile", {Num(medium), name, Num(bytes.size())}, name)) return false;
    return FolderMedia::WriteFile(medium, name, bytes);
}

bool TestHost::DeleteFile(uint32_t medium, const std::string &name) {
    if (Record("deleteFile", {Num(medium), name}, name)) return false;
    return FolderMedia::DeleteFile(medium, name);
}

bool TestHost::RenameFile(uint32_t medium, const std::string &from, const std::string &to) {
    bool fail = Record("renameFile", {Num(medium), from, to}, from) || failures_.count({"renameFile", to}) != 0;
    return !fail && FolderMedia::RenameFile(medium, from, to);
}

bool TestHost::FileExists(uint32_t medium, const std::string &name, bool &exists) {
    if (Record("fileExists", {Num(medium), name}, name)) return false;
    return FolderMedia::FileExists(medium, name, exists);
}

bool TestHost::SerialNumber(uint32_t medium, std::string &text) {
    if (Record("getSerialNumber", {Num(medium)})) return false;
    return FolderMedia::SerialNumber(medium, text);
}

bool TestHost::Path(uint32_t medium, std::string &text) {
    if (Record("getPath", {Num(medium)})) return false;
    return FolderMedia::Path(medium, text);
}

bool TestHost::Confirm(uint32_t medium, const std::string &question) {
    questions_.push_back(question);
    if (Record("confirm", {Num(medium), question})) return false;
    if (answers_.empty()) return false;
    bool answer = answers_.front();
    answers_.pop_front();
    return answer;
}

bool TestHost::KeyPress(uint32_t medium, int32_t wanted, uint32_t value, int32_t count, char &pressed) {
    if (Record("keyPress",
               {Num(medium), Num(static_cast<uint32_t>(wanted)), Num(value), Num(static_cast<uint32_t>(count))}))
        return false;
    if (keys_.empty()) return false;
    pressed = keys_.front();
    keys_.erase(0, 1);
    return true;
}

std::string TestHost::Parameter(uint32_t medium, const std::string &name) {
    Record("getParameter", {Num(medium), name});
    auto it = parameters_.find(name);
    return it == parameters_.end() ? std::string() : it->second;
}

bool TestHost::TakeBack(host::ReleaseBy by, uint32_t medium, void *block, uint32_t length) {
    std::string function = by == host::ReleaseBy::kGeneral ? "general.releaseMemory" : "medium.releaseMemory";
    bool fail = Record(function, {Num(medium), Num(length)});
    auto it = Outstanding().find(block);
    if (it == Outstanding().end())
        releaseProblems_.push_back(function + ": a block that was not handed out (or was given back twice)");
    else if (it->second != length)
        releaseProblems_.push_back(function + ": length " + Num(length) + " for a block of " + Num(it->second));
    // Even a release made to fail takes the block, so the injected failure leaks nothing.
    bool taken = HostServices::TakeBack(by, medium, block, length);
    return taken && !fail;
}

}  // namespace zolm::testing
