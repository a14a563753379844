// The message table and its formatting.
#include "common/medium_messages.h"

#include <cstdarg>

#include "common/formatted_exception.h"

namespace zolm {
namespace {

const char *const kTable[2][kMediumMessageCount] = {
    {
        "ошибка при чтении файла %s",
        "ошибка при записи файла %s",
        "Файл %s уже существует в копии, заменить его ?",
        "ошибка при удалении файла %s",
        "ошибка при переименовании файла %s в %s",
        "ошибка при определении наличия файла %s",
        "ошибка при получении серийного номера ключевого носителя",
        "ошибка освобождения памяти",
        "ошибка при получении каталога ключевого носителя",
        "при получении слота ключевого носителя произошла ошибка",
        "при получении пароля ключевого носителя произошла ошибка",
        "при получении локального сертификата произошла ошибка",
    },
    {
        "error reading file %s",
        "error writing file %s",
        "The file %s already exist in a copy, replace it ?",
        "Error deleting file %s",
        "error renaming file %s to %s",
        "error testing the existance of the file %s",
        "error reading the serial number of the key media",
        "error releasing memory",
        "error reading the path of the key media",
        "error determining the slot number of the key media",
        "error getting the password of the key media",
        "error getting the local certificate",
    },
};

std::string FormatV(MediumMessage index, va_list args) {
    return FormatTextV(MediumMessageFormat(index, CurrentLanguage()), args);
}

}  // namespace

const char *MediumMessageFormat(MediumMessage index, Language language) noexcept {
    int row = language == kEnglish ? 1 : 0;
    int column = static_cast<int>(index);
    if (column < 0 || column >= kMediumMessageCount) return "";
    return kTable[row][column];
}

std::string MediumMessageText(MediumMessage index, ...) {
    va_list args;
    va_start(args, index);
    try {
        std::string text = FormatV(index, args);
        va_end(args);
        return text;
    } catch (...) {
        va_end(args);
        throw;
    }
}

void RaiseMediumMessage(MediumMessage index, ...) {
    va_list args;
    va_start(args, index);
    std::string text;
    try {
        text = FormatV(index, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    throw formatted_exception::FromText(std::move(text));
}

}  // namespace zolm
