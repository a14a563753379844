// Toolkit, user interface and skin holder for the start-up sequence.
#include "starter/ui/dialogs_stage.h"

#include <QApplication>

#include "starter/dialogs/message_dialogs.h"
#include "starter/ui/qt_user_interface.h"
#include "starter/ui/skin_manager_form.h"

namespace zolm::starter {
namespace {

// Without a display there is no look to choose.
class NoSkin : public SkinHolder {
public:
    void DisableSkinning() override {}
    void SelectSkin(const std::string &) override {}
};

}  // namespace

QtDialogsStage::QtDialogsStage(SettingsAccess settings, SplashControl &splash)
    : settings_(std::move(settings)), splash_(splash) {}

QtDialogsStage::~QtDialogsStage() {
    if (ui_) InstallDialogs(nullptr, nullptr);
}

void QtDialogsStage::InitializeToolkit() {
    InitializeDialogToolkit();
    ui_ = MakeUserInterface(settings_);
    InstallDialogs(ui_.get(), &splash_);
}

std::unique_ptr<SkinHolder> QtDialogsStage::CreateSkinHolder() {
    if (qApp == nullptr) return std::make_unique<NoSkin>();
    return std::make_unique<TSkinManagerForm>();
}

}  // namespace zolm::starter
