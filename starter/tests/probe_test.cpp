// The connectivity probe against a real HTTPS server with a test CA and a real authenticating proxy,
// with a scripted user in place of the dialogs and the splash.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "starter/https.h"
#include "starter/start_probe.h"
#include "starter/startup.h"
#include "testing/net_peers.h"

using namespace zolm::starter;
namespace peers = zolm::https::testing;
using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

const char kServerDate[] = "Sun, 06 Nov 1994 08:49:37 GMT";
const std::chrono::system_clock::time_point kServerTime = std::chrono::sys_days(std::chrono::year(1994) / 11 / 6) +
                                                          std::chrono::hours(8) + std::chrono::minutes(49) +
                                                          std::chrono::seconds(37);
const char kError407[] = "HTTP прокси-сервер запрещает доступ в Интернет (код возврата 407)";

// Answers from queues and writes every call into one journal.
struct ScriptedUser : ProbeUser {
    std::vector<std::string> journal;
    std::deque<ErrorChoice> choices;
    std::deque<std::optional<Credentials>> passwords;
    std::deque<bool> confirmations;
    std::function<void()> onError;  // runs inside the error dialog (a settings change, say)

    void HideSplash() override { journal.push_back("hide"); }
    void ShowSplash() override { journal.push_back("show"); }
    void DismissSplash() override { journal.push_back("dismiss"); }
    ErrorChoice InternetError(const std::string &message) override {
        journal.push_back("error: " + message);
        if (onError) onError();
        return Next(choices, ErrorChoice::Abort);
    }
    std::optional<Credentials> ProxyPassword() override {
        journal.push_back("password");
        return Next(passwords, std::optional<Credentials>());
    }
    bool AskConfirmation(const std::string &question) override {
        journal.push_back("ask: " + question);
        return Next(confirmations, false);
    }
    template <typename T>
    static T Next(std::deque<T> &queue, T otherwise) {
        if (queue.empty()) return otherwise;
        T value = std::move(queue.front());
        queue.pop_front();
        return value;
    }
};

std::string ProbeAnswer(const std::string &body, const std::string &date = kServerDate) {
    return peers::Response(200, date.empty() ? "" : "Date: " + date + "\r\n", body);
}

class ProbeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pki_ = new peers::TestPki; }
    static void TearDownTestSuite() {
        delete pki_;
        pki_ = nullptr;
    }
    void SetUp() override {
        env_.emplace(*pki_);
        settings_ = {{"application.title", "Зольм"},
                     {"proxy.type", "INTERNET_OPEN_TYPE_DIRECT"},
                     {"probe.url", Url(server_, "/probe.txt?check=1")},
                     {"probe.content", "probe-ok"},
                     {"probe.timedelta", "600"}};
    }
    void Env(const char *name, const char *value) { env_->Set(name, value); }
    std::string Url(peers::TestServer &server, const std::string &path, bool secure = true) {
        return std::string(secure ? "https" : "http") + "://localhost:" + std::to_string(server.Port()) + path;
    }
    bool Probe(std::chrono::system_clock::duration clockAhead = {}) {
        auto read = [this](std::string_view key) {
            auto found = settings_.find(std::string(key));
            return found == settings_.end() ? std::string() : found->second;
        };
        return ProbeConnection(state_, user_, read, [clockAhead] { return kServerTime + clockAhead; });
    }

    static peers::TestPki *pki_;
    std::optional<peers::TestEnvironment> env_;
    std::string answer_ = ProbeAnswer("probe-ok");
    peers::TestServer server_{pki_, [this](const peers::ReceivedRequest &) { return answer_; }};
    std::map<std::string, std::string> settings_;
    ScriptedUser user_;
    StartupState state_;
};

peers::TestPki *ProbeTest::pki_ = nullptr;

TEST_F(ProbeTest, ReachableServerPassesWithoutAnyDialog) {
    EXPECT_TRUE(Probe());
    EXPECT_TRUE(state_.InternetAvailable);
    EXPECT_EQ(state_.ProxyServer, "INTERNET_OPEN_TYPE_DIRECT");
    EXPECT_EQ(state_.ProxyUsername, "");
    EXPECT_EQ(state_.ProxyPassword, "");
    EXPECT_TRUE(user_.journal.empty());
    ASSERT_EQ(server_.Requests().size(), 1u);
    EXPECT_THAT(server_.Requests()[0].head, StartsWith("GET /probe.txt?check=1 HTTP/1.1\r\n"));
}

TEST_F(ProbeTest, FailedAttemptShowsTheErrorAndAbortEndsTheRun) {
    uint16_t closed = peers::FreePort();
    struct Case {
        const char *name;
        std::string answer;
        std::string url;  // empty: the server's
        std::string error;
    };
    const Case cases[] = {
        {"status 500", peers::Response(500, "", "probe-ok"), "", "проверочный HTTP запрос вернул код возврата 500"},
        {"redirect", peers::Response(302, "Location: /x\r\n", ""), "",
         "проверочный HTTP запрос вернул код возврата 302"},
        {"trailing line break", ProbeAnswer("probe-ok\r\n"), "", "проверочный HTTP запрос вернул неожиданный ответ"},
        {"other case", ProbeAnswer("PROBE-OK"), "", "проверочный HTTP запрос вернул неожиданный ответ"},
        {"empty body", ProbeAnswer(""), "", "проверочный HTTP запрос вернул неожиданный ответ"},
        {"empty url", ProbeAnswer("probe-ok"), "-", "Invalid URL scheme: ://"},
        {"ftp url", ProbeAnswer("probe-ok"), "ftp://localhost/x", "Invalid URL scheme: ftp://"},
        {"nobody listening", ProbeAnswer("probe-ok"), "http://127.0.0.1:" + std::to_string(closed) + "/",
         "Failed to connect to 127.0.0.1 port " + std::to_string(closed)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        answer_ = c.answer;
        if (!c.url.empty()) settings_["probe.url"] = c.url == "-" ? "" : c.url;
        user_ = ScriptedUser();
        state_ = StartupState();
        EXPECT_FALSE(Probe());
        ASSERT_EQ(user_.journal.size(), 3u);
        EXPECT_EQ(user_.journal[0], "hide");
        EXPECT_THAT(user_.journal[1], StartsWith("error: " + c.error));
        EXPECT_EQ(user_.journal[2], "dismiss");
        EXPECT_FALSE(state_.InternetAvailable);
        EXPECT_EQ(state_.ProxyServer, "");
        settings_["probe.url"] = Url(server_, "/probe.txt?check=1");
    }
}

TEST_F(ProbeTest, RetryReadsTheSettingsAfresh) {
    settings_["probe.content"] = "something else";
    // The settings dialog, reached from the error dialog, corrects the settings before Retry.
    user_.onError = [this] {
        settings_["probe.content"] = "probe-ok";
        settings_["proxy.type"] = "INTERNET_OPEN_TYPE_PRECONFIG";
    };
    user_.choices = {ProbeUser::ErrorChoice::Retry};
    EXPECT_TRUE(Probe());
    EXPECT_THAT(user_.journal, ElementsAre("hide", "error: проверочный HTTP запрос вернул неожиданный ответ", "show"));
    EXPECT_EQ(state_.ProxyServer, "INTERNET_OPEN_TYPE_PRECONFIG");
    EXPECT_EQ(server_.Requests().size(), 2u);
}

TEST_F(ProbeTest, IgnoreAsksWhetherToGoOnWithoutInternet) {
    const std::string question =
        "ask: Приложение \"Зольм\" не будет нормально работать без доступа в Интернет. Вы все равно хотите "
        "продолжить его запуск ?";
    for (bool yes : {true, false}) {
        SCOPED_TRACE(yes);
        answer_ = peers::Response(503, "", "");
        user_ = ScriptedUser();
        user_.choices = {ProbeUser::ErrorChoice::Ignore};
        user_.confirmations = {yes};
        state_ = StartupState();
        EXPECT_EQ(Probe(), yes);
        EXPECT_THAT(user_.journal,
                    ElementsAre("hide", "error: проверочный HTTP запрос вернул код возврата 503", question, "show"));
        EXPECT_FALSE(state_.InternetAvailable);
        EXPECT_EQ(state_.ProxyServer, "");
    }
}

TEST_F(ProbeTest, ClockCheck) {
    using namespace std::chrono;
    const std::string title = "Зольм";
    auto question = [&](int h, int m) {
        return "ask: Часы на Вашем компьютере расходятся с часами на сервере на " + std::to_string(h) + " ч " +
               std::to_string(m) + " мин. Для нормального функционирования приложения \"" + title +
               "\" требуется правильно установить время на Вашем компьютере. Вы все равно хотите продолжить "
               "запуск приложения ?";
    };
    struct Case {
        const char *name;
        std::string timedelta;
        system_clock::duration ahead;
        std::string date;
        std::string asked;  // empty: no question
    };
    const Case cases[] = {
        {"within the limit", "600", seconds(599), kServerDate, ""},
        {"exactly the limit", "600", seconds(600), kServerDate, ""},
        {"exactly the limit, clock behind", "600", -seconds(600), kServerDate, ""},
        {"just over", "600", milliseconds(600001), kServerDate, question(0, 10)},
        {"2 h 59 min 40 s", "600", hours(2) + minutes(59) + seconds(40), kServerDate, question(3, 0)},
        {"behind by a day and a bit", "600", -(hours(25) + minutes(3)), kServerDate, question(25, 3)},
        {"no check with 0", "0", hours(48), kServerDate, ""},
        {"no check when empty", "", hours(48), kServerDate, ""},
        {"no check with abc", "abc", hours(48), kServerDate, ""},
        {"no check with a negative value", "-5", hours(48), kServerDate, ""},
        {"no Date header", "600", hours(48), "", ""},
        {"another date format", "600", hours(48), "Sunday, 06-Nov-94 08:49:37 GMT", ""},
        {"wrong weekday", "600", hours(48), "Mon, 06 Nov 1994 08:49:37 GMT", ""},
    };
    for (const Case &c : cases) {
        for (bool yes : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (yes ? " yes" : " no"));
            answer_ = ProbeAnswer("probe-ok", c.date);
            settings_["probe.timedelta"] = c.timedelta;
            user_ = ScriptedUser();
            user_.confirmations = {yes};
            state_ = StartupState();
            bool goOn = Probe(c.ahead);
            if (c.asked.empty()) {
                EXPECT_TRUE(goOn);
                EXPECT_TRUE(user_.journal.empty());
            } else {
                EXPECT_EQ(goOn, yes);
                EXPECT_THAT(user_.journal, ElementsAre(c.asked));
            }
            EXPECT_EQ(state_.InternetAvailable, goOn);
        }
    }
}

// tinyproxy demanding "user"/"secret" in front of the HTTPS server and a plain HTTP one.
class ProbeProxyTest : public ProbeTest {
protected:
    peers::Tinyproxy proxy_{"user", "secret"};
    peers::TestServer plain_{nullptr, [this](const peers::ReceivedRequest &) { return answer_; }};

    void UseNamedProxy() {
        settings_["proxy.type"] = "INTERNET_OPEN_TYPE_PROXY";
        settings_["proxy.host"] = "127.0.0.1";
        settings_["proxy.port"] = std::to_string(proxy_.Port());
    }
    void UseUrl(bool secure) {
        settings_["probe.url"] = secure ? Url(server_, "/probe.txt") : Url(plain_, "/probe.txt", false);
    }
};

TEST_F(ProbeProxyTest, ProxyWantsCredentialsThePasswordDialogGivesThemAndTheProbePasses) {
    UseNamedProxy();
    for (bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https tunnel" : "http");
        UseUrl(secure);
        user_ = ScriptedUser();
        user_.passwords = {ProbeUser::Credentials{"user", "secret"}};
        state_ = StartupState();
        EXPECT_TRUE(Probe());
        // Straight to the next attempt: no error dialog.
        EXPECT_THAT(user_.journal, ElementsAre("hide", "password", "show"));
        EXPECT_TRUE(state_.InternetAvailable);
        EXPECT_EQ(state_.ProxyServer, "127.0.0.1:" + std::to_string(proxy_.Port()));
        EXPECT_EQ(state_.ProxyUsername, "user");
        EXPECT_EQ(state_.ProxyPassword, "secret");
    }
}

TEST_F(ProbeProxyTest, CancelledPasswordShowsThe407TextAndRetryStartsWithoutCredentials) {
    UseNamedProxy();
    UseUrl(true);
    user_.passwords = {std::nullopt, ProbeUser::Credentials{"user", "secret"}};
    user_.choices = {ProbeUser::ErrorChoice::Retry};
    EXPECT_TRUE(Probe());
    // The splash is hidden already when the error dialog comes, so it is not hidden twice.
    EXPECT_THAT(user_.journal, ElementsAre("hide", "password", std::string("error: ") + kError407, "show", "hide",
                                           "password", "show"));
    EXPECT_EQ(state_.ProxyPassword, "secret");
}

TEST_F(ProbeProxyTest, WrongCredentialsAreForgottenBeforeTheNextAttempt) {
    UseNamedProxy();
    UseUrl(false);
    user_.passwords = {ProbeUser::Credentials{"user", "wrong"}, ProbeUser::Credentials{"user", "secret"}};
    user_.choices = {ProbeUser::ErrorChoice::Retry};
    EXPECT_TRUE(Probe());
    // tinyproxy refuses wrong credentials with 401; the retry starts without them and meets 407 again.
    EXPECT_THAT(user_.journal, ElementsAre("hide", "password", "show", "hide",
                                           "error: проверочный HTTP запрос вернул код возврата 401", "show", "hide",
                                           "password", "show"));
    EXPECT_EQ(state_.ProxyPassword, "secret");
}

TEST_F(ProbeProxyTest, PreconfigFollowsTheEnvironmentProxy) {
    std::string proxyUrl = "http://" + proxy_.Address();
    Env("http_proxy", proxyUrl.c_str());
    Env("https_proxy", proxyUrl.c_str());
    settings_["proxy.type"] = "INTERNET_OPEN_TYPE_PRECONFIG";
    for (bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https tunnel" : "http");
        UseUrl(secure);
        user_ = ScriptedUser();
        user_.passwords = {ProbeUser::Credentials{"user", "secret"}};
        state_ = StartupState();
        EXPECT_TRUE(Probe());
        EXPECT_THAT(user_.journal, ElementsAre("hide", "password", "show"));
        EXPECT_EQ(state_.ProxyServer, "INTERNET_OPEN_TYPE_PRECONFIG");
        EXPECT_EQ(state_.ProxyUsername, "user");
    }
    // Direct access ignores the environment.
    settings_["proxy.type"] = "INTERNET_OPEN_TYPE_DIRECT";
    user_ = ScriptedUser();
    EXPECT_TRUE(Probe());
    EXPECT_TRUE(user_.journal.empty());
}

}  // namespace
