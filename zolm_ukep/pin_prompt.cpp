// pinentry over its Assuan protocol: one process per question, spoken to through two pipes.
#include "zolm_ukep/pin_prompt.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/secure_zero.h"

extern char **environ;

namespace ukep {
namespace {

PinPrompt *g_prompt = nullptr;
constexpr int kTimeoutSeconds = 60;

const char *Env(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// Assuan escapes "%", CR and LF in command arguments and data lines as %XX.
std::string Escape(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '%' || c == '\n' || c == '\r') {
            static const char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Unescape(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

class Pinentry final : public PinPrompt {
public:
    std::optional<std::string> Ask(const std::string &description, const std::string &error) override {
        const char *program = Env("ZOLM_PINENTRY");
        if (program == nullptr) {
            // Without a desktop there is nobody to ask: a library must not take over a terminal.
            if (Env("DISPLAY") == nullptr && Env("WAYLAND_DISPLAY") == nullptr) return std::nullopt;
            program = "pinentry";
        }
        Session session;
        if (!session.Start(program)) return std::nullopt;
        if (!session.ReadOk(nullptr)) return std::nullopt;
        // The dialog closes by itself after a while, so a prompt nobody sees cannot hold the host forever.
        const std::string commands[] = {"SETTITLE КриптоПро CSP", "SETDESC " + Escape(description),
                                        "SETPROMPT PIN:", "SETTIMEOUT " + std::to_string(kTimeoutSeconds),
                                        error.empty() ? "" : "SETERROR " + Escape(error)};
        for (const auto &command : commands)
            if (!command.empty() && !(session.Send(command) && session.ReadOk(nullptr))) return std::nullopt;
        std::string pin;
        if (!session.Send("GETPIN") || !session.ReadOk(&pin)) {
            SecureZero(pin);
            return std::nullopt;
        }
        session.Send("BYE");
        return pin;
    }

private:
    static void SecureZero(std::string &text) { zolm::SecureZero(text.data(), text.size()); }

    class Session {
    public:
        ~Session() {
            if (to_ >= 0) close(to_);
            if (from_ >= 0) close(from_);
            if (pid_ > 0) {
                int status = 0;
                while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
                }
            }
            zolm::SecureZero(buffer_.data(), buffer_.size());
        }

        bool Start(const char *program) {
            int in[2], out[2];
            if (pipe2(in, O_CLOEXEC) != 0) return false;
            if (pipe2(out, O_CLOEXEC) != 0) {
                close(in[0]);
                close(in[1]);
                return false;
            }
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_adddup2(&actions, in[0], 0);
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
            char *argv[] = {const_cast<char *>(program), nullptr};
            int rc = posix_spawnp(&pid_, program, &actions, nullptr, argv, environ);
            posix_spawn_file_actions_destroy(&actions);
            close(in[0]);
            close(out[1]);
            to_ = in[1];
            from_ = out[0];
            if (rc != 0) pid_ = 0;
            return rc == 0;
        }

        bool Send(const std::string &command) {
            std::string line = command + "\n";
            // A pinentry that died must not kill the host with SIGPIPE.
            struct sigaction ignore {
            }, previous{};
            ignore.sa_handler = SIG_IGN;
            sigaction(SIGPIPE, &ignore, &previous);
            size_t done = 0;
            while (done < line.size()) {
                ssize_t n = write(to_, line.data() + done, line.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            sigaction(SIGPIPE, &previous, nullptr);
            return done == line.size();
        }

        // Reads lines up to "OK" (true) or "ERR" / end of input (false); "D" lines go to data.
        bool ReadOk(std::string *data) {
            for (;;) {
                std::string line;
                if (!ReadLine(&line)) return false;
                if (line == "OK" || line.rfind("OK ", 0) == 0) return true;
                if (line.rfind("ERR", 0) == 0) return false;
                if (line.rfind("D ", 0) == 0 && data != nullptr) *data += Unescape(line.substr(2));
                zolm::SecureZero(line.data(), line.size());
            }
        }

    private:
        bool ReadLine(std::string *line) {
            for (;;) {
                size_t end = buffer_.find('\n');
                if (end != std::string::npos) {
                    line->assign(buffer_, 0, end);
                    zolm::SecureZero(buffer_.data(), end + 1);
                    buffer_.erase(0, end + 1);
                    return true;
                }
                if (buffer_.size() > 64 * 1024) return false;
                char chunk[512];
                ssize_t n = read(from_, chunk, sizeof chunk);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return false;
                buffer_.append(chunk, static_cast<size_t>(n));
                zolm::SecureZero(chunk, sizeof chunk);
            }
        }

        pid_t pid_ = 0;
        int to_ = -1, from_ = -1;
        std::string buffer_;
    };
};

}  // namespace

PinPrompt &Prompt() {
    if (g_prompt != nullptr) return *g_prompt;
    static Pinentry pinentry;
    return pinentry;
}

void UsePrompt(PinPrompt *prompt) { g_prompt = prompt; }

}  // namespace ukep
