// Shared set-up of the widget tests.
#include "starter/ui/tests/qt_test_support.h"

#include <cstdlib>

namespace zolm::starter::testing {

QApplication &TestApp() {
    static int argc = 1;
    static char name[] = "starter_ui_tests";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

ModalResult RunModal(TStarterForm &form, const std::function<void()> &action) {
    TestApp();
    QTimer::singleShot(0, &form, [&form, action] {
        action();
        // Safety net: a result the action did not produce ends as Cancel after a while.
        QTimer::singleShot(10000, &form, [&form] {
            if (form.isVisible()) form.close();
        });
    });
    return form.ShowModal();
}

}  // namespace zolm::starter::testing
