// The current language from the shared data block: looked for while absent or of another version,
// and followed without re-opening once a view is held.
#include "common/shared_data.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "common/medium_messages.h"
#include "testing/shared_data_fixture.h"

namespace {

using zolm::CurrentLanguage;
using zolm::host::SharedDataBlock;

class SharedData : public ::testing::Test {
protected:
    zolm::testing::PrivateSharedDataName name;
};

TEST_F(SharedData, MissingBlockMeansRussianAndIsLookedForAgain) {
    EXPECT_EQ(CurrentLanguage(), zolm::kRussian);
    EXPECT_EQ(zolm::MediumMessageText(zolm::MediumMessage::kReadFile, "cert.pem"), "ошибка при чтении файла cert.pem");
    auto block = SharedDataBlock::Create(name.Name(), 1);
    EXPECT_EQ(CurrentLanguage(), zolm::kEnglish);
    EXPECT_EQ(zolm::MediumMessageText(zolm::MediumMessage::kReadFile, "cert.pem"), "error reading file cert.pem");
}

TEST_F(SharedData, HeldViewFollowsTheLanguageByteWithoutReopening) {
    auto block = SharedDataBlock::Create(name.Name(), 1);
    EXPECT_EQ(CurrentLanguage(), zolm::kEnglish);
    // With the name gone, only a view already held can still see the block.
    SharedDataBlock::Remove(name.Name());
    block.SetLanguage(0);
    EXPECT_EQ(CurrentLanguage(), zolm::kRussian);
    block.SetLanguage(1);
    EXPECT_EQ(CurrentLanguage(), zolm::kEnglish);
}

TEST_F(SharedData, OtherVersionIsDroppedThenFoundOnceItIsSix) {
    auto block = SharedDataBlock::Create(name.Name(), 1);
    block.SetVersion(5);
    EXPECT_EQ(CurrentLanguage(), zolm::kRussian);
    EXPECT_EQ(CurrentLanguage(), zolm::kRussian);
    block.SetVersion(6);
    EXPECT_EQ(CurrentLanguage(), zolm::kEnglish);
    // Held now: a later version change does not matter any more.
    block.SetVersion(5);
    EXPECT_EQ(CurrentLanguage(), zolm::kEnglish);
}

TEST_F(SharedData, LanguageValuesAboveOneMeanRussian) {
    auto block = SharedDataBlock::Create(name.Name(), 2);
    EXPECT_EQ(CurrentLanguage(), zolm::kRussian);
    block.SetLanguage(255);
    EXPECT_EQ(CurrentLanguage(), zolm::kRussian);
    block.SetLanguage(1);
    EXPECT_EQ(CurrentLanguage(), zolm::kEnglish);
}

TEST_F(SharedData, BlockTooSmallForTheLanguageByteMeansRussian) {
    for (off_t size : {0, 4, 5}) {
        int fd = shm_open(name.Name().c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, size), 0);
        if (size >= 4) {
            const uint8_t six[4] = {6, 0, 0, 0};
            ASSERT_EQ(pwrite(fd, six, 4, 0), 4);
        }
        close(fd);
        EXPECT_EQ(CurrentLanguage(), zolm::kRussian) << size;
    }
}

TEST_F(SharedData, NameComesFromTheEnvironment) {
    EXPECT_EQ(zolm::SharedDataName(), name.Name());
    setenv("ZOLM_SHARED_DATA_NAME", "private_block", 1);
    EXPECT_EQ(zolm::SharedDataName(), "/private_block");
    unsetenv("ZOLM_SHARED_DATA_NAME");
    EXPECT_EQ(zolm::SharedDataName(), "/zolm_shared_data");
}

TEST(MediumMessages, TableHasTwelveTextsPerLanguage) {
    struct Case {
        zolm::MediumMessage index;
        const char *russian;
        const char *english;
    } cases[] = {
        {zolm::MediumMessage::kSlotNumber, "при получении слота ключевого носителя произошла ошибка",
         "error determining the slot number of the key media"},
        {zolm::MediumMessage::kMediumPassword, "при получении пароля ключевого носителя произошла ошибка",
         "error getting the password of the key media"},
        {zolm::MediumMessage::kLocalCertificate, "при получении локального сертификата произошла ошибка",
         "error getting the local certificate"},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(zolm::MediumMessageFormat(c.index, zolm::kRussian), c.russian);
        EXPECT_STREQ(zolm::MediumMessageFormat(c.index, zolm::kEnglish), c.english);
    }
}

}  // namespace
