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

QStringList captions(const QMessageBox& box) {
    QStringList texts;
    for (const QAbstractButton* button : box.buttons())
        texts.append(button->text());
    texts.sort();
    return texts;
}

const MessageBox::Request ExitQuestion{"Desideri chiudere Norvale?", Buttons::YesNo, Icon::Question,
                                       Button::No, " Uscire"};

class MessageBoxTest : public ::testing::Test {
protected:
    void TearDown() override { MessageBox::Reset(); }

    // Shows the box for real and acts on it from inside its own event loop.
    Button showAndThen(const MessageBox::Request& request, const std::function<void(QMessageBox&)>& act) {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            act(*box);
        });
        // Should the box stay open, the test fails instead of waiting for ever.
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
};

} // namespace

TEST_F(MessageBoxTest, BoxesSpeakItalianWhateverTheDesktopLanguage) {
    EveryTextTranslated translator;
    QCoreApplication::installTranslator(&translator);
    const auto question = MessageBox::Build(ExitQuestion);
    const auto error = MessageBox::Build({"Attenzione: c'è un errore nella lettura del file rasphone.pbk",
                                          Buttons::Ok, Icon::Critical, Button::Ok, " Errore"});
    const auto all =
        MessageBox::Build({QString(), Buttons::YesNoCancel, Icon::Exclamation, Button::Cancel, QString()});
    QCoreApplication::removeTranslator(&translator);

    EXPECT_EQ(captions(*question), (QStringList{"No", "Sì"}));
    EXPECT_EQ(question->defaultButton()->text(), "No");
    EXPECT_EQ(question->escapeButton()->text(), "No");
    EXPECT_EQ(question->icon(), QMessageBox::Question);
    EXPECT_EQ(question->windowTitle(), " Uscire");
    EXPECT_EQ(question->text(), "Desideri chiudere Norvale?");

    EXPECT_EQ(captions(*error), QStringList{"OK"});
    EXPECT_EQ(error->icon(), QMessageBox::Critical);
    EXPECT_EQ(error->windowTitle(), " Errore");

    EXPECT_EQ(captions(*all), (QStringList{"Annulla", "No", "Sì"}));
    EXPECT_EQ(all->defaultButton()->text(), "Annulla");
    EXPECT_EQ(all->icon(), QMessageBox::Warning);
}

TEST_F(MessageBoxTest, TextsShowAsPlainLinesAndAStrangeDefaultFallsBackToTheFirstButton) {
    const auto box = MessageBox::Build({"Non puoi chiudere Norvale.\rSolo <b>amministratore</b>.",
                                        Buttons::Ok, Icon::None, Button::No, "Norvale"});
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->text(), "Non puoi chiudere Norvale.\nSolo <b>amministratore</b>.");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->defaultButton()->text(), "OK");
    const auto label = box->findChild<QLabel*>("qt_msgbox_label");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
}

TEST_F(MessageBoxTest, ScriptedAnswersAreHandedOutInOrderAndRecorded) {
    MessageBox::Script({Button::Yes, Button::No});
    EXPECT_TRUE(MessageBox::Scripted());
    EXPECT_EQ(MessageBox::Show(ExitQuestion), Button::Yes);
    EXPECT_EQ(MessageBox::Show(ExitQuestion), Button::No);
    // Run out: the default button, as Enter would give.
    EXPECT_EQ(MessageBox::Show(ExitQuestion), Button::No);
    EXPECT_EQ(MessageBox::Show("x", Buttons::OkCancel, Icon::Information, Button::Yes, "t"), Button::Ok);
    EXPECT_EQ(MessageBox::AnswersLeft(), 0);
    const QList<MessageBox::Shown> record = MessageBox::Record();
    ASSERT_EQ(record.size(), 4);
    EXPECT_EQ(record[0], (MessageBox::Shown{ExitQuestion, Button::Yes}));
    EXPECT_EQ(record[1].answer, Button::No);
    EXPECT_EQ(record[3].request.buttons, Buttons::OkCancel);
    EXPECT_EQ(record[3].request.title, "t");
    for (const QWidget* window : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<const QMessageBox*>(window), nullptr); // nothing was ever shown

    MessageBox::Reset();
    EXPECT_FALSE(MessageBox::Scripted());
    EXPECT_TRUE(MessageBox::Record().isEmpty());
}

TEST_F(MessageBoxTest, ShownBoxReturnsTheButtonPressed) {
    const auto press = [](Qt::Key key) {
        return [key](QMessageBox& box) {
            QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
            QCoreApplication::sendEvent(&box, &event);
        };
    };
    // Enter presses the default button; Escape and the window's own close answer No.
    EXPECT_EQ(showAndThen(ExitQuestion, press(Qt::Key_Return)), Button::No);
    EXPECT_EQ(showAndThen(ExitQuestion, press(Qt::Key_Escape)), Button::No);
    EXPECT_EQ(showAndThen({"?", Buttons::YesNoCancel, Icon::Question, Button::Yes, QString()},
                          [](QMessageBox& box) { box.close(); }),
              Button::Cancel);
}
