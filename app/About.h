#pragma once

// The about box: the program's name and version, the image library's version, a picture and
// the product's web page.

#include <QString>

#include "dialogs/DlgEx.h"

class QLabel;
class QPushButton;

namespace lumivex {

class TFrmAbout : public TDialogFormEx {
public:
    /// An empty freeImageVersion says the library is not installed.
    TFrmAbout(QWidget* parent, const QString& version, const QString& freeImageVersion,
              const QString& webSite);

    QLabel* ImgPicture;
    QLabel* LblName;
    QLabel* LblVersion;
    QLabel* LblFreeImage;
    /// A link; activating it opens the page through the desktop services.
    QLabel* LblWeb;
    QPushButton* BtnOk;
};

}  // namespace lumivex
