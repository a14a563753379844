// Patch application: a create -> apply round trip with the patch maker, full downloads, and every
// refused input leaving the installed version and "versions.current" as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

#include "starter/file_sha1.h"
#include "starter/fileops.h"
#include "starter/install_version.h"
#include "starter/start_config.h"
#include "starter/starter_error.h"
#include "test_support.h"
#include "tree_snapshot.h"

using namespace zolm::starter;
using namespace zolm::starter::testing;
namespace fs = std::filesystem;

namespace {

constexpr char kEmptySha1[] = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";

std::string Pattern(size_t size, int seed) {
    std::string text(size, '\0');
    uint32_t x = static_cast<uint32_t>(seed) * 2654435761u + 1;
    for (auto &c : text) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return text;
}

// Version 1.0.0 and its successor 1.0.1 side by side in a source folder, and an installation of
// 1.0.0 whose settings are open.
class Install : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string v1 = source / "1.0.0", v2 = source / "1.0.1";
        fs::create_directories(v1 + "/lib");
        fs::create_directories(v2 + "/lib");
        fs::copy_file("/bin/true", v1 + "/app");
        WriteFile(v1 + "/lib/data.bin", Pattern(200000, 1));
        WriteFile(v1 + "/readme.txt", "version one\n");
        WriteFile(v1 + "/removed.txt", "gone in 1.0.1\n");
        WriteFile(v1 + "/run.sh", "#!/bin/sh\necho one\n");
        ::chmod((v1 + "/run.sh").c_str(), 0750);
        WriteFile(v1 + "/fixed.txt", "read only\n");
        ::chmod((v1 + "/fixed.txt").c_str(), 0444);
        fs::create_symlink("readme.txt", v1 + "/readme.link");

        fs::copy_file("/bin/true", v2 + "/app");
        std::string data = Pattern(200000, 1);
        data.replace(1000, 50, std::string(50, 'x'));
        data += "appended";
        WriteFile(v2 + "/lib/data.bin", data);
        WriteFile(v2 + "/readme.txt", "version two\n");
        WriteFile(v2 + "/run.sh", "#!/bin/sh\necho two\n");
        ::chmod((v2 + "/run.sh").c_str(), 0750);
        WriteFile(v2 + "/fixed.txt", "read only\n");
        ::chmod((v2 + "/fixed.txt").c_str(), 0444);
        fs::create_symlink("readme.txt", v2 + "/readme.link");
        fs::create_directories(v2 + "/sub/dir");
        WriteFile(v2 + "/sub/dir/new.txt", "new file\n");
        WriteFile(v2 + "/empty.txt", "");
        fs::copy_file("/bin/false", v2 + "/sub/tool");

        fs::create_directories(program / "VERSIONS");
        fs::copy(v1, program / "VERSIONS/1.0.0", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        WriteFile(program / "start.ini", "[versions]\nproduct=demo\ncurrent=1.0.0\n");
        OpenSettings(program.path() + "/");
    }

    // The patch maker's output for the two folders, wrapped as an answer document.
    std::string MakePatch(bool full = false) {
        // A patch against an empty installation cannot carry links.
        if (full) fs::remove(source / "1.0.1/readme.link");
        std::string out = source / "patch.xml";
        std::string command = std::string(ZOLM_PATCHMAKER) + (full ? " --full" : " '" + source / "1.0.0" + "'") + " '" +
                              source / "1.0.1" + "' --out '" + out + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return "<response>" + ReadFile(out) + "</response>";
    }
    static PatchDocument Doc(const std::string &text) { return PatchDocument::Parse(text.data(), text.size()); }

    std::string Versions() const { return program / "VERSIONS"; }
    std::vector<std::string> VersionFolders() const {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(Versions())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir source, program;
};

TEST(CopyTree, CopiesManyFilesWithModesLinksAndReadOnlyFolders) {
    TempDir from, to;
    // Enough files for several copying threads, in folders that are read-only afterwards.
    for (int d = 0; d < 4; ++d) {
        std::string folder = from / ("d" + std::to_string(d) + "/inner");
        fs::create_directories(folder);
        for (int f = 0; f < 40; ++f) WriteFile(folder + "/f" + std::to_string(f), Pattern(1000 + 37 * f, d * 100 + f));
        ::chmod((folder + "/f0").c_str(), 0400);
        fs::create_symlink("f1", folder + "/link");
        ::chmod(folder.c_str(), 0555);
    }
    WriteFile(from / "empty", "");
    ASSERT_TRUE(CopyTree(from.path(), to.path()));
    EXPECT_EQ(TakeSnapshot(to.path()), TakeSnapshot(from.path()));

    // A pipe has no place in an application folder: refused with EINVAL.
    TempDir bad, target;
    WriteFile(bad / "a", "x");
    ASSERT_EQ(::mkfifo((bad / "pipe").c_str(), 0600), 0);
    errno = 0;
    EXPECT_FALSE(CopyTree(bad.path(), target.path()));
    EXPECT_EQ(errno, EINVAL);

    for (int d = 0; d < 4; ++d) ::chmod((from / ("d" + std::to_string(d) + "/inner")).c_str(), 0755);
    MakeTreeWritable(to.path());
}

TEST_F(Install, RoundTripWithThePatchMaker) {
    Snapshot before = TakeSnapshot(Versions() + "/1.0.0");
    std::string answer = MakePatch();
    InstallVersion("1.0.0", "1.0.1", Doc(answer), false);

    EXPECT_EQ(ReadSetting("versions.current"), "1.0.1");
    EXPECT_EQ(TakeSnapshot(Versions() + "/1.0.0"), before);  // never written
    Snapshot built = TakeSnapshot(Versions() + "/1.0.1");
    Snapshot expected = TakeSnapshot(source / "1.0.1");
    // Modes of the patch are not carried: copied and modified files keep theirs, so only the
    // read-only file differs (made writable in the working folder).
    expected["fixed.txt"].mode = 0644;
    EXPECT_EQ(built, expected);
    EXPECT_EQ(VersionFolders(), (std::vector<std::string>{"1.0.0", "1.0.1"}));  // no working folder left

    // The same answer again: the folder exists, only the switch happens.
    WriteSetting("versions.current", "1.0.0");
    InstallVersion("1.0.0", "1.0.1", Doc(answer), false);
    EXPECT_EQ(ReadSetting("versions.current"), "1.0.1");
    EXPECT_EQ(TakeSnapshot(Versions() + "/1.0.1"), built);
}

TEST_F(Install, FullDownloadBuildsFromAnEmptyFolderAndReplacesAnExistingOne) {
    fs::create_directories(Versions() + "/1.0.1/stale");
    WriteFile(Versions() + "/1.0.1/stale/file", "old");
    InstallVersion("1.0.0", "1.0.1", Doc(MakePatch(true)), true);
    EXPECT_EQ(ReadSetting("versions.current"), "1.0.1");
    Snapshot built = TakeSnapshot(Versions() + "/1.0.1");
    EXPECT_EQ(built.count("stale/file"), 0u);
    EXPECT_EQ(built.count("readme.link"), 0u);  // links travel only in copies
    // Added programs and scripts become executable; other files do not.
    EXPECT_EQ(built["app"].mode, 0755u);
    EXPECT_EQ(built["sub/tool"].mode, 0755u);
    EXPECT_EQ(built["run.sh"].mode, 0755u);
    EXPECT_EQ(built["readme.txt"].mode, 0644u);
    EXPECT_EQ(built["lib/data.bin"].digest, FileSha1(source / "1.0.1/lib/data.bin"));
    EXPECT_EQ(built["empty.txt"].digest, kEmptySha1);
}

TEST_F(Install, FullDownloadOverAFolderThatCannotBeDeleted) {
    fs::create_directories(Versions() + "/1.0.1");
    WriteFile(Versions() + "/1.0.1/locked", "x");
    ::chmod((Versions() + "/1.0.1/locked").c_str(), 0444);
    try {
        InstallVersion("1.0.0", "1.0.1", Doc(MakePatch(true)), true);
        FAIL() << "installed";
    } catch (const StarterError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "Вызов DeleteDirectory(\"" + Versions() + "/1.0.1\") вернул ошибку 13: Permission denied");
    }
    EXPECT_EQ(ReadSetting("versions.current"), "1.0.0");
}

TEST_F(Install, AnEntryAlreadyAppliedIsSkipped) {
    // Running the same answer twice into one working folder is harmless.
    std::string working = program / "work";
    fs::copy(Versions() + "/1.0.0", working, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    MakeTreeWritable(working);
    PatchDocument doc = Doc(MakePatch());
    std::string tool = WriteResourceToTempFile("BSPATCH_EXE");
    ::chmod(tool.c_str(), 0700);
    ApplyPatch(Versions() + "/1.0.0", working, doc, tool);
    Snapshot once = TakeSnapshot(working);
    ApplyPatch(Versions() + "/1.0.0", working, doc, tool);
    ::unlink(tool.c_str());
    EXPECT_EQ(TakeSnapshot(working), once);
}

// One refused answer: the error text and the untouched installation.
struct Refused {
    const char *name;
    std::string answer;
    std::string error;
};

class RefusedAnswers : public Install {};

std::string Answer(const std::string &entries) {
    return "<response><patch version=\"1.0.1\">" + entries + "</patch></response>";
}

TEST_F(RefusedAnswers, LeaveTheInstallationUntouched) {
    const std::string readmeSha = FileSha1(Versions() + "/1.0.0/readme.txt");
    std::string lower = readmeSha;
    for (auto &c : lower) c = static_cast<char>(std::tolower(c));
    // Real patches to tamper with: the full answer's "add" of lib/data.bin.
    PatchDocument full = Doc(MakePatch(true));
    std::string addData, addDataHash;
    for (const PatchEntry &e : full.Entries())
        if (e.Attribute("name") == "lib/data.bin") {
            SecureBytes bytes = e.DecodeData();
            addData.assign(reinterpret_cast<const char *>(bytes.data()), bytes.size());
            addDataHash = *e.Attribute("hash");
        }
    ASSERT_FALSE(addData.empty());
    auto base64 = [](const std::string &bytes) {
        static const char k[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        for (size_t i = 0; i < bytes.size(); i += 3) {
            uint32_t g = uint32_t(uint8_t(bytes[i])) << 16;
            if (i + 1 < bytes.size()) g |= uint32_t(uint8_t(bytes[i + 1])) << 8;
            if (i + 2 < bytes.size()) g |= uint8_t(bytes[i + 2]);
            out += k[g >> 18 & 63];
            out += k[g >> 12 & 63];
            out += i + 1 < bytes.size() ? k[g >> 6 & 63] : '=';
            out += i + 2 < bytes.size() ? k[g & 63] : '=';
        }
        return out;
    };
    auto add = [&](const std::string &name, const std::string &patch, const std::string &hash) {
        return "<add name=\"" + name + "\" hash=\"" + hash + "\">" + base64(patch) + "</add>";
    };
    std::string flipped = addData;
    flipped[flipped.size() / 2] ^= 0x55;
    std::string truncated = addData.substr(0, addData.size() - 40);
    const std::string fileError = "при обновлении файла \"";

    // Outside the installation: a folder and a file that links in the current version point to.
    TempDir outside;
    WriteFile(outside / "victim", "outside");
    fs::create_symlink(outside.path(), Versions() + "/1.0.0/outlink");
    fs::create_symlink(outside / "victim", Versions() + "/1.0.0/filelink");
    const std::string victimSha = FileSha1(outside / "victim");
    Snapshot before = TakeSnapshot(Versions() + "/1.0.0");

    const Refused cases[] = {
        {"parent folder", Answer(add("../x", addData, addDataHash)), "invalid file path (?!)"},
        {"absolute", Answer(add("/x", addData, addDataHash)), "invalid file path (?!)"},
        {"double slash", Answer(add("a//b", addData, addDataHash)), "invalid file path (?!)"},
        {"backslash", Answer(add("a\\b", addData, addDataHash)), "invalid file path (?!)"},
        {"blank", Answer(add("a b", addData, addDataHash)), "invalid file path (?!)"},
        {"trailing dot", Answer(add("x.", addData, addDataHash)), "invalid file path (?!)"},
        {"empty name", Answer(add("", addData, addDataHash)), "empty file path (?!)"},
        {"no name", Answer("<remove hash=\"" + readmeSha + "\"/>"), "empty file path (?!)"},
        {"through a linked folder", Answer(add("outlink/new", addData, addDataHash)),
         fileError + "outlink/new\" произошла ошибка: the file path passes through a symbolic link (?!)"},
        {"modify a linked file",
         Answer("<modify name=\"filelink\" hash-before=\"" + victimSha + "\" hash-after=\"" + addDataHash + "\">" +
                base64(addData) + "</modify>"),
         fileError + "filelink\" произошла ошибка: the file path passes through a symbolic link (?!)"},
        {"remove a linked file", Answer("<remove name=\"filelink\" hash=\"" + victimSha + "\"/>"),
         fileError + "filelink\" произошла ошибка: the file path passes through a symbolic link (?!)"},
        {"lower-case remove", Answer("<remove name=\"readme.txt\" hash=\"" + lower + "\"/>"),
         fileError + "readme.txt\" произошла ошибка: файл в текущей версии отличается от ожидаемого."},
        {"lower-case modify",
         Answer("<modify name=\"readme.txt\" hash-before=\"" + lower + "\" hash-after=\"" + lower + "\">" +
                base64(addData) + "</modify>"),
         fileError + "readme.txt\" произошла ошибка: файл в текущей версии отличается от ожидаемого."},
        {"digest mismatch after patching", Answer(add("new.bin", addData, readmeSha)),
         fileError + "new.bin\" произошла ошибка: после обновления файла контрольная сумма не совпадает с ожидаемой."},
        {"corrupt patch", Answer(add("new.bin", flipped, addDataHash)),
         fileError + "new.bin\" произошла ошибка: программа применения патча вернула код возврата 1."},
        {"truncated patch", Answer(add("new.bin", truncated, addDataHash)),
         fileError + "new.bin\" произошла ошибка: программа применения патча вернула код возврата 1."},
        {"not a patch", Answer(add("new.bin", "BSDIFF41 plain text", addDataHash)),
         fileError + "new.bin\" произошла ошибка: программа применения патча вернула код возврата 1."},
        {"not base64", Answer("<add name=\"new.bin\" hash=\"" + addDataHash + "\">QUJDR</add>"),
         fileError + "new.bin\" произошла ошибка: invalid patch (?!)"},
        {"add over an existing file", Answer(add("readme.txt", addData, addDataHash)),
         fileError + "readme.txt\" произошла ошибка: файл уже существует в текущей версии."},
        {"modify a missing file",
         Answer("<modify name=\"nothing\" hash-before=\"" + readmeSha + "\" hash-after=\"" + readmeSha + "\"/>"),
         fileError + "nothing\" произошла ошибка: файл не существует в текущей версии."},
        {"unknown mode", Answer("<rename name=\"readme.txt\"/>"),
         fileError + "readme.txt\" произошла ошибка: invalid patch mode: rename (?!)"},
        {"late failure after good entries",
         Answer("<remove name=\"removed.txt\" hash=\"" + FileSha1(Versions() + "/1.0.0/removed.txt") + "\"/>" +
                add("late/new.bin", addData, addDataHash) + add("../escape", addData, addDataHash)),
         "invalid file path (?!)"},
    };
    for (const Refused &c : cases) {
        SCOPED_TRACE(c.name);
        try {
            InstallVersion("1.0.0", "1.0.1", Doc(c.answer), false);
            ADD_FAILURE() << "installed";
        } catch (const StarterError &e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
        EXPECT_EQ(ReadSetting("versions.current"), "1.0.0");
        EXPECT_EQ(VersionFolders(), (std::vector<std::string>{"1.0.0"}));
        EXPECT_EQ(TakeSnapshot(Versions() + "/1.0.0"), before);
        EXPECT_EQ(ReadFile(outside / "victim"), "outside");
        EXPECT_EQ(std::distance(fs::directory_iterator(outside.path()), fs::directory_iterator()), 1);
    }
}

TEST_F(RefusedAnswers, VersionNamesThatAreNotFolderNames) {
    PatchDocument doc = Doc(MakePatch());
    for (const std::string version : {"", ".", "..", "../../escape", "1.0.1/x", "a\\b"}) {
        try {
            InstallVersion("1.0.0", version, doc, false);
            ADD_FAILURE() << "installed " << version;
        } catch (const StarterError &e) {
            EXPECT_EQ(std::string(e.what()), "invalid version name: " + version + " (?!)");
        }
    }
    EXPECT_EQ(ReadSetting("versions.current"), "1.0.0");
    EXPECT_EQ(VersionFolders(), (std::vector<std::string>{"1.0.0"}));
    EXPECT_FALSE(fs::exists(program / "escape"));
}

TEST_F(RefusedAnswers, APatchToolWithoutOurSignatureDoesNotRun) {
    PatchTool tool;
    tool.resources = [](std::string_view name) -> std::optional<std::span<const uint8_t>> {
        static const std::string unsignedTool = ReadFile(ZOLM_SYSTEM_BSPATCH);
        if (name != "BSPATCH_EXE") return std::nullopt;
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(unsignedTool.data()), unsignedTool.size());
    };
    try {
        InstallVersion("1.0.0", "1.0.1", Doc(MakePatch()), false, tool);
        FAIL() << "installed";
    } catch (const StarterError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "при обновлении файла \"lib/data.bin\" произошла ошибка: Вызов WinVerifyTrust вернул ошибку "
                  "-2146762496: the file carries no code signature");
    }
    EXPECT_EQ(ReadSetting("versions.current"), "1.0.0");
    EXPECT_EQ(VersionFolders(), (std::vector<std::string>{"1.0.0"}));
}

TEST(CheckRelativePathTest, Names) {
    const std::pair<const char *, const char *> cases[] = {
        {"a.b/c-d_e.txt", "a.b/c-d_e.txt"},
        {"x", "x"},
        {"_", "_"},
        {"A/b/C", "A/b/C"},
        {"", "empty file path (?!)"},
        {".", "invalid file path (?!)"},
        {"x.", "invalid file path (?!)"},
        {".x", "invalid file path (?!)"},
        {"../x", "invalid file path (?!)"},
        {"a/../b", "invalid file path (?!)"},
        {"/x", "invalid file path (?!)"},
        {"x/", "invalid file path (?!)"},
        {"a//b", "invalid file path (?!)"},
        {"a\\b", "invalid file path (?!)"},
        {"a b", "invalid file path (?!)"},
        {"a:b", "invalid file path (?!)"},
        {"ж", "invalid file path (?!)"},
    };
    for (const auto &[name, expected] : cases) {
        std::string result;
        try {
            result = CheckRelativePath(name);
        } catch (const StarterError &e) {
            result = e.what();
        }
        EXPECT_EQ(result, expected) << name;
    }
}

TEST(FileSha1Test, FilesFoldersAndAbsence) {
    TempDir dir;
    WriteFile(dir / "empty", "");
    WriteFile(dir / "abc", "abc");
    EXPECT_EQ(FileSha1(dir / "empty"), kEmptySha1);
    EXPECT_EQ(FileSha1(dir / "abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(FileSha1(dir.path()), "");
    EXPECT_EQ(FileSha1(dir / "missing"), "");
    EXPECT_EQ(FileSha1(dir / "abc/below"), "");
}

TEST(PatchDocumentTest, MalformedAndHostileDocumentsAreRefused) {
    for (const std::string text : {"", "<response>", "<response><patch></response>",
                                   "<!DOCTYPE r [<!ENTITY a \"aaaa\">]><response>&a;</response>"})
        EXPECT_THROW(PatchDocument::Parse(text.data(), text.size()), StarterError) << text;
    // Entries are the element children of every patch element, comments and texts aside.
    std::string text =
        "<response><patch version=\"2\"> <add name=\"a\"/><!-- c --><remove name=\"b\"/>x</patch></response>";
    PatchDocument doc = PatchDocument::Parse(text.data(), text.size());
    ASSERT_EQ(doc.Entries().size(), 2u);
    EXPECT_EQ(doc.Entries()[1].Mode(), "remove");
    EXPECT_EQ(doc.SelectText("/response/patch/@version"), "2");
    EXPECT_EQ(doc.Entries()[0].Attribute("hash"), std::nullopt);
}

TEST(PatchDocumentTest, EntryDataIsDecodedByTheBase64Rules) {
    // Blanks and line breaks anywhere; the text of inner elements counts; a pad stands for a zero
    // sextet wherever it stands; three sextets and an empty text are refused.
    std::string text =
        "<response><patch><add name=\"a\">\n  SGVs\r\n bG8s IHdv\tcmxk\n</add><add>SGk=</add>"
        "<add>SGk</add><add>S=Gk</add><add></add><add>SG<x>k=</x></add></patch></response>";
    PatchDocument doc = PatchDocument::Parse(text.data(), text.size());
    auto entries = doc.Entries();
    SecureBytes hello = entries[0].DecodeData();
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(hello.data()), hello.size()), "Hello, world");
    EXPECT_EQ(entries[1].DecodeData().size(), 2u);
    EXPECT_THROW(entries[2].DecodeData(), StarterError);
    EXPECT_EQ(entries[3].DecodeData().size(), 2u);
    EXPECT_THROW(entries[4].DecodeData(), StarterError);
    SecureBytes hi = entries[5].DecodeData();
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(hi.data()), hi.size()), "Hi");
}

}  // namespace
