#include "platform/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

struct ScriptState {
    bool active = false;
    QList<MessageBox::Button> answers;
    QList<MessageBox::Shown> record;
};

ScriptState script;

QMessageBox::StandardButton standardOf(MessageBox::Button button) {
    switch (button) {
    case MessageBox::Button::Ok:
        return QMessageBox::Ok;
    case MessageBox::Button::Cancel:
        return QMessageBox::Cancel;
    case MessageBox::Button::Yes:
        return QMessageBox::Yes;
    case MessageBox::Button::No:
        return QMessageBox::No;
    }
    return QMessageBox::NoButton;
}

QString captionOf(MessageBox::Button button) {
    switch (button) {
    case MessageBox::Button::Ok:
        return QStringLiteral("OK");
    case MessageBox::Button::Cancel:
        return QStringLiteral("Annulla");
    case MessageBox::Button::Yes:
        return QStringLiteral("Sì");
    case MessageBox::Button::No:
        return QStringLiteral("No");
    }
    return {};
}

QMessageBox::Icon iconOf(MessageBox::Icon icon) {
    switch (icon) {
    case MessageBox::Icon::None:
        return QMessageBox::NoIcon;
    case MessageBox::Icon::Critical:
        return QMessageBox::Critical;
    case MessageBox::Icon::Question:
        return QMessageBox::Question;
    case MessageBox::Icon::Information:
        return QMessageBox::Information;
    case MessageBox::Icon::Exclamation:
        return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

MessageBox::Button defaultOf(const MessageBox::Request& request) {
    const QList<MessageBox::Button> buttons = MessageBox::ButtonsOf(request.buttons);
    return buttons.contains(request.defaultButton) ? request.defaultButton : buttons.first();
}

// Texts break lines at a carriage return, alone or before a line feed.
QString lines(const QString& text) {
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(u'\r', u'\n');
    return shown;
}

} // namespace

QList<MessageBox::Button> MessageBox::ButtonsOf(Buttons buttons) {
    switch (buttons) {
    case Buttons::Ok:
        return {Button::Ok};
    case Buttons::OkCancel:
        return {Button::Ok, Button::Cancel};
    case Buttons::YesNo:
        return {Button::Yes, Button::No};
    case Buttons::YesNoCancel:
        return {Button::Yes, Button::No, Button::Cancel};
    }
    return {Button::Ok};
}

MessageBox::Button MessageBox::EscapeAnswer(Buttons buttons) {
    switch (buttons) {
    case Buttons::Ok:
        return Button::Ok;
    case Buttons::YesNo:
        return Button::No;
    case Buttons::OkCancel:
    case Buttons::YesNoCancel:
        return Button::Cancel;
    }
    return Button::Ok;
}

std::unique_ptr<QMessageBox> MessageBox::Build(const Request& request, QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setTextFormat(Qt::PlainText);
    box->setIcon(iconOf(request.icon));
    box->setWindowTitle(request.title);
    box->setText(lines(request.text));
    const Button chosen = defaultOf(request);
    for (const Button button : ButtonsOf(request.buttons)) {
        QPushButton* shown = box->addButton(standardOf(button));
        shown->setText(captionOf(button));
        if (button == chosen)
            box->setDefaultButton(shown);
    }
    box->setEscapeButton(box->button(standardOf(EscapeAnswer(request.buttons))));
    return box;
}

MessageBox::Button MessageBox::Show(const Request& request, QWidget* parent) {
    if (script.active) {
        const Button answer = script.answers.isEmpty() ? defaultOf(request) : script.answers.takeFirst();
        script.record.append({request, answer});
        return answer;
    }
    const std::unique_ptr<QMessageBox> box = Build(request, parent);
    box->exec();
    const auto pressed = QMessageBox::StandardButton(box->standardButton(box->clickedButton()));
    for (const Button button : ButtonsOf(request.buttons)) {
        if (standardOf(button) == pressed)
            return button;
    }
    return EscapeAnswer(request.buttons);
}

QMessageBox* MessageBox::Open(const Request& request, QWidget* parent) {
    if (script.active) {
        script.record.append({request, defaultOf(request)});
        return nullptr;
    }
    QMessageBox* box = Build(request, parent).release();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    return box;
}

MessageBox::Button MessageBox::Show(const QString& text, Buttons buttons, Icon icon, Button defaultButton,
                                    const QString& title, QWidget* parent) {
    return Show(Request{text, buttons, icon, defaultButton, title}, parent);
}

void MessageBox::Script(const QList<Button>& answers) {
    script.active = true;
    script.answers.append(answers);
}

bool MessageBox::Scripted() {
    return script.active;
}

QList<MessageBox::Shown> MessageBox::Record() {
    return script.record;
}

qsizetype MessageBox::AnswersLeft() {
    return script.answers.size();
}

void MessageBox::Reset() {
    script = ScriptState();
}
