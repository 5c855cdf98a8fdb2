#pragma once

#include <QAccessible>
#include <QString>

class QWidget;

// What a screen reader is told of the program's own controls, beyond what Qt tells by itself.
namespace Accessibility {

// The control is announced with this role; a label keeps its text as its name, so that each new
// text raises a name change that a screen reader speaks.
void SetRole(QWidget& widget, QAccessible::Role role);
// A colour as red + 256 x green + 65536 x blue (or a system colour), as it is spoken.
QString ColourText(qint32 colour);

} // namespace Accessibility
