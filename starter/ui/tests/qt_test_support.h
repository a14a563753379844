// Widget tests on Qt's offscreen platform: one QApplication for the test program, and a way to act
// on a dialog while its modal loop runs.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "starter/ui/starter_form.h"

namespace zolm::starter::testing {

// The test program's application (offscreen), created on first use.
QApplication &TestApp();

// Shows form modally and runs action once the loop is running; returns the modal result. The
// dialog is closed with Cancel if action left it open, so a failing test never hangs.
ModalResult RunModal(TStarterForm &form, const std::function<void()> &action);

// Runs action as soon as a visible top-level window of class T is up (polled from the event loop).
template <class T>
void WhenShown(std::function<void(T &)> action) {
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *form = qobject_cast<T *>(widget); form != nullptr && form->isVisible()) {
                timer->stop();
                timer->deleteLater();
                action(*form);
                return;
            }
        }
    });
    timer->start();
}

// The child of form with that object name, or a test failure.
template <class T = QWidget>
T *Child(QWidget &form, const char *name) {
    return form.findChild<T *>(QString::fromLatin1(name));
}

}  // namespace zolm::starter::testing
