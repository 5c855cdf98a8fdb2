#include "tray/ShowInfo.h"

#include "tray/TrayState.h"
#include "tray/frmInfo.h"

#include <QFont>
#include <QLabel>

namespace Global {

void ShowInfo(const QString& text, float size) {
    frmInfo* strip = Tray::state.Info;
    if (strip == nullptr) {
        strip = new frmInfo();
        Tray::state.Info = strip;
        strip->Form_Load();
    }
    strip->lblInfo->setText(text);
    // A size of 0 or below has no font; the last one stays.
    if (size > 0) {
        QFont font = strip->lblInfo->font();
        font.setPointSizeF(size);
        strip->lblInfo->setFont(font);
    }
    strip->show();
}

} // namespace Global
