#include "platform/MessageBox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Button = MessageBox::Button;
using Buttons = MessageBox::Buttons;
using Icon = MessageBox::Icon;

// A desktop speaking another language: every text Qt translates comes out as "Ja?".
class EveryTextTranslated final : public QTranslator {
public:
    QString translate(const char*, const char*, const char*, int) const override { return "Ja?"; }
    bool isEmpty() const override { return false; }
};

const MessageBox::Request ExitQuestion{"Desideri chiudere Norvale?", Buttons::YesNo, Icon::Question,
                                       Button::No, " Uscire"};

// Shows the box for real, acts on it from inside its own event loop and returns the answer.
Button showAndThen(const MessageBox::Request& request, const std::function<void(QMessageBox&)>& act) {
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        act(*box);
    });
    // Should the box stay open, the test fails instead of waiting for ever. The watchdog ends with
    // this box, so that it never closes a later one.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ADD_FAILURE() << "the box stayed open";
            box->done(0);
        }
    });
    watchdog.start(5000);
    return MessageBox::Show(request);
}

} // namespace

// What the user reads: buttons, default, icon, title and text, whatever the desktop's language.
TEST(MessageBoxTest, BoxesSpeakItalianInPlainText) {
    const QString error = "Attenzione: c'è un errore",
                  marked = "Non puoi chiudere.\rSolo <b>amministratore</b>.";
    const struct {
        MessageBox::Request request;
        QString captions; // sorted
        QString defaultCaption;
        QMessageBox::Icon icon;
    } rows[] = {
        {ExitQuestion, "No Sì", "No", QMessageBox::Question},
        {{error, Buttons::Ok, Icon::Critical, Button::Ok, " Errore"}, "OK", "OK", QMessageBox::Critical},
        {{"", Buttons::YesNoCancel, Icon::Exclamation, Button::Cancel, ""},
         "Annulla No Sì",
         "Annulla",
         QMessageBox::Warning},
        // A default the box lacks falls back to its first button; markup stays plain text.
        {{marked, Buttons::OkCancel, Icon::None, Button::No, ""}, "Annulla OK", "OK", QMessageBox::NoIcon},
    };
    EveryTextTranslated translator;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request.text.toStdString());
        QCoreApplication::installTranslator(&translator);
        const auto box = MessageBox::Build(row.request);
        QCoreApplication::removeTranslator(&translator);
        QStringList captions;
        for (const QAbstractButton* button : box->buttons())
            captions.append(button->text());
        captions.sort();
        EXPECT_EQ(captions.join(u' '), row.captions);
        EXPECT_EQ(box->defaultButton()->text(), row.defaultCaption);
        EXPECT_EQ(box->icon(), row.icon);
        EXPECT_EQ(box->windowTitle(), row.request.title);
        EXPECT_EQ(box->text(), QString(row.request.text).replace(u'\r', u'\n')); // a CR breaks the line
        const auto label = box->findChild<QLabel*>("qt_msgbox_label");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
}

TEST(MessageBoxTest, ShownBoxReturnsTheButtonPressed) {
    const auto press = [](Qt::Key key) {
        return [key](QMessageBox& box) {
            QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
            QCoreApplication::sendEvent(&box, &event);
        };
    };
    // Enter presses the default button; Escape and the window's own close answer No, or Cancel.
    EXPECT_EQ(showAndThen(ExitQuestion, press(Qt::Key_Return)), Button::No);
    EXPECT_EQ(showAndThen(ExitQuestion, press(Qt::Key_Escape)), Button::No);
    EXPECT_EQ(showAndThen({"?", Buttons::YesNoCancel, Icon::Question, Button::Yes, QString()},
                          [](QMessageBox& box) { box.close(); }),
              Button::Cancel);
}
