// The 48x48 pictures of the dialogs, painted in code so the starter carries no image files.
#pragma once

#include <QPixmap>

namespace zolm::starter {

enum class DialogIcon { Question, Error, Information, Globe, Padlock };

QPixmap DialogPicture(DialogIcon icon);

}  // namespace zolm::starter
