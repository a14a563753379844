// The commands that load a provider plug-in and call one cp_* function over folder media.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>

#include "tools/host/commands.h"
#include "tools/host/plugin.h"
#include "tools/host/terminal.h"
#include "tools/host/terminal_host.h"

namespace zolm::host {
namespace {
namespace fs = std::filesystem;

constexpr uint32_t kMedium = 1;  // --medium
constexpr uint32_t kTarget = 2;  // --target

// A plug-in loaded and initialised over a TerminalHost, for one command.
struct Session {
    TerminalHost host;
    std::unique_ptr<Plugin> plugin;
};

std::string ReadWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw UsageError("cannot read " + path + ": " + std::strerror(errno));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void AddFolder(TerminalHost &host, uint32_t handle, const std::string &folder) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) throw UsageError("the medium folder " + folder + " does not exist");
    host.AddMedium(handle, folder);
}

// A password from its option, else typed on the terminal without echo (or one line of standard input).
std::string Password(const CommandLine &line, const std::string &option, const std::string &prompt) {
    if (auto value = line.Value(option)) return *value;
    return ReadSecretLine(prompt);
}

// Loads the plug-in, fills the host from the options, runs cp_Init and then `work`, which returns
// the error text of its call (empty for success). Prints an error text and returns the exit status.
int RunWithPlugin(const CommandLine &line, bool needsMedium, const std::function<std::string(Session &)> &work) {
    std::string path;
    if (auto value = line.Value("plugin"))
        path = *value;
    else if (const char *env = std::getenv("ZOLM_PLUGIN"); env && *env)
        path = env;
    else
        throw UsageError("no plug-in: give --plugin PATH or set ZOLM_PLUGIN");

    Session s;
    if (auto medium = line.Value("medium"))
        AddFolder(s.host, kMedium, *medium);
    else if (needsMedium)
        throw UsageError("the command " + line.Command() + " needs --medium DIR");
    if (auto target = line.Value("target")) AddFolder(s.host, kTarget, *target);
    if (line.Has("yes") && line.Has("no")) throw UsageError("--yes and --no exclude each other");
    if (line.Has("yes")) s.host.SetAnswer(true);
    if (line.Has("no")) s.host.SetAnswer(false);
    if (auto keys = line.Value("keys")) s.host.SetKeys(*keys);
    for (const auto &param : line.Values("param")) {
        auto eq = param.find('=');
        if (eq == std::string::npos || eq == 0) throw UsageError("--param needs NAME=VALUE, not \"" + param + "\"");
        s.host.SetParameter(param.substr(0, eq), param.substr(eq + 1));
    }

    try {
        s.plugin = std::make_unique<Plugin>(path);
    } catch (const PluginError &e) {
        std::cerr << "zolm-host: " << e.what() << "\n";
        return kExitUsage;
    }
    std::string directory = line.Value("directory").value_or(fs::absolute(path).parent_path().string() + "/");

    const HostTable *table = BindHost(&s.host);
    std::string error = s.plugin->TakeResult(s.plugin->Init(table, directory.c_str()));
    if (error.empty()) error = work(s);
    s.plugin->Done();
    BindHost(nullptr);
    if (!s.host.Outstanding().empty())
        std::cerr << "zolm-host: warning: the plug-in did not give back " << s.host.Outstanding().size()
                  << " block(s) of the host\n";
    if (!error.empty()) {
        std::cerr << "error: " << error << "\n";
        return kExitErrorText;
    }
    return kExitOk;
}

int Info(const CommandLine &line) {
    return RunWithPlugin(line, false, [](Session &s) -> std::string {
        const ProviderInfo *info = s.plugin->Info();
        if (info == nullptr) return "cp_Info returned no descriptor";
        auto text = [](const char *t) { return t ? t : "(null)"; };
        std::cout << "id: " << text(info->id) << "\ntitle: " << text(info->title) << "\nfamily: " << text(info->family)
                  << "\nnumbers:";
        for (int32_t n : info->numbers) std::cout << " " << n;
        std::cout << "\n";
        return {};
    });
}

int Init(const CommandLine &line) {
    return RunWithPlugin(line, false, [](Session &) -> std::string {
        std::cout << "ok\n";
        return {};
    });
}

// A command whose whole work is one call returning an error text.
int Simple(const CommandLine &line, const std::function<char *(Session &)> &call) {
    return RunWithPlugin(line, true, [&](Session &s) {
        std::string error = s.plugin->TakeResult(call(s));
        if (error.empty()) std::cout << "ok\n";
        return error;
    });
}

int GenerateKey(const CommandLine &line) {
    std::string password = Password(line, "password", "Password of the new key: ");
    std::string paramSet = line.Value("param-set").value_or("1.2.643.2.2.35.1");
    std::string algorithm = line.Value("algorithm").value_or("1.2.643.7.1.1.1.1");
    return Simple(line, [&](Session &s) {
        return s.plugin->GenerateKey(kMedium, password.c_str(), paramSet.c_str(), algorithm.c_str());
    });
}

int MakeRequest(const CommandLine &line) {
    std::string requestTemplate = ReadWholeFile(line.Required("template"));
    std::string password = Password(line, "password", "Password of the pending key: ");
    return Simple(
        line, [&](Session &s) { return s.plugin->MakeRequest(kMedium, password.c_str(), requestTemplate.c_str()); });
}

int MakeRequestCMC(const CommandLine &line) {
    std::string requestTemplate = ReadWholeFile(line.Required("template"));
    std::string ca = line.Required("ca");
    std::string pending = Password(line, "pending-password", "Password of the pending key: ");
    std::string current = Password(line, "current-password", "Password of the current key: ");
    return Simple(line, [&](Session &s) {
        return s.plugin->MakeRequestCMC(kMedium, requestTemplate.c_str(), pending.c_str(), current.c_str(), ca.c_str());
    });
}

int StoreCertificate(const CommandLine &line) {
    return RunWithPlugin(line, true, [](Session &s) {
        int32_t stored = 0;
        std::string error = s.plugin->TakeResult(s.plugin->StoreCertificate(kMedium, 0, 0, &stored));
        if (error.empty()) std::cout << "stored: " << stored << "\n";
        return error;
    });
}

int Activate(const CommandLine &line) {
    return Simple(line, [](Session &s) { return s.plugin->ActivateKey(kMedium); });
}

int Deactivate(const CommandLine &line) {
    return Simple(line, [](Session &s) { return s.plugin->DeactivateKey(kMedium); });
}

int Destroy(const CommandLine &line) {
    return Simple(line, [](Session &s) { return s.plugin->DestroyKey(kMedium); });
}

int Copy(const CommandLine &line) {
    if (!line.Has("target")) throw UsageError("the command copy needs --target DIR");
    return RunWithPlugin(line, true, [](Session &s) {
        int32_t copied = 0;
        std::string error = s.plugin->TakeResult(s.plugin->CopyKey(kMedium, kTarget, &copied));
        if (error.empty()) std::cout << "copied: " << copied << "\n";
        return error;
    });
}

int Sign(const CommandLine &line) {
    std::string data = ReadWholeFile(line.Required("in"));
    std::string out = line.Required("out");
    if (data.size() > UINT32_MAX) throw UsageError("the data to sign is larger than 4 GiB");
    std::string password = Password(line, "password", "Password of the key: ");
    return RunWithPlugin(line, true, [&](Session &s) -> std::string {
        void *signature = nullptr;
        uint32_t length = 0;
        char *info = nullptr;
        std::string error = s.plugin->TakeResult(s.plugin->SignData(
            kMedium, password.c_str(), data.data(), static_cast<uint32_t>(data.size()), 0, &signature, &length, &info));
        std::string infoText = info ? info : "";
        std::string bytes(static_cast<const char *>(signature), signature ? length : 0);
        if (signature) s.plugin->ReleaseMemory(signature, length);
        if (info) s.plugin->ReleaseMemory(info, static_cast<uint32_t>(infoText.size() + 1));
        if (!error.empty()) return error;
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) return "cannot write the signature to " + out;
        std::cout << "signature: " << bytes.size() << " bytes written to " << out << "\n";
        if (!infoText.empty()) std::cout << "info: " << infoText << "\n";
        return {};
    });
}

int CheckPassword(const CommandLine &line) {
    std::string password = Password(line, "password", "Password of the key: ");
    return RunWithPlugin(line, true, [&](Session &s) {
        int32_t accepted = 0;
        std::string error = s.plugin->TakeResult(s.plugin->CheckPassword(kMedium, password.c_str(), &accepted));
        if (error.empty()) std::cout << "accepted: " << (accepted ? 1 : 0) << "\n";
        return error;
    });
}

int ChangePassword(const CommandLine &line) {
    std::string current = Password(line, "password", "Current password: ");
    std::string next = Password(line, "new-password", "New password: ");
    return Simple(line, [&](Session &s) { return s.plugin->ChangePassword(kMedium, current.c_str(), next.c_str()); });
}

const CommandRegistration kPluginCommands(
    {
        {"info", "", "Prints the plug-in's descriptor (cp_Info).", &Info},
        {"init", "", "Loads the plug-in and runs cp_Init only.", &Init},
        {"generate-key", "--medium DIR [--password P] [--param-set OID] [--algorithm OID]",
         "Generates a pending key on the medium (cp_GenerateKey).", &GenerateKey},
        {"make-request", "--medium DIR --template FILE [--password P]",
         "Writes the certificate request req.pem for the pending key (cp_MakeRequest).", &MakeRequest},
        {"make-request-cmc", "--medium DIR --template FILE --ca LOCATION [--pending-password P] [--current-password P]",
         "Writes a renewal request signed with the current key (cp_MakeRequestCMC).", &MakeRequestCMC},
        {"store-certificate", "--medium DIR", "Calls cp_StoreCertificate and prints the stored flag.",
         &StoreCertificate},
        {"activate", "--medium DIR", "Makes the pending key the current key (cp_ActivateKey).", &Activate},
        {"deactivate", "--medium DIR", "Withdraws the current key (cp_DeactivateKey).", &Deactivate},
        {"destroy", "--medium DIR", "Removes the key material of cp_GenerateKey (cp_DestroyKey).", &Destroy},
        {"copy", "--medium DIR --target DIR", "Copies the key set to the target medium (cp_CopyKey).", &Copy},
        {"sign", "--medium DIR --in FILE --out FILE [--password P]",
         "Signs the bytes of FILE and writes the signature (cp_SignData).", &Sign},
        {"check-password", "--medium DIR [--password P]",
         "Prints \"accepted: 1\" or \"accepted: 0\" (cp_CheckPassword).", &CheckPassword},
        {"change-password", "--medium DIR [--password P] [--new-password P]",
         "Re-protects the current key with a new password (cp_ChangePassword).", &ChangePassword},
    },
    {
        {"plugin", "PATH", "the provider plug-in to load (default: $ZOLM_PLUGIN)"},
        {"medium", "DIR", "the key medium folder, medium handle 1"},
        {"target", "DIR", "a second medium folder, handle 2 (the target of copy)"},
        {"directory", "DIR", "the directory given to cp_Init (default: the plug-in's folder)"},
        {"yes", nullptr, "answer yes to every question of the plug-in"},
        {"no", nullptr, "answer no to every question of the plug-in"},
        {"keys", "TEXT", "the characters handed out for key presses, one per request"},
        {"param", "NAME=VALUE", "a host parameter (repeatable), e.g. no_key_callback=1"},
        {"password", "P", "the key's password (asked without echo when not given)"},
        {"new-password", "P", "change-password: the new password"},
        {"pending-password", "P", "make-request-cmc: the pending key's password"},
        {"current-password", "P", "make-request-cmc: the current key's password"},
        {"param-set", "OID", "generate-key: parameter set (default 1.2.643.2.2.35.1)"},
        {"algorithm", "OID", "generate-key: signature algorithm (default 1.2.643.7.1.1.1.1)"},
        {"template", "FILE", "make-request: the request template XML"},
        {"ca", "LOCATION", "make-request-cmc: where the CA certificates are"},
        {"in", "FILE", "sign: the data to sign"},
        {"out", "FILE", "sign: where the signature goes"},
    });

}  // namespace
}  // namespace zolm::host
