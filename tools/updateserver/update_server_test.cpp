// zolm-update-server as the starter sees it: the starter's own XML-RPC client and transport against
// the running program, over HTTP and HTTPS, with a folder of patches.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "starter/dovetane_rpc.h"
#include "starter/https.h"
#include "testing/net_peers.h"

extern char **environ;

using namespace zolm::starter;
namespace peers = zolm::https::testing;

namespace {

const char kTemplate[] = "<product>{0}</product><version>{1}</version>";
const std::string kPatch = "<patch version=\"00000003\">\n  <remove name=\"old.txt\"/>\n</patch>\n";
const std::string kFull = "<patch version=\"00000003\">\n  <add name=\"a.txt\" hash-after=\"X\">QQ==</add>\n</patch>\n";

void Write(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

// The server program on a free port, stopped with SIGTERM when the object goes.
class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> args) {
        portFile_ = dir_.File("port");
        std::vector<std::string> argv = {ZOLM_UPDATE_SERVER, "--port-file", portFile_};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char *> pointers;
        for (auto &a : argv) pointers.push_back(a.data());
        pointers.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, dir_.File("out").c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, dir_.File("err").c_str(), O_WRONLY | O_CREAT, 0600);
        if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        // Listening once the port file is there, or ended.
        while (pid_ > 0 && access(portFile_.c_str(), F_OK) != 0) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                pid_ = -1;
                break;
            }
            usleep(10000);
        }
    }
    ~ServerProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    int Port() const {
        std::ifstream in(portFile_);
        int port = 0;
        in >> port;
        return port;
    }
    int Exit() const { return exit_; }
    std::string Errors() const {
        std::ifstream in(dir_.File("err"));
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    peers::TempDir dir_;
    std::string portFile_;
    pid_t pid_ = -1;
    int exit_ = -1;
};

class UpdateServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Write(versions_.File("00000002.xml"), kPatch);
        Write(versions_.File("full.xml"), kFull);
        HttpsStart("INTERNET_OPEN_TYPE_DIRECT", "", "");
    }
    void TearDown() override { HttpsStop(); }
    std::string Url(const ServerProcess &server, const char *scheme = "http") {
        return std::string(scheme) + "://localhost:" + std::to_string(server.Port()) + "/RPC2";
    }
    // The inner answer as "local names: texts" of /response's children, or the error's text.
    static std::string Call(const std::string &url, const char *method, const std::string &product,
                            const std::string &version) {
        try {
            XmlDocument answer = XmlRpcCall(url, method, kTemplate, 10000, {product, version});
            std::string text;
            for (const XmlNode &child : answer.SelectNodes("/response/*")) {
                text += child.LocalName() + ":";
                for (const XmlNode &attribute : child.SelectNodes("@*"))
                    text += " @" + attribute.LocalName() + "=" + attribute.Text();
                for (const XmlNode &element : child.SelectNodes("*")) text += " " + element.LocalName();
                if (child.SelectNodes("*").empty()) text += " " + child.Text();
                text += ";";
            }
            return text;
        } catch (const TXmlRpcError &e) {
            return std::string("TXmlRpcError: ") + e.what();
        } catch (const std::exception &e) {
            return e.what();
        }
    }

    peers::TempDir versions_;
};

TEST_F(UpdateServerTest, AnswersBothMethodsFromTheFolder) {
    ServerProcess server({"--versions", versions_.Path(), "--product", "Zolm"});
    ASSERT_GT(server.Port(), 0) << server.Errors();
    struct {
        const char *method, *product, *version, *expected;
    } cases[] = {
        {"Versions.GetPatchInfo", "Zolm", "00000002", "patch: size;"},
        {"Versions.GetPatchInfo", "Zolm", "00000003", "patch: size;"},
        {"Versions.GetPatchInfo", "Zolm", "00000001", "full: size;"},
        {"Versions.GetPatchInfo", "Zolm", "../etc", "full: size;"},
        {"Versions.GetPatch", "Zolm", "00000002", "patch: @version=00000003 remove;"},
        {"Versions.GetPatch", "Zolm", "00000000", "patch: @version=00000003 add;"},
        {"Versions.GetPatch", "Zolm", "00000001", "TXmlRpcError: no patch from version 00000001"},
        {"Versions.GetPatchInfo", "Other", "00000002", "TXmlRpcError: unknown product: Other"},
        {"Versions.GetZolmConfig", "Zolm", "00000002", "TXmlRpcError: unknown method: Versions.GetZolmConfig"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Call(Url(server), c.method, c.product, c.version), c.expected) << c.method << " " << c.version;
}

TEST_F(UpdateServerTest, SizesAreTheAnswersBytes) {
    ServerProcess server({"--versions", versions_.Path()});
    auto size = [&](const std::string &version, const char *xpath) {
        XmlDocument answer = XmlRpcCall(Url(server), "Versions.GetPatchInfo", kTemplate, 10000, {"Zolm", version});
        auto node = answer.SelectSingleNode(xpath);
        return node ? node->Text() : "(none)";
    };
    EXPECT_EQ(size("00000002", "/response/patch/size"), std::to_string(kPatch.size()));
    EXPECT_EQ(size("00000001", "/response/full/size"), std::to_string(kFull.size()));
    EXPECT_EQ(size("00000003", "/response/patch/size"), "0");
}

TEST_F(UpdateServerTest, ServesTheProbeWithADate) {
    ServerProcess server({"--versions", versions_.Path(), "--probe-path", "/ping", "--probe-body", "pong"});
    std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
    HttpsResponse probe = HttpsRequest("GET", base + "/ping", "", nullptr, 0, 10000);
    EXPECT_EQ(probe.status, 200);
    EXPECT_EQ(probe.body.Text(), "pong");
    EXPECT_NE(probe.headers.find("Date: "), std::string::npos) << probe.headers;
    EXPECT_EQ(HttpsRequest("GET", base + "/other", "", nullptr, 0, 10000).status, 404);
    // A malformed call gets an XML-RPC fault, and the server goes on.
    EXPECT_NE(HttpsRequest("POST", base + "/RPC2", "", "<x/>", 4, 10000).body.Text().find("<fault>"),
              std::string::npos);
    EXPECT_EQ(Call(Url(server), "Versions.GetPatch", "Zolm", "00000002"), "patch: @version=00000003 remove;");
}

TEST_F(UpdateServerTest, ServesHttps) {
    peers::TestPki pki;
    peers::ScopedEnv trust("SSL_CERT_FILE", pki.CaFile().c_str());
    HttpsStop();  // the transport reads the trusted roots when it starts
    HttpsStart("INTERNET_OPEN_TYPE_DIRECT", "", "");
    ServerProcess server({"--versions", versions_.Path(), "--cert", pki.CertFile(), "--key", pki.KeyFile()});
    EXPECT_EQ(Call(Url(server, "https"), "Versions.GetPatch", "Zolm", "00000002"), "patch: @version=00000003 remove;");
}

TEST_F(UpdateServerTest, RefusesFoldersItCannotServe) {
    peers::TempDir empty, mixed;
    Write(mixed.File("1.xml"), "<patch version=\"2\"/>");
    Write(mixed.File("full.xml"), "<patch version=\"3\"/>");
    struct {
        std::string folder, message;
    } cases[] = {
        {empty.Path(), "zolm-update-server: " + empty.Path() + " holds no patch (<version>.xml or full.xml)\n"},
        {mixed.Path() + "/none", "zolm-update-server: " + mixed.Path() + "/none is not a folder\n"},
    };
    for (const auto &c : cases) {
        ServerProcess server({"--versions", c.folder});
        EXPECT_EQ(server.Exit(), 1);
        EXPECT_EQ(server.Errors(), c.message);
    }
    ServerProcess server({"--versions", mixed.Path()});
    EXPECT_EQ(server.Exit(), 1);
    EXPECT_NE(server.Errors().find(" makes version "), std::string::npos) << server.Errors();
}

}  // namespace
