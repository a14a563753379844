// The test host: a real HostTable over folders in a private temporary folder, with scripted answers,
// a record of every host call, failure injection, and a check that every block it handed out came back
// with the right length. One TestHost is bound at a time (the host table has no context pointer).
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/host/folder_media.h"

namespace zolm::testing {

// One host call: the table entry's name ("readFile", "general.releaseMemory", ...) and its arguments
// as texts: the medium handle first, then names, lengths, questions.
struct HostCall {
    std::string function;
    std::vector<std::string> args;
};

class TestHost : public host::FolderMedia {
public:
    // Creates the temporary folder and binds this host; media 1 and 2 exist from the start.
    TestHost();
    // Unbinds and removes the temporary folder with everything in it.
    ~TestHost() override;
    TestHost(const TestHost &) = delete;
    TestHost &operator=(const TestHost &) = delete;

    // The table to give a plug-in. It is this host's own copy: a test may null any entry.
    HostTable *Table() { return &table_; }
    HostGeneral &General() { return general_; }
    HostMedium &Medium() { return medium_; }

    // A further medium: a new empty folder under the temporary folder.
    std::filesystem::path AddFolderMedium(uint32_t handle);
    std::filesystem::path Root() const { return root_; }

    // Files on a medium, read and written directly (not recorded).
    void PutFile(uint32_t medium, const std::string &name, const std::string &bytes);
    std::string FileBytes(uint32_t medium, const std::string &name) const;
    bool HasFile(uint32_t medium, const std::string &name) const;

    // Scripts. confirm answers from the list, then no; keyPress hands out the characters, then fails;
    // getParameter answers from the map, else "".
    void AnswerConfirm(std::initializer_list<bool> answers) { answers_.insert(answers_.end(), answers); }
    void GiveKeys(const std::string &keys) { keys_ += keys; }
    void SetParameter(const std::string &name, const std::string &value) { parameters_[name] = value; }
    const std::vector<std::string> &Questions() const { return questions_; }

    // Makes `function` fail (return 0) when called with the file name `name`, or with any arguments
    // when `name` is empty. Function names as in HostCall; "confirm" then answers no.
    void Fail(const std::string &function, const std::string &name = "");
    // Makes "getPath", "getSerialNumber" or "getParameter" report success with a null text, or
    // "readFile" report success with a null block of length 16.
    void GiveNull(const std::string &function) { nulls_.insert(function); }
    void ClearFailures() {
        failures_.clear();
        nulls_.clear();
    }

    const std::vector<HostCall> &Calls() const { return calls_; }
    // The function names of the calls, in order.
    std::vector<std::string> Functions() const;
    size_t Count(const std::string &function) const;
    void ClearCalls() { calls_.clear(); }

    // Every problem with blocks: a block not given back, given back twice or with another length
    // than handed out. Empty when the plug-in returned everything correctly.
    std::vector<std::string> BlockProblems() const;

    bool ReadFile(uint32_t medium, const std::string &name, std::string &bytes) override;
    bool WriteFile(uint32_t medium, const std::string &name, std::string_view bytes) override;
    bool DeleteFile(uint32_t medium, const std::string &name) override;
    bool RenameFile(uint32_t medium, const std::string &from, const std::string &to) override;
    bool FileExists(uint32_t medium, const std::string &name, bool &exists) override;
    bool SerialNumber(uint32_t medium, std::string &text) override;
    bool Path(uint32_t medium, std::string &text) override;
    bool Confirm(uint32_t medium, const std::string &question) override;
    bool KeyPress(uint32_t medium, int32_t wanted, uint32_t value, int32_t count, char &pressed) override;
    std::string Parameter(uint32_t medium, const std::string &name) override;
    bool TakeBack(host::ReleaseBy by, uint32_t medium, void *block, uint32_t length) override;

    // The bound host, for the table's own functions.
    static TestHost *Current() { return current_; }
    // Records a call; true when it is to fail.
    bool Record(std::string function, std::vector<std::string> args, const std::string &name = "");
    bool GivesNull(const std::string &function) const { return nulls_.count(function) != 0; }

private:
    static TestHost *current_;

    std::filesystem::path root_;
    HostGeneral general_{};
    HostMedium medium_{};
    HostKeyboard keyboard_{};
    HostParameters parameters_table_{};
    HostTable table_{};

    std::deque<bool> answers_;
    std::string keys_;
    std::map<std::string, std::string> parameters_;
    std::vector<std::string> questions_;
    std::set<std::pair<std::string, std::string>> failures_;
    std::set<std::string> nulls_;
    std::vector<HostCall> calls_;
    std::vector<std::string> releaseProblems_;
};

}  // namespace zolm::testing
