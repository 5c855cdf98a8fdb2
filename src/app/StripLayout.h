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
// One of the three small buttons, disabled until the lock timer.
QPushButton* Button(QWidget* strip, const QString& name, const QString& caption, const QString& toolTip, int left);
quadBar* LevelBar(QWidget* strip, const QString& name, int left);
vfdDisplay* Graph(QWidget* strip, const QString& name, int left);

} // namespace StripLayout
