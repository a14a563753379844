// The appended code signature: round trip, every refusal, and interplay with the openssl tool.
#include "platform/codesign/code_signature.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_pki.h"

namespace zolm::platform::codesign {
namespace {

using testing::Issued;
using testing::LeafOptions;
using testing::MakeIntermediate;
using testing::MakeRoot;
using testing::MakeSigner;
using Bytes = std::vector<uint8_t>;

Bytes SomeProgram() {
    Bytes program(5000);
    for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 7 + 3);
    return program;
}

Bytes Signed(const Bytes &content, const Issued &signer, const std::string &extraChain = {}) {
    Bytes file = content;
    Bytes block = MakeSignatureBlock(content, Signer::FromPem(signer.certPem + extraChain, signer.keyPem));
    file.insert(file.end(), block.begin(), block.end());
    return file;
}

class CodeSignature : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new Issued(MakeRoot("Test Root"));
        signer_ = new Issued(MakeSigner(*root_, "Quillmoor LLC"));
    }
    static void TearDownTestSuite() {
        delete root_;
        delete signer_;
    }
    TrustedRoots Roots() const { return TrustedRoots::FromPem(root_->certPem); }

    static Issued *root_;
    static Issued *signer_;
};
Issued *CodeSignature::root_ = nullptr;
Issued *CodeSignature::signer_ = nullptr;

TEST_F(CodeSignature, SignedBytesVerifyAndNameTheSigner) {
    Bytes file = Signed(SomeProgram(), *signer_);
    EXPECT_EQ(VerifyBytes(file, Roots()), "Quillmoor LLC");

    // The kernel's layout: content, CMS, 12-byte trailer, magic.
    auto layout = FindSignature(file);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->contentLength, SomeProgram().size());
    EXPECT_EQ(layout->contentLength + layout->cmsLength + 12 + 28, file.size());
    const uint8_t *trailer = file.data() + file.size() - 40;
    EXPECT_EQ(Bytes(trailer, trailer + 8), (Bytes{0, 0, 2, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::string(file.end() - 28, file.end()), "~Module signature appended~\n");
}

TEST_F(CodeSignature, EmptyContentCanBeSigned) {
    EXPECT_EQ(VerifyBytes(Signed({}, *signer_), Roots()), "Quillmoor LLC");
}

TEST_F(CodeSignature, ChainThroughAnIncludedIntermediate) {
    Issued intermediate = MakeIntermediate(*root_, "Test Intermediate");
    Issued leaf = MakeSigner(intermediate, "Quillmoor LLC");
    EXPECT_EQ(VerifyBytes(Signed(SomeProgram(), leaf, intermediate.certPem), Roots()), "Quillmoor LLC");
    // Without the intermediate the chain cannot be built.
    try {
        VerifyBytes(Signed(SomeProgram(), leaf), Roots());
        FAIL() << "accepted a chain without its intermediate";
    } catch (const SignatureError &e) {
        EXPECT_EQ(e.refusal(), Refusal::kUntrustedRoot);
    }
}

struct RefusalCase {
    const char *name;
    Refusal refusal;
    std::string expectedText;  // prefix of what()
};

TEST_F(CodeSignature, RefusedFiles) {
    Bytes good = Signed(SomeProgram(), *signer_);
    Issued otherRoot = MakeRoot("Other Root");
    auto flipped = [&](size_t at) {
        Bytes b = good;
        b[at] ^= 0x01;
        return b;
    };
    auto layout = *FindSignature(good);
    Bytes tooLong = good;
    tooLong[good.size() - 29] = 0xFF;  // the CMS length's low byte
    Bytes wrongId = good;
    wrongId[good.size() - 40 + 2] = 1;
    Bytes truncated(good.begin(), good.end() - 1);
    Bytes appended = good;
    appended.push_back('\n');

    struct Case {
        const char *name;
        Bytes file;
        Refusal refusal;
        const char *text;
    } cases[] = {
        {"unsigned", SomeProgram(), Refusal::kNotSigned, "the file carries no code signature"},
        {"empty file", {}, Refusal::kNotSigned, "the file carries no code signature"},
        {"content byte flipped", flipped(100), Refusal::kBadDigest, "the code signature does not match the file"},
        {"last content byte flipped", flipped(layout.contentLength - 1), Refusal::kBadDigest,
         "the code signature does not match the file"},
        {"signature byte flipped", flipped(layout.contentLength + layout.cmsLength - 10), Refusal::kBadDigest,
         "the code signature does not match the file"},
        {"CMS length too long", tooLong, Refusal::kNotSigned, "the file"},
        {"trailer id type", wrongId, Refusal::kNotSigned, "the file carries no code signature"},
        {"truncated magic", truncated, Refusal::kNotSigned, "the file carries no code signature"},
        {"byte after magic", appended, Refusal::kNotSigned, "the file carries no code signature"},
        {"other root", Signed(SomeProgram(), MakeSigner(otherRoot, "Quillmoor LLC")), Refusal::kUntrustedRoot,
         "the code signature's certificate does not chain to a trusted root"},
        {"self-signed signer", Signed(SomeProgram(), otherRoot), Refusal::kUntrustedRoot,
         "the code signature's certificate does not chain to a trusted root"},
        {"e-mail usage only", Signed(SomeProgram(), MakeSigner(*root_, "Quillmoor LLC", {.codeSigning = false})),
         Refusal::kWrongUsage, "the code signature's certificate is not valid for code signing"},
        {"no extended key usage", Signed(SomeProgram(), MakeSigner(*root_, "Quillmoor LLC", {.anyUsage = true})),
         Refusal::kWrongUsage, "the code signature's certificate is not valid for code signing"},
        {"expired", Signed(SomeProgram(), MakeSigner(*root_, "Quillmoor LLC", {.expired = true})), Refusal::kExpired,
         "a certificate of the code signature is outside its validity period"},
    };
    // Each file is checked in memory and from a descriptor (which streams the signed bytes).
    auto fromDescriptor = [&](const Bytes &file) {
        char name[] = "/tmp/codesign-case-XXXXXX";
        int fd = ::mkstemp(name);
        ::unlink(name);
        if (!file.empty()) {
            EXPECT_EQ(::write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
        }
        try {
            std::string signer = VerifyDescriptor(fd, Roots());
            ::close(fd);
            return signer;
        } catch (...) {
            ::close(fd);
            throw;
        }
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (bool descriptor : {false, true}) {
            try {
                descriptor ? fromDescriptor(c.file) : VerifyBytes(c.file, Roots());
                ADD_FAILURE() << "accepted";
            } catch (const SignatureError &e) {
                EXPECT_EQ(e.refusal(), c.refusal);
                EXPECT_EQ(e.code(), static_cast<int>(c.refusal));
                EXPECT_EQ(std::string(e.what()).rfind(c.text, 0), 0u) << e.what();
            }
        }
    }
    EXPECT_EQ(fromDescriptor(good), "Quillmoor LLC");
}

TEST_F(CodeSignature, SignerNameIsTheCommonNameAsWritten) {
    Issued other = MakeSigner(*root_, "Другой издатель");
    EXPECT_EQ(VerifyBytes(Signed(SomeProgram(), other), Roots()), "Другой издатель");
}

TEST(TrustedRootsTest, TextWithoutCertificatesIsRefused) {
    EXPECT_THROW(TrustedRoots::FromPem(""), std::invalid_argument);
    EXPECT_THROW(TrustedRoots::FromPem("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"),
                 std::invalid_argument);
}

TEST(SignerTest, KeyOfAnotherCertificateIsRefused) {
    Issued root = MakeRoot("R");
    Issued a = MakeSigner(root, "A");
    Issued b = MakeSigner(root, "B");
    EXPECT_THROW(Signer::FromPem(a.certPem, b.keyPem), std::invalid_argument);
}

// Files on disk: descriptors, re-signing, and the openssl command line on both sides.
class SignedFiles : public CodeSignature {
protected:
    void SetUp() override {
        char name[] = "/tmp/codesign-test-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir_ = name;
        Write("root.pem", root_->certPem);
        Write("signer.pem", signer_->certPem);
        Write("signer.key", signer_->keyPem);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    void Write(const std::string &name, const std::string &text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    void WriteBytes(const std::string &name, const Bytes &bytes) const {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    Bytes ReadBytes(const std::string &name) const {
        std::ifstream in(Path(name), std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    int Shell(const std::string &command) const { return std::system(("cd '" + dir_ + "' && " + command).c_str()); }

    std::string dir_;
};

TEST_F(SignedFiles, SignFileKeepsModeAndResigningReplacesTheSignature) {
    WriteBytes("prog", SomeProgram());
    ::chmod(Path("prog").c_str(), 0751);
    Signer signer = Signer::FromPemFiles(Path("signer.pem"), Path("signer.key"));
    SignFile(Path("prog"), signer);
    size_t once = ReadBytes("prog").size();
    SignFile(Path("prog"), signer);
    Bytes twice = ReadBytes("prog");
    EXPECT_EQ(FindSignature(twice)->contentLength, SomeProgram().size());
    EXPECT_NEAR(static_cast<double>(twice.size()), static_cast<double>(once), 4.0);  // DER lengths may vary
    struct stat st {};
    ASSERT_EQ(::stat(Path("prog").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);

    int fd = ::open(Path("prog").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, 17, SEEK_SET), 17);
    EXPECT_EQ(VerifyDescriptor(fd, Roots()), "Quillmoor LLC");
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 17);  // the position is left alone
    ::close(fd);
}

TEST_F(SignedFiles, OpensslVerifiesOurSignature) {
    Bytes file = Signed(SomeProgram(), *signer_);
    auto layout = *FindSignature(file);
    WriteBytes("content", Bytes(file.begin(), file.begin() + static_cast<long>(layout.contentLength)));
    WriteBytes("sig.der", Bytes(file.begin() + static_cast<long>(layout.contentLength),
                                file.begin() + static_cast<long>(layout.contentLength + layout.cmsLength)));
    EXPECT_EQ(Shell(std::string(ZOLM_OPENSSL) +
                    " cms -verify -binary -inform DER -in sig.der -content content -CAfile root.pem"
                    " -purpose any -out /dev/null 2>/dev/null"),
              0);
    // One flipped content byte and openssl refuses as well.
    Bytes tampered = SomeProgram();
    tampered[0] ^= 1;
    WriteBytes("content", tampered);
    EXPECT_NE(Shell(std::string(ZOLM_OPENSSL) +
                    " cms -verify -binary -inform DER -in sig.der -content content -CAfile root.pem"
                    " -purpose any -out /dev/null 2>/dev/null"),
              0);
}

TEST_F(SignedFiles, SignaturesMadeByOpenssl) {
    // The kernel's sign-file signs without signed attributes and may name the signer by key id; a
    // signature without the signer's certificate cannot be checked against the roots.
    struct Case {
        const char *name;
        const char *options;
        std::string expected;
    } cases[] = {
        {"default", "", "Quillmoor LLC"},
        {"no signed attributes", " -noattr", "Quillmoor LLC"},
        {"signer by key id", " -keyid -noattr", "Quillmoor LLC"},
        {"SHA-512", " -md sha512", "Quillmoor LLC"},
        {"without certificates", " -nocerts", "the code signature does not carry its signer's certificate"},
    };
    WriteBytes("prog", SomeProgram());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Shell(std::string(ZOLM_OPENSSL) + " cms -sign -binary -outform DER -in prog -signer signer.pem " +
                        "-inkey signer.key -out sig.der" + c.options),
                  0);
        // The kernel's trailer and magic, appended the way scripts/sign-file does.
        ASSERT_EQ(
            Shell("cat prog sig.der > signed && len=$(stat -c %s sig.der) && "
                  "printf '\\000\\000\\002\\000\\000\\000\\000\\000' >> signed && "
                  "printf \"$(printf '\\\\%03o\\\\%03o\\\\%03o\\\\%03o' $((len>>24&255)) $((len>>16&255)) "
                  "$((len>>8&255)) $((len&255)))\" >> signed && printf '~Module signature appended~\\n' >> signed"),
            0);
        int fd = ::open(Path("signed").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        try {
            EXPECT_EQ(VerifyDescriptor(fd, Roots()), c.expected);
        } catch (const SignatureError &e) {
            EXPECT_EQ(e.what(), c.expected);
        }
        ::close(fd);
    }
}

}  // namespace
}  // namespace zolm::platform::codesign
