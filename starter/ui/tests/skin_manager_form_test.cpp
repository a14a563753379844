// The skin holder: "Opus (internal)" from creation, selection by name with the fallback for unknown
// names, switching off, and nothing left behind when it goes.
#include <gtest/gtest.h>

#include "starter/ui/skin_manager_form.h"
#include "starter/ui/tests/qt_test_support.h"

namespace zolm::starter {
namespace {

TEST(SkinHolder, BuiltInSkinSelectionFallbackAndSwitchingOff) {
    QApplication &app = testing::TestApp();
    const QString opus = BuiltInSkinStyleSheet(QStringLiteral("Opus (internal)"));
    ASSERT_FALSE(opus.isEmpty());
    {
        TSkinManagerForm holder;
        TSkinManager *manager = holder.sSkinManager1();
        EXPECT_EQ(manager->ActiveSkin().toStdString(), "Opus (internal)") << "the initial skin";
        EXPECT_EQ(app.styleSheet(), opus);

        holder.SelectSkin("Opus (internal)");
        EXPECT_EQ(manager->ActiveSkin().toStdString(), "Opus (internal)");

        holder.SelectSkin("Aero (internal)");
        EXPECT_EQ(manager->SkinName().toStdString(), "Aero (internal)");
        EXPECT_EQ(manager->ActiveSkin().toStdString(), "Opus (internal)") << "unknown name: fallback stays";
        EXPECT_EQ(app.styleSheet(), opus);

        holder.DisableSkinning();
        EXPECT_FALSE(manager->Active());
        EXPECT_TRUE(manager->ActiveSkin().isEmpty());
        EXPECT_TRUE(app.styleSheet().isEmpty());
        holder.SelectSkin("Opus (internal)");
        EXPECT_TRUE(app.styleSheet().isEmpty()) << "selecting a skin does not switch skinning back on";
    }
    {
        TSkinManagerForm holder;
        EXPECT_EQ(app.styleSheet(), opus);
    }
    EXPECT_TRUE(app.styleSheet().isEmpty()) << "the look ends with the holder";
    EXPECT_TRUE(BuiltInSkinStyleSheet(QStringLiteral("Opus")).isEmpty());
}

}  // namespace
}  // namespace zolm::starter
