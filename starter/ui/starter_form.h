// The common ground of every dialog of the starter: fixed dialog border with only the system menu
// and close button, centred, Verdana 15 px with dark grey (0x41) labels and edits, a 48x48 picture at
// the top left, brought to the front when it opens, and the modal loop with the results of
// ModalResult. Widgets are placed at fixed positions, as the forms were designed.
#pragma once

#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <exception>
#include <vector>

#include "starter/dialogs/user_interface.h"
#include "starter/ui/dialog_icons.h"

namespace zolm::starter {

class TStarterForm : public QDialog {
    Q_OBJECT
public:
    // clientSize: the design client size; icon: the picture at the top left.
    TStarterForm(QSize clientSize, DialogIcon icon);

    // Shows the dialog modally and returns its result. Closing by the window's close button gives
    // Cancel; Escape clicks the cancel button (Cancel when there is none); Enter the default button.
    // An error raised by a button's handler ends the loop and is raised again here.
    ModalResult ShowModal();
    // The result of the last ShowModal (None while it runs).
    ModalResult Result() const { return result_; }

    QPushButton *DefaultButton() const { return defaultButton_; }
    QPushButton *CancelButton() const { return cancelButton_; }

protected:
    // A push button that ends the modal loop with result (None: it only runs its own handler).
    QPushButton *AddButton(const char *name, const char *text, ModalResult result, QRect geometry);
    void SetDefaultButton(QPushButton *button);
    void SetCancelButton(QPushButton *button) { cancelButton_ = button; }
    QLabel *AddLabel(QWidget *parent, const char *name, const QString &text, QPoint position);
    // Gives a widget inside a group box the form's font and colours (a skinned group box does not
    // pass them on by itself).
    void UseFormLook(QWidget *widget) const;

    // Message label sizing. PrepareMessageLabel gives the label its width and the design height of
    // designText (its text in the form's design). SizeMessageLabel then sets the text: the label
    // takes the height the text needs with word wrap and the form changes its height by the label's
    // change; widgets registered with MoveWithLabel move by that much, those registered with
    // StretchWithLabel grow by it, so the buttons keep their distance from the text.
    void PrepareMessageLabel(QLabel *label, int width, const QString &designText);
    void SizeMessageLabel(QLabel *label, const QString &text);
    void MoveWithLabel(QWidget *widget) { moving_.push_back(widget); }
    void StretchWithLabel(QWidget *widget) { stretching_.push_back(widget); }

    // Ends the modal loop.
    void Finish(ModalResult result);
    // Ends the modal loop with Cancel; ShowModal raises error afterwards.
    void FinishWithError(std::exception_ptr error);

    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void reject() override;

private:
    void CentreOnScreen();

    QPushButton *defaultButton_ = nullptr;
    QPushButton *cancelButton_ = nullptr;
    std::vector<QWidget *> moving_;
    std::vector<QWidget *> stretching_;
    QEventLoop *loop_ = nullptr;
    ModalResult result_ = ModalResult::None;
    std::exception_ptr error_;
};

// Text of the system (UTF-8) as a QString, CR LF line breaks as line feeds.
QString ToQString(const std::string &text);

}  // namespace zolm::starter
