// The plug-in's own texts, in one place. Russian texts are UTF-8, the platform's narrow encoding.
#pragma once

namespace cryptopro {

inline constexpr char kUnsupportedVersion[] = "unsupported CryptoPro CSP version: 0x%04X";
inline constexpr char kFunctionNotSupported[] = "Функция не поддерживается";
inline constexpr char kOperationNotSupported[] = "Операция не поддерживается";
inline constexpr char kBadPublicKeyAlgorithm[] = "Некорректный алгоритм открытого ключа";
inline constexpr char kPemOverflow[] = "PEM buffer overflow";
inline constexpr char kRequestAllocation[] = "malloc operation failed";
inline constexpr char kCertificateAllocation[] = "malloc error";
inline constexpr char kSignatureAllocation[] = "malloc failed";
// No pending key to activate: the active key stays as it is.
inline constexpr char kNothingToActivate[] = "no pending key to activate";
// A "cert.pem" whose Base64 decodes to something that is not a certificate.
inline constexpr char kNotACertificate[] = "cert.pem holds no certificate";

// The CryptoAPI failure format: the operation's name comes first.
inline constexpr char kCryptoApiFailure[] = "%s() failed, GetLastError=%u%s (%s:%d)";

}  // namespace cryptopro
