#pragma once

#include <QList>
#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

// The one way the program shows a message box. The interface speaks Italian, so the buttons read
// "Sì", "No", "OK" and "Annulla" whatever the desktop's language, and texts show as plain text.
// Tests answer in advance: while a script runs nothing is shown, the scripted answers are handed
// out in order and every box that would have been shown is recorded.
class MessageBox final {
public:
    enum class Icon { None, Critical, Question, Information, Exclamation };
    enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
    enum class Button { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

    struct Request {
        QString text;
        Buttons buttons = Buttons::Ok;
        Icon icon = Icon::None;
        // A button the box does not have leaves the first one as the default.
        Button defaultButton = Button::Ok;
        QString title;
        bool operator==(const Request&) const = default;
    };

    struct Shown {
        Request request;
        Button answer = Button::Ok;
        bool operator==(const Shown&) const = default;
    };

    // Shows the box, modal to parent when one is given, and returns the button pressed; closing
    // the box counts as Cancel, or No where there is no Cancel, or OK in a box with OK alone.
    static Button Show(const Request& request, QWidget* parent = nullptr);
    static Button Show(const QString& text, Buttons buttons, Icon icon, Button defaultButton,
                       const QString& title, QWidget* parent = nullptr);

    // Shows the box without waiting for an answer; it goes when it is closed, by the user or by the
    // program. Scripted: recorded with its default answer, and nothing is returned.
    static QMessageBox* Open(const Request& request, QWidget* parent = nullptr);

    // The dialog Show would run, not yet shown.
    static std::unique_ptr<QMessageBox> Build(const Request& request, QWidget* parent = nullptr);
    // The buttons of a box, in order, and what closing it answers.
    static QList<Button> ButtonsOf(Buttons buttons);
    static Button EscapeAnswer(Buttons buttons);

    // From here on nothing is shown: each box takes the next scripted answer, or its default
    // button when the script has run out.
    static void Script(const QList<Button>& answers = {});
    static bool Scripted();
    static QList<Shown> Record();
    static qsizetype AnswersLeft();
    // Back to real dialogs, with no answers and no record.
    static void Reset();

private:
    MessageBox() = delete;
};
