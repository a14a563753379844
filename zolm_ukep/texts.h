// The library's own texts, in one place. UTF-8 is this platform's narrow encoding.
#pragma once

namespace ukep {

inline constexpr const char kInitAcquireFailed[] = "Ошибка вызова функции CryptAcquireContext 0x%08X";
inline constexpr const char kInitVersionFailed[] = "Ошибка вызова функции CryptGetProvParam 0x%08X";
inline constexpr const char kUnknownVersion[] = "Неизвестная версия КриптоПРО CSP: 0x%04X";
inline constexpr const char kPassAcquireFailed[] = "CryptAcquireContext error %08X";
inline constexpr const char kStoreOpenFailed[] = "CertOpenSystemStore error %08X";
inline constexpr const char kNameAllocation[] = "Ошибка при выделении памяти!";

inline constexpr const char kNoKey[] = "Отсутствует ключ ЭП (проверьте подключен ли токен)";
inline constexpr const char kBadKeyset[] = "Контейнер ключа ЭП не существует или пользователь отказался от подписи";
inline constexpr const char kNoKeyProperty[] = "У сертификата отсутствует ключ ЭП";
inline constexpr const char kCancelled[] = "Действие отменено пользователем";
inline constexpr const char kPrepareFailed[] = "Ошибка выработки ЭП на этапе подготовки 0x%08X";
inline constexpr const char kSignFailed[] = "Ошибка выработки ЭП 0x%08X";
inline constexpr const char kSignatureAllocation[] = "Ошибка выработки ЭП: ошибка выделения памяти";

// The provider every context of this library is acquired on.
inline constexpr const char kProviderName[] = "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider";
inline constexpr unsigned kProviderType = 75;
inline constexpr const char kStoreName[] = "My";

}  // namespace ukep
