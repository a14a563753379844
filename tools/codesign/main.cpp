// zolm-codesign: signs files with the appended code signature and verifies them.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/codesign/code_signature.h"

namespace {

using namespace zolm::platform::codesign;

constexpr char kHelp[] =
    "Usage:\n"
    "  zolm-codesign sign --cert CERT.pem --key KEY.pem [--out OUTPUT] FILE\n"
    "      Appends a code signature to FILE (or writes the signed copy to OUTPUT), replacing any\n"
    "      signature FILE already carries. CERT.pem holds the signer's certificate, then any\n"
    "      intermediate certificates; KEY.pem its unencrypted private key.\n"
    "  zolm-codesign verify [--roots ROOTS.pem] [--signer NAME] FILE\n"
    "      Checks FILE's signature against the roots built into this program (or those of\n"
    "      ROOTS.pem) and prints the signer's name. With --signer the name must be NAME.\n"
    "  zolm-codesign --help\n"
    "\n"
    "The signature is a detached CMS SignedData over the file's bytes, followed by the 12-byte\n"
    "trailer of a Linux kernel module signature and \"~Module signature appended~\\n\".\n"
    "Exit status: 0 success, 1 refused or failed, 2 usage error.\n";

int Usage(const std::string &why) {
    std::fprintf(stderr, "zolm-codesign: %s\nTry 'zolm-codesign --help'.\n", why.c_str());
    return 2;
}

std::string ReadText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Options {
    std::string cert, key, out, roots, signer, file;
    bool signerGiven = false;
};

// Parses "--name value" pairs and one file; an unknown or repeated option is a usage error.
bool Parse(const std::vector<std::string> &args, const std::vector<std::string> &allowed, Options &o,
           std::string &error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a.rfind("--", 0) == 0) {
            bool known = false;
            for (const auto &name : allowed) known = known || a == name;
            if (!known) return error = "unknown option " + a, false;
            if (i + 1 >= args.size()) return error = "option " + a + " needs a value", false;
            const std::string &v = args[++i];
            if (a == "--cert") o.cert = v;
            if (a == "--key") o.key = v;
            if (a == "--out") o.out = v;
            if (a == "--roots") o.roots = v;
            if (a == "--signer") o.signer = v, o.signerGiven = true;
        } else if (o.file.empty()) {
            o.file = a;
        } else {
            return error = "more than one file given", false;
        }
    }
    if (o.file.empty()) return error = "no file given", false;
    return true;
}

int Sign(const Options &o) {
    if (o.cert.empty() || o.key.empty()) return Usage("sign needs --cert and --key");
    SignFile(o.file, Signer::FromPemFiles(o.cert, o.key), o.out);
    return 0;
}

int Verify(const Options &o) {
    TrustedRoots roots = o.roots.empty() ? TrustedRoots::BuiltIn() : TrustedRoots::FromPem(ReadText(o.roots));
    int fd = ::open(o.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + o.file + ": " + std::strerror(errno));
    std::string name;
    try {
        name = VerifyDescriptor(fd, roots);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    if (o.signerGiven && name != o.signer) {
        std::fprintf(stderr, "zolm-codesign: %s: signer is not trusted (signed by \"%s\")\n", o.file.c_str(),
                     name.c_str());
        return 1;
    }
    std::printf("%s\n", name.c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage("no command given");
    for (const auto &a : args)
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
    std::string command = args.front();
    args.erase(args.begin());
    Options options;
    std::string error;
    try {
        if (command == "sign") {
            if (!Parse(args, {"--cert", "--key", "--out"}, options, error)) return Usage(error);
            return Sign(options);
        }
        if (command == "verify") {
            if (!Parse(args, {"--roots", "--signer"}, options, error)) return Usage(error);
            return Verify(options);
        }
        return Usage("unknown command " + command);
    } catch (const SignatureError &e) {
        std::fprintf(stderr, "zolm-codesign: %s: %s\n", options.file.c_str(), e.what());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zolm-codesign: %s\n", e.what());
        return 1;
    }
}
