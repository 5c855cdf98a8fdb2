#pragma once

#include <QString>

class QLabel;
class QPushButton;
class QWidget;
class quadBar;
class vfdDisplay;

// The strip's controls as its layout gives them: places in twips and design-time settings.
namespace StripLayout {

QLabel* Label(QWidget* strip, const QString& name, const QString& caption, int left, int top, int width,
              int height, double pointSize);
// lblStatus, spoken as a status bar: each new status text is read out.
QLabel* StatusLine(QWidget* strip);
// One of the three small buttons, disabled until the lock timer; spoken by what it does, not by its
// one-letter caption.
QPushButton* Button(QWidget* strip, const QString& name, const QString& caption, const QString& spoken,
                    const QString& toolTip, int left);
quadBar* LevelBar(QWidget* strip, const QString& name, const QString& spoken, int left);
vfdDisplay* Graph(QWidget* strip, const QString& name, const QString& spoken, int left);

} // namespace StripLayout
