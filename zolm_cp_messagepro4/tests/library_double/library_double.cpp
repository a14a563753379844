// A recording double of libmespro.so: every call is logged with its arguments, and any function can
// be scripted to return a failure code. Built as libmespro.so in a folder of its own, next to a copy
// of the plug-in, whose $ORIGIN run path then binds the plug-in to the double.
#include "zolm_cp_messagepro4/tests/library_double/library_double.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/mespro/mespro.h"

namespace {

struct Double {
    std::vector<std::string> log;
    std::map<std::string, int32_t> codes;
    int32_t lastError = 0;
    std::string keyFileForPassword;
    MesproKeyPressFn keyPress = nullptr;
    MesproPasswordFn newPassword = nullptr;
    MesproPasswordFn keyPassword = nullptr;
    std::string joined;
};

Double &D() {
    static Double d;
    return d;
}

std::string Arg(const char *text) { return text == nullptr ? "null" : "\"" + std::string(text) + "\""; }
std::string Arg(int32_t value) { return std::to_string(value); }
std::string Arg(const void *pointer) { return pointer == nullptr ? "null" : "ptr"; }

template <typename... Args>
int32_t Call(const char *name, Args... args) {
    std::string list;
    ((list += (list.empty() ? "" : ", ") + Arg(args)), ...);
    D().log.push_back(std::string(name) + "(" + list + ")");
    auto it = D().codes.find(name);
    int32_t code = it == D().codes.end() ? 0 : it->second;
    D().lastError = code;
    return code;
}

char g_context;  // the one sign context the double hands out

}  // namespace

extern "C" {

void MesproDouble_Reset(void) {
    Double &d = D();
    d.log.clear();
    d.codes.clear();
    d.lastError = 0;
    d.keyFileForPassword.clear();
}

void MesproDouble_Fail(const char *function, int32_t code) { D().codes[function] = code; }

const char *MesproDouble_Log(void) {
    Double &d = D();
    d.joined.clear();
    for (const std::string &line : d.log) d.joined += line + "\n";
    return d.joined.c_str();
}

int32_t MesproDouble_KeyPress(int32_t wanted, uint32_t value) {
    return D().keyPress != nullptr ? D().keyPress(wanted, value, 7, 9) : -2;
}

int32_t MesproDouble_AskPassword(int32_t newKey, const char *keyFile, char *buffer, int32_t size) {
    D().keyFileForPassword = keyFile != nullptr ? keyFile : "";
    MesproPasswordFn callback = newKey != 0 ? D().newPassword : D().keyPassword;
    return callback != nullptr ? callback(buffer, size) : -2;
}

int32_t PKCS7Init(const char *directory, int32_t flags) { return Call("PKCS7Init", directory, flags); }
int32_t PKCS7Final(void) { return Call("PKCS7Final"); }
int32_t GetMessageProLastError(void) { return D().lastError; }

int32_t VerifyDevelopersSign(const char *libraryPath, const void *signature, int32_t length) {
    return Call("VerifyDevelopersSign", libraryPath, signature, length) == 0 ? 1 : 0;
}

int32_t SetRandInitCallbackFun(MesproKeyPressFn callback) {
    D().keyPress = callback;
    return Call("SetRandInitCallbackFun", reinterpret_cast<const void *>(callback));
}
int32_t SetKeysNewPasswordCallbackFun(MesproPasswordFn callback) {
    D().newPassword = callback;
    return Call("SetKeysNewPasswordCallbackFun", reinterpret_cast<const void *>(callback));
}
int32_t SetKeysPasswordCallbackFun(MesproPasswordFn callback) {
    D().keyPassword = callback;
    return Call("SetKeysPasswordCallbackFun", reinterpret_cast<const void *>(callback));
}
const char *GetKeyFileNameForPassword(void) { return D().keyFileForPassword.c_str(); }

int32_t PSE_Generation(const char *directory, int32_t a, int32_t b, int32_t c) {
    return Call("PSE_Generation", directory, a, b, c);
}
int32_t PSE_Copy(const char *source, int32_t a, const char *target, int32_t b) {
    return Call("PSE_Copy", source, a, target, b);
}
int32_t SetNewKeysAlgorithm(const char *name) { return Call("SetNewKeysAlgorithm", name); }
int32_t NewKeysGenerationEx(const char *directory, int32_t a, const char *keyFile, const char *requestFile, int32_t b) {
    return Call("NewKeysGenerationEx", directory, a, keyFile, requestFile, b);
}
int32_t AddPSEPrivateKeyEx(const char *directory, int32_t a, const char *keyFile, const char *password) {
    return Call("AddPSEPrivateKeyEx", directory, a, keyFile, password);
}
int32_t ChangePrivateKeyPasswordEx(const char *directory, int32_t a, const char *keyFile, const char *current,
                                   const char *next) {
    return Call("ChangePrivateKeyPasswordEx", directory, a, keyFile, current, next);
}
int32_t SetInputCodePage(int32_t page) { return Call("SetInputCodePage", page); }
int32_t SetOutputCodePage(int32_t page) { return Call("SetOutputCodePage", page); }
int32_t ResetDistinguishedName(void) { return Call("ResetDistinguishedName"); }
int32_t ResetExtensions(void) { return Call("ResetExtensions"); }
int32_t SetCertificateRequestFlags(int32_t flags) { return Call("SetCertificateRequestFlags", flags); }
int32_t SetDistinguishedNameAttribute(const char *attribute, const char *value) {
    return Call("SetDistinguishedNameAttribute", attribute, value);
}
int32_t SetKeyUsage(int32_t flags, int32_t critical) { return Call("SetKeyUsage", flags, critical); }
int32_t AddExtendedKeyUsage(const char *oid, int32_t critical) { return Call("AddExtendedKeyUsage", oid, critical); }
int32_t AddCertificatePolicy(const char *oid, int32_t critical) { return Call("AddCertificatePolicy", oid, critical); }
int32_t SetBasicConstraints(int32_t ca, int32_t critical) { return Call("SetBasicConstraints", ca, critical); }
int32_t SetSubjectSignTool(void) { return Call("SetSubjectSignTool"); }
int32_t MakePSECertificateRequest(const char *requestFile, const char *directory, const char *keyFile, int32_t a,
                                  int32_t b) {
    return Call("MakePSECertificateRequest", requestFile, directory, keyFile, a, b);
}
int32_t MakePSECertificateRequestEx(const char *requestFile, const char *directory, const char *keyFile, int32_t a,
                                    int32_t b, int32_t mode, const char *serial, int32_t c) {
    return Call("MakePSECertificateRequestEx", requestFile, directory, keyFile, a, b, mode, serial, c);
}
int32_t AddCAs(const char *location) { return Call("AddCAs", location); }
int32_t AddCertificateFromBuffer(const void *data, int32_t length) {
    return Call("AddCertificateFromBuffer", data, length);
}
char *GetCertificateSerialBuffer(const void *data, int32_t length) {
    Call("GetCertificateSerialBuffer", data, length);
    return strdup("0A1B");
}
void FreeBuffer(void *block) {
    Call("FreeBuffer", static_cast<const void *>(block));
    std::free(block);
}
void *GetSignCTX(void) { return Call("GetSignCTX") == 0 ? &g_context : nullptr; }
int32_t FreeSignCTX(void *context) { return Call("FreeSignCTX", static_cast<const void *>(context)); }
int32_t AddSigner(void *context, int32_t mode, const char *signer, int32_t a) {
    return Call("AddSigner", static_cast<const void *>(context), mode, signer, a);
}
int32_t InsertCertificateToSign(int32_t insert) { return Call("InsertCertificateToSign", insert); }
int32_t InsertSigningTimeToSign(int32_t insert) { return Call("InsertSigningTimeToSign", insert); }
int32_t SignBufferEx(void *context, const void *data, int32_t length, void **output, int32_t *outputLength,
                     int32_t attached) {
    int32_t code = Call("SignBufferEx", static_cast<const void *>(context), data, length, attached);
    if (code == 0) {
        *output = strdup("SIGNATURE");
        *outputLength = 9;
    }
    return code;
}

}  // extern "C"
