// zolm-csp: the user's view of the software CSP. Lists and shows key containers, creates and deletes
// them, installs a certificate with a container's key and imports certificates into the store "My".
// Exit status: 0 success, 1 a failed operation, 2 a wrong command line.
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/softcsp/csp.h"

using namespace softcsp;

namespace {

const char kHelp[] =
    "Usage: zolm-csp <command> [arguments]\n"
    "\n"
    "Administers the software CSP: key containers and the personal certificate store \"My\".\n"
    "Containers are named \"\\\\.\\REGISTRY\\<name>\" or just <name>.\n"
    "\n"
    "Commands:\n"
    "  list                               list the containers with their keys and certificates\n"
    "  show <container>                   show a container's keys and certificates\n"
    "  create <container> [--exchange] [--strong] [--paramset OID]\n"
    "                                     make a container with a new signature key (or key-exchange\n"
    "                                     key); the PIN is taken from ZOLM_CSP_PIN (empty if unset)\n"
    "  install-cert <container> <file> [--exchange]\n"
    "                                     keep a certificate (PEM or DER) with the container's key\n"
    "  import-my <file> [<container> [--exchange]]\n"
    "                                     add a certificate to \"My\", linked to the container's key\n"
    "  list-my                            list the certificates of \"My\"\n"
    "  delete <container>                 delete a container and its keys\n"
    "  --help                             show this text\n"
    "\n"
    "The CSP's folder is $ZOLM_CSP_DIR, else $XDG_DATA_HOME/zolm-csp, else ~/.local/share/zolm-csp.\n";

struct Failure {
    std::string text;
};

std::string CodeText(uint32_t code) {
    char buffer[64];
    const char *name = ErrorName(code);
    std::snprintf(buffer, sizeof buffer, "0x%08X%s%s%s", code, name ? " (" : "", name ? name : "", name ? ")" : "");
    return buffer;
}

void Check(uint32_t code, const std::string &what) {
    if (code != 0) throw Failure{what + " failed: " + CodeText(code)};
}

std::string FullPath(const std::string &container) {
    return container.rfind("\\\\.\\", 0) == 0 ? container : "\\\\.\\REGISTRY\\" + container;
}

// PEM ("-----BEGIN CERTIFICATE-----") or DER.
Bytes ReadCertificateFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure{"cannot read " + path};
    std::string text((std::istreambuf_iterator<char>(in)), {});
    if (text.find("-----BEGIN") == std::string::npos) return Bytes(text.begin(), text.end());
    BIO *bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    X509 *cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (cert == nullptr) throw Failure{path + " holds no PEM certificate"};
    unsigned char *der = nullptr;
    int length = i2d_X509(cert, &der);
    X509_free(cert);
    Bytes out(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    return out;
}

std::string Hex(const Bytes &bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text.push_back(kHex[b >> 4]);
        text.push_back(kHex[b & 15]);
    }
    return text;
}

std::string NameText(const Bytes &der) {
    DecodedName name;
    if (DecodeName(der, &name) != 0) return "(undecodable)";
    std::string text;
    for (const auto &rdn : name)
        for (const auto &attribute : rdn) {
            // Short names where OpenSSL knows the attribute (CN, C, SNILS...), else the OID.
            int nid = OBJ_txt2nid(attribute.oid.c_str());
            std::string type = nid == NID_undef ? attribute.oid : OBJ_nid2sn(nid);
            text += (text.empty() ? "" : ", ") + type + "=" + attribute.value;
        }
    return text;
}

std::string TimeText(uint64_t fileTime) {
    time_t seconds = static_cast<time_t>(fileTime / 10000000ULL) - 11644473600LL;
    char buffer[32];
    struct tm tm;
    gmtime_r(&seconds, &tm);
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return buffer;
}

class Tool {
public:
    Tool() : csp_(OpenSoftCsp()) {}

    void PrintCertificate(const Bytes &der, const char *indent) {
        CertificateFacts facts;
        if (ReadCertificateFacts(der, &facts) != 0) {
            std::printf("%scertificate: (undecodable)\n", indent);
            return;
        }
        Bytes sha1;
        ProvHandle verify = Verify();
        Check(csp_->Sha1(verify, der.data(), der.size(), &sha1), "SHA-1");
        std::printf("%ssubject:    %s\n", indent, NameText(facts.subject).c_str());
        std::printf("%sissuer:     %s\n", indent, NameText(facts.issuer).c_str());
        std::printf("%svalid:      %s to %s\n", indent, TimeText(facts.notBefore).c_str(),
                    TimeText(facts.notAfter).c_str());
        std::printf("%ssha1:       %s\n", indent, Hex(sha1).c_str());
    }

    void Show(const std::string &container) {
        ProvHandle h = 0;
        Check(csp_->AcquireContext(&h, FullPath(container).c_str(), nullptr, PROV_GOST_2012_512, 0),
              "opening " + FullPath(container));
        std::printf("%s\n", FullPath(container).c_str());
        for (uint32_t keySpec : {AT_SIGNATURE, AT_KEYEXCHANGE}) {
            if (csp_->HasKey(h, keySpec) != 0) continue;
            std::printf("  %s key\n", keySpec == AT_SIGNATURE ? "signature" : "key-exchange");
            Bytes spki;
            if (csp_->ExportPublicKeyInfo(h, keySpec, &spki) == 0) {
                const unsigned char *p = spki.data();
                EVP_PKEY *key = d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size()));
                if (key != nullptr) {
                    std::printf("    algorithm:  %s, %d bits\n", OBJ_nid2ln(EVP_PKEY_get_base_id(key)),
                                EVP_PKEY_get_bits(key));
                    EVP_PKEY_free(key);
                }
            }
            Bytes cert;
            if (csp_->GetKeyCertificate(h, keySpec, &cert) == 0)
                PrintCertificate(cert, "    ");
            else
                std::printf("    certificate: none\n");
        }
        csp_->ReleaseContext(h);
    }

    void List() {
        std::vector<std::string> containers;
        Check(csp_->EnumContainers(Verify(), &containers), "listing containers");
        if (containers.empty()) std::printf("no containers in %s\n", DefaultCspFolder().c_str());
        for (const auto &container : containers) Show(container);
    }

    void Create(const std::string &container, uint32_t keySpec, uint32_t type, const std::string &paramSet) {
        ProvHandle h = 0;
        Check(csp_->AcquireContext(&h, FullPath(container).c_str(), nullptr, type, CRYPT_NEWKEYSET),
              "creating " + FullPath(container));
        const char *pin = std::getenv("ZOLM_CSP_PIN");
        uint32_t code = paramSet.empty() ? 0 : csp_->SetSignatureParamSet(h, paramSet.c_str());
        if (code == 0) code = csp_->SetPin(h, pin == nullptr ? "" : pin);
        if (code == 0) code = csp_->GenerateKey(h, keySpec);
        csp_->ReleaseContext(h);
        if (code != 0) {
            csp_->AcquireContext(&h, FullPath(container).c_str(), nullptr, type, CRYPT_DELETEKEYSET);
            Check(code, "generating the key");
        }
        std::printf("created %s\n", FullPath(container).c_str());
    }

    void InstallCertificate(const std::string &container, const std::string &file, uint32_t keySpec) {
        Bytes cert = ReadCertificateFile(file);
        ProvHandle h = 0;
        Check(csp_->AcquireContext(&h, FullPath(container).c_str(), nullptr, PROV_GOST_2012_512, 0),
              "opening " + FullPath(container));
        uint32_t code = csp_->SetKeyCertificate(h, keySpec, cert);
        csp_->ReleaseContext(h);
        Check(code, "installing the certificate");
        std::printf("installed the certificate in %s\n", FullPath(container).c_str());
    }

    void ImportMy(const std::string &file, const std::string &container, uint32_t keySpec) {
        StoredCertificate entry{ReadCertificateFile(file), std::nullopt};
        if (!container.empty()) {
            ProvHandle h = 0;
            Check(csp_->AcquireContext(&h, FullPath(container).c_str(), nullptr, PROV_GOST_2012_512, 0),
                  "opening " + FullPath(container));
            uint32_t code = csp_->HasKey(h, keySpec);
            csp_->ReleaseContext(h);
            Check(code, "finding the key");
            entry.keyProv = KeyProvInfo{FullPath(container), kProvider2012Strong, PROV_GOST_2012_512, keySpec};
        }
        Check(csp_->AddToStore("My", entry), "importing into \"My\"");
        std::printf("imported into \"My\"%s\n",
                    container.empty() ? "" : (", linked to " + FullPath(container)).c_str());
    }

    void ListMy() {
        std::vector<StoredCertificate> certificates;
        Check(csp_->ListStore("My", &certificates), "reading \"My\"");
        if (certificates.empty()) std::printf("no certificates in \"My\"\n");
        for (const auto &entry : certificates) {
            std::printf("certificate\n");
            PrintCertificate(entry.der, "  ");
            std::printf("  key:        %s\n", entry.keyProv ? entry.keyProv->container.c_str() : "none");
        }
    }

    void Delete(const std::string &container) {
        ProvHandle h = 0;
        Check(csp_->AcquireContext(&h, FullPath(container).c_str(), nullptr, PROV_GOST_2012_512, CRYPT_DELETEKEYSET),
              "deleting " + FullPath(container));
        std::printf("deleted %s\n", FullPath(container).c_str());
    }

    ~Tool() {
        if (verify_ != 0) csp_->ReleaseContext(verify_);
    }

private:
    ProvHandle Verify() {
        if (verify_ == 0)
            Check(csp_->AcquireContext(&verify_, nullptr, nullptr, PROV_GOST_2012_512, CRYPT_VERIFYCONTEXT),
                  "opening the CSP");
        return verify_;
    }

    std::unique_ptr<Csp> csp_;
    ProvHandle verify_ = 0;
};

int Usage(const char *problem) {
    std::fprintf(stderr, "zolm-csp: %s\nTry 'zolm-csp --help'.\n", problem);
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    // Options anywhere after the command; the rest are positional.
    uint32_t keySpec = AT_SIGNATURE, type = PROV_GOST_2012_256;
    std::string paramSet;
    std::vector<std::string> positional;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--exchange") {
            keySpec = AT_KEYEXCHANGE;
        } else if (args[i] == "--strong") {
            type = PROV_GOST_2012_512;
        } else if (args[i] == "--paramset") {
            if (++i == args.size()) return Usage("--paramset needs an OID");
            paramSet = args[i];
        } else if (args[i].rfind("--", 0) == 0) {
            return Usage(("unknown option " + args[i]).c_str());
        } else {
            positional.push_back(args[i]);
        }
    }
    const std::string &command = args[0];
    struct Shape {
        const char *command;
        size_t least, most;
    } shapes[] = {{"list", 0, 0},      {"show", 1, 1},    {"create", 1, 1}, {"install-cert", 2, 2},
                  {"import-my", 1, 2}, {"list-my", 0, 0}, {"delete", 1, 1}};
    const Shape *shape = nullptr;
    for (const auto &s : shapes)
        if (command == s.command) shape = &s;
    if (shape == nullptr) return Usage(("unknown command " + command).c_str());
    if (positional.size() < shape->least || positional.size() > shape->most)
        return Usage(("wrong number of arguments for " + command).c_str());
    try {
        Tool tool;
        if (command == "list") tool.List();
        if (command == "show") tool.Show(positional[0]);
        if (command == "create") tool.Create(positional[0], keySpec, type, paramSet);
        if (command == "install-cert") tool.InstallCertificate(positional[0], positional[1], keySpec);
        if (command == "import-my") tool.ImportMy(positional[0], positional.size() > 1 ? positional[1] : "", keySpec);
        if (command == "list-my") tool.ListMy();
        if (command == "delete") tool.Delete(positional[0]);
    } catch (const Failure &failure) {
        std::fprintf(stderr, "zolm-csp: %s\n", failure.text.c_str());
        return 1;
    }
    return 0;
}
