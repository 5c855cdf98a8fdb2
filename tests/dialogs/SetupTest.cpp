#include "FakeGuard.h"
#include "QtTestApplication.h"

#include "app/GuardClient.h"
#include "controls/PictureBox.h"
#include "dialogs/Colors.h"
#include "dialogs/EntryListBox.h"
#include "dialogs/PressCheckBox.h"
#include "dialogs/frmColors.h"
#include "dialogs/frmSetup.h"
#include "platform/MessageBox.h"
#include "settings/Global.h"

#include <QApplication>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using Global::state;
using QtTestApplication::Click;
using QtTestApplication::Key;
using namespace Qt::StringLiterals;

namespace {

// Runs the step on the colour picker as soon as the setup dialog has opened it modally, which
// the double click on the colour box does.
void pickColour(frmSetup& owner, PictureBox* box, const std::function<void(frmColors&)>& step) {
    QTimer::singleShot(0, &owner, [&owner, step] {
        auto* picker = owner.findChild<frmColors*>();
        ASSERT_NE(picker, nullptr);
        EXPECT_EQ(QApplication::activeModalWidget(), picker);
        step(*picker);
    });
    QtTestApplication::Mouse(*box, QEvent::MouseButtonDblClick);
}

// The dialog against a guard the test plays, which keeps these rows: Casa authorised, Ufficio
// with its own rates, Strano with a hand-edited speed type, Nuovo and Zero just appended with zero
// rates, Pieno not in the table (it was full); Sparito is gone from the phonebook.
class SetupDialog : public ::testing::Test {
protected:
    void SetUp() override {
        Global::Reset();
        Colors::Reset();
        MessageBox::Script();
        state.DigitKeys = QStringLiteral("0123456789") + QChar(13) + QChar(8);
        state.SpeedPresets = {{{10, 14}, {14, 18}, {24, 36}, {18, 80}, {32, 230}, {32, 450}, {0, 0}}};
        state.StartColor = 0x0000FF;
        state.EndColor = 0x00FFFF;
        rows = {
            {"Casa",
             R"({"number":"0245871200","authorised":true,"speed_type":4,"speed_up":32,"speed_down":230})"},
            {"Ufficio", R"({"number":"065551234","speed_type":6,"speed_up":20,"speed_down":30})"},
            {"Strano", R"({"number":"0332000","speed_type":9,"speed_up":44,"speed_down":55})"},
            {"Nuovo", R"({"number":"899123456","speed_up":0,"speed_down":0})"},
            {"Zero", R"({"number":"0500","speed_up":0,"speed_down":0})"},
            {"Pieno", R"({"number":"0400","known":false,"speed_up":12,"speed_down":12})"},
            {"Sparito", R"({"result":623,"speed_up":12,"speed_down":12})"}};
        guard.respond = [this](const QString& op, const QJsonObject& request) {
            if (op != u"setup_entry")
                return QJsonObject();
            QJsonObject row =
                QJsonDocument::fromJson(rows.value(request.value(u"name"_s).toString())).object();
            if (!row.contains(u"result"_s))
                row.insert(u"result"_s, 0);
            return row;
        };
        client.Start();
        ASSERT_TRUE(FakeGuard::until([this] { return client.IsConnected(); }));
    }

    void TearDown() override { MessageBox::Reset(); }

    frmSetup& open() {
        dialog = std::make_unique<frmSetup>(client);
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        dialog->Form_Load({"Casa", "Ufficio", "Strano", "Nuovo", "Zero", "Pieno", "Sparito"});
        dialog->show();
        return *dialog;
    }

    // Selects the line and waits for the guard's answer to reach the boxes; returns the changes
    // the dialog sent meanwhile, as "code=value".
    QStringList select(const QString& name) {
        QTest::qWait(50); // what was sent before has arrived
        guard.requests.clear();
        const QList<QListWidgetItem*> found = dialog->lstDialEntry->findItems(name, Qt::MatchExactly);
        EXPECT_EQ(found.size(), 1);
        dialog->lstDialEntry->setCurrentItem(found.first());
        EXPECT_TRUE(guard.received(u"setup_entry {\"name\":\""_s + name + u"\"}"_s));
        QTest::qWait(50);
        return sent(name);
    }

    // The field changes sent for the entry since the last look, as "code=value".
    QStringList sent(const QString& name) {
        QStringList changes;
        for (const QString& request : std::as_const(guard.requests)) {
            if (!request.startsWith(u"setup_field "))
                continue;
            const QJsonObject o = QJsonDocument::fromJson(request.mid(12).toUtf8()).object();
            EXPECT_EQ(o.value(u"name"_s).toString(), name);
            changes << QString::number(o.value(u"field"_s).toInt()) + u'=' +
                           o.value(u"value"_s).toVariant().toString();
        }
        guard.requests.clear();
        return changes;
    }

    // What the entry's boxes show: number, authorised and default ticks, the speed option (-1:
    // none), the rates and whether each rate box takes input.
    QString shown() const {
        const frmSetup& d = *dialog;
        const auto checked =
            std::find_if(d.optSpeed.begin(), d.optSpeed.end(), [](auto* o) { return o->isChecked(); });
        const auto option = checked == d.optSpeed.end() ? -1 : checked - d.optSpeed.begin();
        return QStringLiteral("%1 %2%3 %4 %5/%6 %7%8")
            .arg(d.txtNumero->text())
            .arg(d.chkAutorizza->isChecked())
            .arg(d.chkPredefinita->isChecked())
            .arg(option)
            .arg(d.txtUp->text(), d.txtDW->text())
            .arg(d.txtUp->isEnabled())
            .arg(d.txtDW->isEnabled());
    }

    QTemporaryDir folder;
    FakeGuard guard{folder.path()};
    GuardClient client{folder.filePath(u"guard.sock"_s)};
    QHash<QString, QByteArray> rows;
    std::unique_ptr<frmSetup> dialog;
};

TEST_F(SetupDialog, SelectingAnEntryRunsItsCascadesAndTheRateBoxesFilterAndClip) {
    frmSetup& d = open();
    // No selection: nothing is sent nor dialled, a 0 still becomes the default text.
    d.optSpeed[3]->click();
    d.txtDW->setText(QStringLiteral("5"));
    d.txtDW->clear();
    EXPECT_EQ(d.txtDW->text(), QStringLiteral("14"));
    d.cmdConnetti->click();
    EXPECT_TRUE(d.isVisible());
    QTest::qWait(50);
    EXPECT_TRUE(guard.requests.isEmpty());

    // The box ticked by the program runs its handler, which sends the authorisation with the number
    // the phonebook gave; the option's handler sends the type and its rates, as the rate boxes'
    // handlers do for each new text.
    EXPECT_EQ(select(u"Casa"_s),
              QStringList({"0=true", "3=0245871200", "5=32", "6=230", "4=4", "5=32", "6=230"}));
    EXPECT_EQ(shown(), "0245871200 10 4 32/230 00");
    // Unticked by the program on the next entry: its stored authorisation stays false and its number
    // is refreshed; its own rates open the boxes and take the focus.
    EXPECT_EQ(select(u"Ufficio"_s),
              QStringList({"0=false", "3=065551234", "5=20", "6=30", "4=6", "5=20", "6=30"}));
    EXPECT_EQ(shown(), "065551234 00 6 20/30 11");
    EXPECT_EQ(d.focusWidget(), d.txtUp);
    // A hand-edited type selects no option and sends nothing for it.
    EXPECT_EQ(select(u"Strano"_s), QStringList({"5=44", "6=55"}));
    EXPECT_EQ(shown(), "0332000 00 -1 44/55 11");
    // The first preset: its rates.
    EXPECT_EQ(select(u"Nuovo"_s), QStringList({"5=10", "6=14", "4=0", "5=10", "6=14"}));
    EXPECT_EQ(shown(), "899123456 00 0 10/14 00");
    // The same option again: zero rates become 10 and 14 through the boxes' own handlers, the
    // nested change first.
    EXPECT_EQ(select(u"Zero"_s), QStringList({"5=10", "5=10", "6=14", "6=14"}));
    EXPECT_EQ(shown(), "0500 00 0 10/14 00");

    // A failure shows the code and keeps the boxes and rates as the entry before left them.
    select(u"Ufficio"_s);
    EXPECT_TRUE(select(u"Sparito"_s).isEmpty());
    EXPECT_EQ(shown(), "-Errore: 623 00 6 20/30 11");
    QTest::mouseClick(d.lstDialEntry->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      d.lstDialEntry->visualItemRect(d.lstDialEntry->item(6)).center());
    EXPECT_EQ(d.ListIndex(), 6); // Ctrl+click on the chosen entry keeps it chosen

    // Authorising sends the shown number, by mouse or keyboard; only the mouse moves the default.
    select(u"Ufficio"_s);
    Click(*d.chkAutorizza);
    EXPECT_FALSE(d.MouseOnCheck());
    Key(*d.chkAutorizza, Qt::Key_Space, u" "_s);
    Click(*d.chkPredefinita);
    Key(*d.chkPredefinita, Qt::Key_Space, u" "_s);
    d.chkPredefinita->setChecked(true);
    Click(*d.chkPredefinita);
    QTest::qWait(50);
    EXPECT_EQ(sent(u"Ufficio"_s),
              QStringList({"0=true", "3=065551234", "0=false", "3=065551234", "2=true", "2=false"}));

    d.optSpeed[4]->click(); // "ADSL 2M"
    EXPECT_EQ(shown(), "065551234 00 4 32/230 00");
    d.optSpeed[6]->click();
    EXPECT_EQ(shown(), "065551234 00 6 32/230 11"); // the rates just sent
    EXPECT_GE(d.optSpeed[6]->width(), d.optSpeed[6]->sizeHint().width()); // "Definita dall'utente" whole
    // An entry the table does not hold keeps nothing: its own rates stay 12.
    select(u"Pieno"_s);
    d.optSpeed[4]->click();
    d.optSpeed[6]->click();
    EXPECT_EQ(shown(), "0400 00 6 12/12 11");

    // Emptying the UP box gives "10" at once; letters are refused, digits and Backspace pass;
    // Enter passes the filter but presses no button: the dialog stays open.
    select(u"Ufficio"_s);
    d.txtUp->clear();
    EXPECT_EQ(d.txtUp->text(), u"10"_s);
    d.txtUp->setCursorPosition(2);
    const std::vector<std::tuple<int, QString, QString>> keys = {
        {Qt::Key_A, "a", "10"},        {Qt::Key_Minus, "-", "10"},
        {Qt::Key_5, "5", "105"},       {Qt::Key_Backspace, QString(QChar(8)), "10"},
        {Qt::Key_Return, "\r", "10"},  {Qt::Key_Left, "", "10"},
        {Qt::Key_Delete, "\x7f", "1"}, {Qt::Key_Tab, "\t", "1"}};
    d.txtUp->setFocus();
    for (const auto& [code, text, result] : keys) {
        Key(*d.txtUp, code, text);
        EXPECT_EQ(d.txtUp->text(), result) << code;
    }
    EXPECT_EQ(d.focusWidget(), d.txtDW); // X11's texts of Delete and Tab are no characters
    EXPECT_TRUE(d.isVisible());
    // A rate beyond the 16-bit field shows and sends the largest it can hold.
    d.txtDW->setText(u"32768"_s);
    EXPECT_EQ(d.txtDW->text(), u"32767"_s);
    QTest::qWait(50);
    // Each new text is sent, the nested change of a replaced text first.
    EXPECT_EQ(sent(u"Ufficio"_s),
              QStringList({"5=10", "5=10", "5=105", "5=10", "5=1", "6=32767", "6=32767"}));
}

// What OK saves is the black-box run's (tests/e2e/tray-setup.sh).
TEST_F(SetupDialog, ConnettiDialsAndAnnullaRestoresTheColours) {
    frmSetup& d = open();
    select(u"Ufficio"_s);
    pickColour(d, d.picEnd, [](frmColors& picker) {
        picker.scrRed->setValue(10);
        picker.scrGreen->setValue(20);
        picker.scrBlue->setValue(30);
        picker.cmdOk->click();
    });
    EXPECT_TRUE(guard.received(uR"(setup_colours {"end":1971210,"start":255})"_s));
    EXPECT_EQ(std::tuple(state.EndColor, d.picEnd->BackColor()), std::tuple(1971210, 1971210)); // 10, 20, 30
    pickColour(d, d.picStart, [](frmColors& picker) { picker.cmdAnnulla->click(); });
    EXPECT_EQ(state.StartColor, 0x0000FF);
    guard.requests.clear();
    Key(*d.txtUp, Qt::Key_Escape, u"\x1b"_s);
    EXPECT_EQ(std::tuple(d.isVisible(), d.result(), state.EndColor),
              std::tuple(false, int(QDialog::Rejected), 0x00FFFF));
    // The colours go back in the guard too; nothing is saved.
    ASSERT_TRUE(guard.received(u"setup_close"_s));
    EXPECT_EQ(guard.requests,
              QStringList({uR"(setup_colours {"end":65535,"start":255})"_s, u"setup_close"_s}));

    // The list shows names as the phonebook spells them; the dial uses them without outer blanks.
    frmSetup& again = open();
    again.lstDialEntry->addItem(u" Spazio "_s);
    select(u" Spazio "_s);
    again.cmdConnetti->click();
    EXPECT_EQ(std::tuple(again.isVisible(), again.result()), std::tuple(false, int(QDialog::Accepted)));
    ASSERT_TRUE(guard.received(u"setup_close"_s));
    // The guard saves after the dial itself.
    EXPECT_EQ(guard.requests, QStringList({uR"(setup_dial {"name":"Spazio"})"_s, u"setup_close"_s}));
}

} // namespace
