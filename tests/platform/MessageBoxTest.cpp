#include "platform/MessageBox.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

using Button = MessageBox::Button;
using Buttons = MessageBox::Buttons;
using Icon = MessageBox::Icon;

// What the user reads: buttons, default, icon, title and text.
TEST(MessageBoxTest, BoxesSpeakItalianInPlainText) {
    const QString error = "Attenzione: c'è un errore",
                  marked = "Non puoi chiudere.\rSolo <b>amministratore</b>.";
    const struct {
        MessageBox::Request request;
        QString buttons; // sorted captions, then the default's and the one Esc presses
        QMessageBox::Icon icon;
    } rows[] = {
        {{"Desideri chiudere Norvale?", Buttons::YesNo, Icon::Question, Button::No, " Uscire"},
         "No Sì; No; No",
         QMessageBox::Question},
        {{error, Buttons::Ok, Icon::Critical, Button::Ok, " Errore"}, "OK; OK; OK", QMessageBox::Critical},
        {{"", Buttons::YesNoCancel, Icon::Exclamation, Button::Cancel, ""},
         "Annulla No Sì; Annulla; Annulla",
         QMessageBox::Warning},
        // A default the box lacks falls back to its first button; markup stays plain text.
        {{marked, Buttons::OkCancel, Icon::None, Button::No, ""},
         "Annulla OK; OK; Annulla",
         QMessageBox::NoIcon},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request.text.toStdString());
        const auto box = MessageBox::Build(row.request);
        QStringList captions;
        for (const QAbstractButton* button : box->buttons())
            captions.append(button->text());
        captions.sort();
        ASSERT_NE(box->escapeButton(), nullptr);
        EXPECT_EQ(QStringLiteral("%1; %2; %3")
                      .arg(captions.join(u' '), box->defaultButton()->text(), box->escapeButton()->text()),
                  row.buttons);
        EXPECT_EQ(box->icon(), row.icon);
        EXPECT_EQ(box->windowTitle(), row.request.title);
        EXPECT_EQ(box->text(), QString(row.request.text).replace(u'\r', u'\n')); // a CR breaks the line
        const auto label = box->findChild<QLabel*>("qt_msgbox_label");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
}
