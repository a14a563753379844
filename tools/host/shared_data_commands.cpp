// The commands that create and remove the shared data block through which hosts choose the language
// of the plug-ins' messages.
#include <iostream>
#include <system_error>

#include "common/shared_data.h"
#include "tools/host/commands.h"
#include "tools/host/shared_data_block.h"

namespace zolm::host {
namespace {

// "ru"/"russian"/"0" → 0, "en"/"english"/"1" → 1; any other number 0..255 is written as it is.
uint8_t ParseLanguage(const std::string &text) {
    if (text == "ru" || text == "russian") return 0;
    if (text == "en" || text == "english") return 1;
    if (!text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos) {
        int value = std::stoi(text);
        if (value <= 255) return static_cast<uint8_t>(value);
    }
    throw UsageError("--language takes ru, en or a number 0..255, not \"" + text + "\"");
}

int CreateBlock(const CommandLine &line) {
    uint8_t language = ParseLanguage(line.Required("language"));
    std::string name = SharedDataName();
    try {
        SharedDataBlock::Create(name, language);
    } catch (const std::system_error &e) {
        std::cerr << "error: " << e.what() << "\n";
        return kExitErrorText;
    }
    const char *meaning = language == 1 ? "English" : language == 0 ? "Russian" : "read as Russian";
    std::cout << "shared data block " << name << ": version " << kSharedDataVersion << ", language " << int(language)
              << " (" << meaning << ")\n";
    return kExitOk;
}

int RemoveBlock(const CommandLine &) {
    std::string name = SharedDataName();
    if (SharedDataBlock::Remove(name))
        std::cout << "removed the shared data block " << name << "\n";
    else
        std::cout << "there was no shared data block " << name << "\n";
    return kExitOk;
}

const CommandRegistration kSharedDataCommands(
    {
        {"shared-data", "--language ru|en|N",
         "Creates the shared data block (version 6) or sets its language; it stays until removed.", &CreateBlock},
        {"shared-data-remove", "", "Removes the shared data block.", &RemoveBlock},
    },
    {
        {"language", "ru|en|N", "shared-data: the language byte (0 Russian, 1 English)"},
    });

}  // namespace
}  // namespace zolm::host
