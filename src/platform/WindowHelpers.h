#pragma once

#include <QFont>
#include <Qt>

class QLabel;
class QWidget;

// Window helpers shared by every window of the program.
namespace Subs {

// Sets and clears flags of a top-level window without hiding, re-creating, moving or resizing it.
// A window that exists on the screen is changed in place (QWidget itself would hide and re-create
// it); QWidget::windowFlags() is kept in step. False, and nothing changed, for a child widget.
bool ChangeWindowFlags(QWidget& window, Qt::WindowFlags set, Qt::WindowFlags clear);

// Keeps the window above others, or lets it go back among them; true when the window took it.
bool SetTopMost(QWidget& window, bool on);

// Places the window's outer frame in the middle of its whole screen (not the work area), halves
// computed in twips.
void CentreWindow(QWidget& window);

// Takes the close button off the window's frame: the window is left through its own buttons.
void RemoveCloseItem(QWidget& window);

// "Small Fonts" and "MS Sans Serif" have no counterpart on Linux: a sans-serif stands in, in its
// narrow cut where captions must fit the widths the layout gives them.
QFont InterfaceFont(double pointSize, bool condensed = false);

// The title's second element: a copy of the label in red, 20 twips right of and below it, in front.
QLabel* RedTitleCopy(QLabel& title);

} // namespace Subs
