// authenticode: the check of a program's code signature and the signed start, which executes
// exactly the bytes it verified (the file stays open from the check to the exec and is executed
// from that descriptor, so exchanging the file in between changes nothing).
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/codesign/code_signature.h"
#include "platform/named_objects.h"
#include "starter/process_start.h"

namespace zolm::starter {

// The publisher every program the starter starts must be signed by.
inline constexpr char kRequiredSigner[] = "Quillmoor LLC";

// Opens the file for reading and checks its signature from the open descriptor. Returns the
// descriptor, or an invalid one (errno set) when the file does not open. Raises StarterError with
// "Вызов WinVerifyTrust вернул ошибку %d: %s" when the signature is missing or not acceptable, and
// "signer is not trusted" when signer is not empty and differs from the signer's name.
platform::UniqueFd VerifyFileSignature(
    const std::string &path, const std::string &signer,
    const platform::codesign::TrustedRoots &roots = platform::codesign::TrustedRoots::BuiltIn());

// Verifies the program at path, then starts it from the verified descriptor, which is closed
// afterwards. Returns the child's id, or -1 with errno set when the file did not open or the start
// failed; a refused signature raises as VerifyFileSignature.
pid_t SignedStart(const std::string &path, const ProcessRequest &request, const std::string &signer,
                  const platform::codesign::TrustedRoots &roots = platform::codesign::TrustedRoots::BuiltIn());

// A program checked once and started many times (the patch tool, once per entry). Its bytes are
// copied into a sealed memory file and verified there: a sealed file cannot change, so every start
// runs exactly the verified bytes without reading and checking the file again. Where the system
// offers no sealed memory files, each start checks the file anew, as SignedStart does.
class VerifiedProgram {
public:
    // Opens and checks the program; raises as VerifyFileSignature. When the file does not open the
    // program is not Valid() and errno tells why.
    VerifiedProgram(const std::string &path, const std::string &signer,
                    const platform::codesign::TrustedRoots &roots = platform::codesign::TrustedRoots::BuiltIn());

    bool Valid() const { return sealed_.Valid() || opened_; }

    // The child's id, or -1 with errno set when the start failed.
    pid_t Start(const ProcessRequest &request) const;

private:
    platform::UniqueFd sealed_;
    bool opened_ = false;
    std::string path_;
    std::string signer_;
    const platform::codesign::TrustedRoots *roots_;
};

}  // namespace zolm::starter
