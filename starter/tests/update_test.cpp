// CheckForUpdate against a local XML-RPC server whose answers each case scripts, with a scripted user
// and a recording installer: what is asked, what is shown, what is installed, what reaches the server.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <stdexcept>

#include "platform/named_objects.h"
#include "starter/start_update.h"
#include "starter/xml_document.h"
#include "rpc_documents.h"
#include "test_support.h"
#include "testing/net_peers.h"

using namespace zolm::starter;
namespace peers = zolm::https::testing;

namespace {

const char kTitle[] = "Демо";
const char kCurrent[] = "00000002";

// One request as the server read it: method, request id and the content's texts.
struct Sent {
    std::string method, id, product, version;
};

Sent ReadSent(const std::string &envelope) {
    XmlDocument inner = zolm::starter::testing::InnerRequest(envelope);
    if (!inner) return {};
    return {inner.SelectSingleNode("/request/@type")->Text(), inner.SelectSingleNode("/request/@id")->Text(),
            inner.SelectSingleNode("/request/product")->Text(), inner.SelectSingleNode("/request/version")->Text()};
}

// A well-formed XML-RPC answer carrying an inner document with the given content.
std::string Good(const Sent &sent, const std::string &content) {
    std::string inner = "<?xml version=\"1.0\" encoding=\"utf-8\"?><response type=\"" + sent.method +
                        "\" request-id=\"" + sent.id + "\" id=\"1\">" + content + "</response>";
    return peers::Response(200, "Content-Type: text/xml\r\n", zolm::starter::testing::MethodResponse(inner));
}

// What the server does for one method: an inner content, or a raw HTTP status without a body.
struct Reply {
    std::string content;
    int status = 200;
};
Reply Content(std::string content) { return {std::move(content), 200}; }
Reply Status(int status) { return {"", status}; }

const std::string kPatch = "<patch version=\"00000003\"><add name=\"a.txt\" sha1=\"X\">QQ==</add></patch>";

// The scripted user: answers questions as told and writes down every dialog.
class ScriptedUser : public UpdateUser {
public:
    bool yes = true;
    std::vector<std::string> log;
    bool AskConfirmation(const std::string &question) override {
        log.push_back("ask: " + question);
        return yes;
    }
    void ShowError(const std::string &message) override { log.push_back("error: " + message); }
    void ShowInformation(const std::string &caption, const std::string &message) override {
        log.push_back("info: " + caption + " | " + message);
    }
};

struct Installed {
    std::string current, next;
    bool full = false;
    std::vector<std::string> modes;
};

std::string Product() {
    static std::atomic<int> counter{0};
    return "ZolmUpdateTest-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings_["application.title"] = kTitle;
        settings_["versions.url"] = "http://127.0.0.1:" + std::to_string(server_.Port()) + "/RPC2";
        settings_["versions.product"] = Product();
        settings_["versions.current"] = kCurrent;
    }

    // Runs the check; the log holds the dialogs, then "install: current -> next full modes".
    std::vector<std::string> Run(bool internet = true) {
        UpdateServices services;
        services.readSetting = [this](std::string_view key) {
            auto found = settings_.find(std::string(key));
            return found != settings_.end() ? found->second : std::string();
        };
        services.versionDirectory = [this](std::string_view version) {
            return dir_ / ("VERSIONS/" + std::string(version) + "/");
        };
        services.install = [this](const std::string &c, const std::string &n, const PatchDocument &a, bool f) {
            if (installError_) throw std::runtime_error(installError_);
            std::string modes;
            for (const PatchEntry &entry : a.Entries()) modes += " " + entry.Mode();
            user_.log.push_back("install: " + c + " -> " + n + (f ? " full" : "") + modes);
        };
        UpdateChecker checker(user_, std::move(services));
        checker.CheckForUpdate(internet, "INTERNET_OPEN_TYPE_DIRECT", "", "");
        return user_.log;
    }
    // The requests the server received, as "method product version".
    std::vector<std::string> Calls() {
        std::vector<std::string> calls;
        for (const auto &request : server_.Requests()) {
            Sent sent = ReadSent(request.body);
            calls.push_back(sent.method + " " + sent.product.substr(0, 14) + " " + sent.version);
        }
        return calls;
    }

    zolm::starter::testing::TempDir dir_;
    std::map<std::string, std::string> settings_;
    std::map<std::string, Reply> replies_;
    ScriptedUser user_;
    const char *installError_ = nullptr;
    peers::TestServer server_{nullptr, [this](const peers::ReceivedRequest &request) {
                                  Sent sent = ReadSent(request.body);
                                  auto reply = replies_.find(sent.method);
                                  if (reply == replies_.end()) return peers::Response(404, "", "");
                                  if (reply->second.status != 200) return peers::Response(reply->second.status, "", "");
                                  return Good(sent, reply->second.content);
                              }};
};

const std::string kQuestion4K =
    "ask: На сервере доступна новая версия приложения \"Демо\", скачать обновление (4K) и установить новую версию ?";
const std::string kSuccess =
    "info: Обновление версии приложения | Новая версия приложения \"Демо\" успешно установлена.";
const std::string kFailure = "error: При обновлении приложения \"Демо\" произошла ошибка: ";

struct ServerCase {
    const char *name;
    std::string patchInfo;  // content of the GetPatchInfo answer; "500": that status
    std::string patch;      // content of the GetPatch answer; "500": that status
    bool silent;
    bool yes;
    std::vector<std::string> log;
    std::vector<std::string> calls;
};

const std::string kInfoCall = "Versions.GetPatchInfo ZolmUpdateTest 00000002";
const std::string kPatchCall = "Versions.GetPatch ZolmUpdateTest 00000002";
const std::string kFullCall = "Versions.GetPatch ZolmUpdateTest 00000000";

const ServerCase kServerCases[] = {
    {"PatchAcceptedAndInstalled",
     "<patch><size>4096</size></patch>",
     kPatch,
     false,
     true,
     {kQuestion4K, "install: 00000002 -> 00000003 add", kSuccess},
     {kInfoCall, kPatchCall}},
    {"UserSaysNo", "<patch><size>4096</size></patch>", kPatch, false, false, {kQuestion4K}, {kInfoCall}},
    {"SizeZeroIsNothingToUpdate", "<patch><size>0</size></patch>", kPatch, false, true, {}, {kInfoCall}},
    {"Size1023IsZeroK",
     "<patch><size>1023</size></patch>",
     kPatch,
     false,
     false,
     {"ask: На сервере доступна новая версия приложения \"Демо\", скачать обновление (0K) и установить новую "
      "версию ?"},
     {kInfoCall}},
    {"FullAnswerAsksForAnEmptyBase",
     "<full><size>1048576</size></full><patch><size>5</size></patch>",
     kPatch,
     false,
     true,
     {"ask: На сервере доступна новая версия приложения \"Демо\", скачать обновление (1024K) и установить новую "
      "версию ?",
      "install: 00000002 -> 00000003 full add", kSuccess},
     {kInfoCall, kFullCall}},
    {"SilentInstallsWithoutAsking",
     "<patch><size>4096</size></patch>",
     kPatch,
     true,
     false,
     {"install: 00000002 -> 00000003 add"},
     {kInfoCall, kPatchCall}},
    {"ServerDownIsSilent", "500", kPatch, false, true, {}, {kInfoCall}},
    {"PatchInfoApplicationErrorIsShown",
     "<errors><error>нет такого продукта</error></errors>",
     kPatch,
     false,
     true,
     {kFailure + "нет такого продукта"},
     {kInfoCall}},
    {"PatchApplicationErrorIsShown",
     "<patch><size>4096</size></patch>",
     "<errors><error>нет патча</error></errors>",
     false,
     true,
     {kQuestion4K, kFailure + "нет патча"},
     {kInfoCall, kPatchCall}},
    {"PatchTransportErrorIsShown",
     "<patch><size>4096</size></patch>",
     "500",
     false,
     true,
     {kQuestion4K,
      kFailure + "XMLRPC вызов Versions.GetPatch --> URL завершился с ошибкой: HTTP запрос вернул код 500"},
     {kInfoCall, kPatchCall}},
    {"SilentErrorLeavesNoTrace",
     "<errors><error>нет такого продукта</error></errors>",
     kPatch,
     true,
     true,
     {},
     {kInfoCall}},
    {"SizeNotDecimal",
     "<patch><size>12a</size></patch>",
     kPatch,
     false,
     true,
     {kFailure + "invalid update size \"12a\" (?!)"},
     {kInfoCall}},
    {"SizeNegative",
     "<patch><size>-5</size></patch>",
     kPatch,
     false,
     true,
     {kFailure + "invalid update size \"-5\" (?!)"},
     {kInfoCall}},
    {"SizeMissing",
     "<patch/>",
     kPatch,
     false,
     true,
     {kFailure + "the update server's answer has no size (?!)"},
     {kInfoCall}},
    {"FullWithoutSizeIgnoresThePatchSize",
     "<full/><patch><size>5</size></patch>",
     kPatch,
     false,
     true,
     {kFailure + "the update server's answer has no size (?!)"},
     {kInfoCall}},
    {"OfferedVersionNotNewer",
     "<patch><size>4096</size></patch>",
     "<patch version=\"00000002\"/>",
     false,
     true,
     {kQuestion4K, kSuccess},
     {kInfoCall, kPatchCall}},
    {"OfferedVersionMissing",
     "<patch><size>4096</size></patch>",
     "<patch/>",
     false,
     true,
     {kQuestion4K, kFailure + "the patch answer has no version (?!)"},
     {kInfoCall, kPatchCall}},
};

class UpdateServerTest : public UpdateTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(UpdateServerTest, AsksShowsAndInstallsAsTheAnswersSay) {
    const ServerCase &c = GetParam();
    auto reply = [](const std::string &text) { return text == "500" ? Status(500) : Content(text); };
    replies_["Versions.GetPatchInfo"] = reply(c.patchInfo);
    replies_["Versions.GetPatch"] = reply(c.patch);
    if (c.silent) settings_["versions.silent"] = "1";
    user_.yes = c.yes;
    std::vector<std::string> expected = c.log;
    for (std::string &line : expected)
        if (size_t at = line.find("URL"); at != std::string::npos) line.replace(at, 3, settings_["versions.url"]);
    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(Calls(), c.calls);
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateServerTest, ::testing::ValuesIn(kServerCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(UpdateTest, SilentOnlyForExactlyOne) {
    replies_["Versions.GetPatchInfo"] = Content("<patch><size>4096</size></patch>");
    settings_["versions.silent"] = "yes";
    user_.yes = false;
    EXPECT_EQ(Run(), std::vector<std::string>{kQuestion4K});
}

TEST_F(UpdateTest, WithoutInternetNothingIsAsked) {
    replies_["Versions.GetPatchInfo"] = Content("<patch><size>4096</size></patch>");
    EXPECT_EQ(Run(false), std::vector<std::string>{});
    EXPECT_TRUE(Calls().empty());
}

TEST_F(UpdateTest, BadUrlsAreSilent) {
    for (const char *url : {"", "127.0.0.1/RPC2", "ftp://127.0.0.1/RPC2"}) {
        SCOPED_TRACE(url);
        settings_["versions.url"] = url;
        EXPECT_EQ(Run(), std::vector<std::string>{});
    }
    EXPECT_TRUE(Calls().empty());
}

TEST_F(UpdateTest, AnotherStarterHoldingTheMarkerKeepsThisOneAway) {
    replies_["Versions.GetPatchInfo"] = Content("<patch><size>4096</size></patch>");
    auto marker =
        zolm::platform::TryLockNamed("Dovetane starter: " + settings_["versions.product"] + " update in progress");
    ASSERT_TRUE(marker.has_value());
    EXPECT_EQ(Run(), std::vector<std::string>{});
    EXPECT_TRUE(Calls().empty());
    marker.reset();
    // Released on every path: the next check runs.
    user_.yes = false;
    EXPECT_EQ(Run(), std::vector<std::string>{kQuestion4K});
    EXPECT_EQ(Calls().size(), 1u);
}

TEST_F(UpdateTest, InstallFailureIsShown) {
    replies_["Versions.GetPatchInfo"] = Content("<patch><size>4096</size></patch>");
    replies_["Versions.GetPatch"] = Content(kPatch);
    installError_ = "при обновлении файла \"a.txt\" произошла ошибка: boom";
    EXPECT_EQ(Run(), (std::vector<std::string>{kQuestion4K, kFailure + installError_}));
}

struct LocalCase {
    const char *name;
    std::string file;
    std::vector<std::string> log;
};

const LocalCase kLocalCases[] = {
    {"NewerVersionInstalled",
     "<patch version=\"00000003\"><remove name=\"b\"/><add name=\"a\">QQ==</add></patch>",
     {"install: 00000002 -> 00000003 remove add", kSuccess}},
    {"SameVersionStillShowsSuccess", "<patch version=\"00000002\"/>", {kSuccess}},
    {"LongerButOrdinallySmaller", "<patch version=\"00000001999\"/>", {kSuccess}},
    {"Windows1251Text",
     "<patch version=\"00000003\"><!-- \xc4\xe5\xec\xee --></patch>",
     {"install: 00000002 -> 00000003", kSuccess}},
    {"NoVersion", "<patch/>", {kFailure + "the patch answer has no version (?!)"}},
};

class UpdateLocalTest : public UpdateTest, public ::testing::WithParamInterface<LocalCase> {};

TEST_P(UpdateLocalTest, LocalDescriptionTakesTheServersPlace) {
    replies_["Versions.GetPatchInfo"] = Content("<patch><size>4096</size></patch>");
    std::string path = dir_ / "VERSIONS/00000002.xml";
    ASSERT_EQ(system(("mkdir -p '" + dir_.path() + "/VERSIONS'").c_str()), 0);
    zolm::starter::testing::WriteFile(path, GetParam().file);
    EXPECT_EQ(Run(), GetParam().log);
    EXPECT_TRUE(Calls().empty());  // the server is not asked, though the Internet is there
    EXPECT_EQ(zolm::starter::testing::ReadFile(path), GetParam().file);  // the file stays
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateLocalTest, ::testing::ValuesIn(kLocalCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(UpdateTest, LocalDescriptionNeedsNoInternet) {
    ASSERT_EQ(system(("mkdir -p '" + dir_.path() + "/VERSIONS'").c_str()), 0);
    zolm::starter::testing::WriteFile(dir_ / "VERSIONS/00000002.xml", "<patch version=\"00000003\"/>");
    settings_["versions.silent"] = "1";
    EXPECT_EQ(Run(false), std::vector<std::string>{"install: 00000002 -> 00000003"});
}

TEST_F(UpdateTest, UnreadableLocalDescriptionIsShownWithTheParsersReason) {
    std::string path = dir_ / "VERSIONS/00000002.xml";
    ASSERT_EQ(system(("mkdir -p '" + dir_.path() + "/VERSIONS'").c_str()), 0);
    zolm::starter::testing::WriteFile(path, "<patch version=\"3\">");
    std::vector<std::string> log = Run();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind(kFailure + "не удалось разобрать локальный файл \"" + path + "\": ", 0), 0u) << log[0];
    EXPECT_GT(log[0].size(), (kFailure + "не удалось разобрать локальный файл \"" + path + "\": ").size());
}

TEST(UpdateRules, OrdinalVersionComparison) {
    struct {
        const char *offered, *current;
        bool newer;
    } cases[] = {{"00000003", "00000002", true},
                 {"00000002", "00000002", false},
                 {"00000001", "00000002", false},
                 {"10", "9", false},
                 {"9", "10", true},
                 {"1.0.1", "1.0.0", true},
                 {"1.0", "1.0.0", false},
                 {"1.0.0", "1.0", true},
                 {"", "1", false},
                 {"\xd0\x90", "Z", true}};
    for (const auto &c : cases)
        EXPECT_EQ(VersionIsNewer(c.offered, c.current), c.newer) << c.offered << " " << c.current;
}

TEST(UpdateRules, SizeTexts) {
    struct {
        const char *text;
        std::optional<int64_t> size;
    } cases[] = {{"0", 0},
                 {"4096", 4096},
                 {" 1023\n", 1023},
                 {"9223372036854775807", INT64_MAX},
                 {"9223372036854775808", std::nullopt},
                 {"", std::nullopt},
                 {"-1", std::nullopt},
                 {"+1", std::nullopt},
                 {"0x10", std::nullopt},
                 {"1 2", std::nullopt}};
    for (const auto &c : cases) EXPECT_EQ(ParseUpdateSize(c.text), c.size) << c.text;
}

TEST(UpdateRules, LocalDescriptionPath) {
    EXPECT_EQ(LocalDescriptionPath("/opt/app/VERSIONS/1.0.0/"), "/opt/app/VERSIONS/1.0.0.xml");
    EXPECT_EQ(LocalDescriptionPath("/opt/app/VERSIONS/1.0.0"), "/opt/app/VERSIONS/1.0.0.xml");
}

}  // namespace
