// The skin holder: "Opus (internal)" from creation, selection by name with the fallback for unknown
// names, switching off, and nothing left behind when it goes.
#include "starter/ui/skin_manager_form.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>

#include "starter/ui/message_forms.h"
#include "starter/ui/proxy_forms.h"
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

// Under the skin every label, edit box and radio button keeps Verdana 15 px in dark grey, also
// inside group boxes (disabled ones are greyed), and the password stays masked with "*".
TEST(SkinHolder, DialogsKeepTheirCommonLookUnderTheSkin) {
    testing::TestApp();
    TSkinManagerForm holder;
    SettingsAccess settings{[](std::string_view) { return std::string("1"); },
                            [](std::string_view, std::string_view) {}};
    TProxyPasswordForm password(settings);
    TProxySettingsForm proxy(settings);
    TConfirmationForm question("?");
    for (QWidget *form : std::initializer_list<QWidget *>{&password, &proxy, &question}) {
        form->show();
        for (QWidget *widget : form->findChildren<QWidget *>()) {
            if (!qobject_cast<QLabel *>(widget) && !qobject_cast<QLineEdit *>(widget) &&
                !qobject_cast<QRadioButton *>(widget)) {
                continue;
            }
            const std::string name = widget->objectName().toStdString();
            EXPECT_EQ(widget->font().pixelSize(), 15) << name;
            EXPECT_EQ(widget->font().family().toStdString(), "Verdana") << name;
            if (widget->isEnabled()) {
                EXPECT_EQ(widget->palette().color(QPalette::WindowText), QColor(0x41, 0x41, 0x41)) << name;
            }
        }
        form->hide();
    }
    auto *edit = password.findChild<QLineEdit *>(QStringLiteral("edtPassword"));
    EXPECT_EQ(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit), '*');
}

}  // namespace
}  // namespace zolm::starter
