// AskConfirmation, ShowError, ShowInformation: the three message dialogs with the splash stepping
// aside before each and coming back (or being dismissed) after it.
#pragma once

#include <string>

#include "starter/dialogs/splash_control.h"
#include "starter/dialogs/user_interface.h"

namespace zolm::starter {

// The user interface and splash control of the run; both must outlive their use. The process-wide
// forms below use them; until InstallDialogs is called they raise std::logic_error.
void InstallDialogs(UserInterface *ui, SplashControl *splash);

// The question dialog. Yes brings the splash back; No and Cancel dismiss it for the rest of the run.
ModalResult AskConfirmation(UserInterface &ui, SplashControl &splash, const std::string &question);
ModalResult AskConfirmation(const std::string &question);

// The error dialog. final: the splash is dismissed afterwards, else shown again; either way also when
// the dialog itself failed (its error then goes on).
void ShowError(UserInterface &ui, SplashControl &splash, const std::string &message, bool final);
void ShowError(const std::string &message, bool final);

// The information dialog; the splash comes back in all cases.
void ShowInformation(UserInterface &ui, SplashControl &splash, const std::string &caption, const std::string &message);
void ShowInformation(const std::string &caption, const std::string &message);

}  // namespace zolm::starter
