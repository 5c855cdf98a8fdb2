#include "dialogs/PressCheckBox.h"

void PressCheckBox::mousePressEvent(QMouseEvent* event) {
    emit MouseDown();
    QCheckBox::mousePressEvent(event);
}

// The box changes state on the release: the release is reported once that change has been handled.
void PressCheckBox::mouseReleaseEvent(QMouseEvent* event) {
    QCheckBox::mouseReleaseEvent(event);
    emit MouseUp();
}
