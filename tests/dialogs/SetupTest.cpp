#include "QtTestApplication.h"
#include "WatchedDialer.h"

#include "controls/PictureBox.h"
#include "dialogs/Colors.h"
#include "dialogs/EntryListBox.h"
#include "dialogs/PressCheckBox.h"
#include "dialogs/frmColors.h"
#include "dialogs/frmSetup.h"
#include "platform/MessageBox.h"
#include "platform/Twips.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using Global::state;
using QtTestApplication::Click;
using QtTestApplication::ColourAt;
using QtTestApplication::Key;
using QtTestApplication::Shot;

namespace {

const QString Locked = QStringLiteral("held=1 readable=0 writable=0");

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

// Channels within a few steps of the expected colour: drawn in twips, a pixel shows the last of
// its 15 lines.
bool near(qint32 colour, qint32 expected, int tolerance) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(((colour >> shift) & 0xFF) - ((expected >> shift) & 0xFF)) > tolerance)
            return false;
    }
    return true;
}

// A stored connection as "name number auth default type up/down".
QString stored(int index) {
    const ConnectionRecord& r = state.ConnectionTable[size_t(index)];
    return QStringLiteral("%1 %2 %3%4 %5 %6/%7")
        .arg(r.Name, r.Number)
        .arg(r.Authorised)
        .arg(r.Default)
        .arg(r.SpeedType)
        .arg(r.SpeedUp)
        .arg(r.SpeedDown);
}

class SetupDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_EQ(Twips::PerPixelX(), 15.0);
        Global::Reset();
        Colors::Reset();
        MessageBox::Script();
        state.DigitKeys = QStringLiteral("0123456789") + QChar(13) + QChar(8);
        state.SpeedPresets = {{{10, 14}, {14, 18}, {24, 36}, {18, 80}, {32, 230}, {32, 450}, {0, 0}}};
        state.AppFolder = folder.path() + u'/';
        state.SettingsFile = state.AppFolder + QStringLiteral("nv4.ini");
        state.PhonebookPath = folder.filePath(QStringLiteral("wvdial.conf"));
        QFile book(state.PhonebookPath);
        ASSERT_TRUE(book.open(QIODevice::WriteOnly));
        book.write("[Dialer Casa]\nPhone = 0245871200\n");
        book.close();
        ASSERT_TRUE(book.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));

        line.entries = {{"Casa", "0245871200"},
                        {"Ufficio", "065551234"},
                        {"Vecchio", "0331000"},
                        {"Strano", "0332000"},
                        {"Nuovo", "899123456"}};
        // Casa authorised with its number; Ufficio's stored number is out of date; Strano has a
        // hand-edited speed type; Nuovo is unknown and gets appended by the loading.
        state.ConnectionTable[0] = {"Casa", "0245871200", true, false, 4, 32, 230};
        state.ConnectionTable[1] = {"Ufficio", "0655", false, false, 6, 20, 30};
        state.ConnectionTable[2] = {"Vecchio", "0331000", false, false, 0, 10, 14};
        state.ConnectionTable[3] = {"Strano", "0332000", false, false, 9, 44, 55};
        state.ConnectionCount = 4;
        state.StartColor = 0x0000FF;
        state.EndColor = 0x00FFFF;
        // The phonebook as the running program holds it.
        Global::LockPhonebook(state.PhonebookPath);
    }

    void TearDown() override {
        dialog.reset();
        Global::Reset();
        Colors::Reset();
        MessageBox::Reset();
    }

    frmSetup& open() {
        dialog = std::make_unique<frmSetup>(probe);
        dialog->Form_Load();
        probe.calls.clear();
        return *dialog;
    }

    void select(const QString& name) {
        const QList<QListWidgetItem*> found = dialog->lstDialEntry->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        dialog->lstDialEntry->setCurrentItem(found.first());
    }

    // What the entry's boxes show: number, authorised and default ticks, the speed option (-1:
    // none), the rates and whether each rate box takes input.
    QString shown() const {
        const frmSetup& d = *dialog;
        int option = -1;
        for (int i = 0; i < 7; ++i)
            option = d.optSpeed[size_t(i)]->isChecked() ? i : option;
        return QStringLiteral("%1 %2%3 %4 %5/%6 %7%8")
            .arg(d.txtNumero->text())
            .arg(d.chkAutorizza->isChecked())
            .arg(d.chkPredefinita->isChecked())
            .arg(option)
            .arg(d.txtUp->text(), d.txtDW->text())
            .arg(d.txtUp->isEnabled())
            .arg(d.txtDW->isEnabled());
    }

    QByteArray settingsBytes() {
        Global::UnlockSettingsFile();
        QFile file(state.SettingsFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir folder;
    QStringList log;
    WatchedDialer probe{log};
    FakeDialer& line = probe.inner;
    std::unique_ptr<frmSetup> dialog;
};

TEST_F(SetupDialog, LoadsItsLayoutGradientAndListWithThePhonebookReleasedAroundTheReading) {
    dialog = std::make_unique<frmSetup>(probe);
    dialog->Form_Load();
    frmSetup& d = *dialog;
    QStringList reads{"EntryCount"};
    for (const char* name : {"Casa", "Ufficio", "Vecchio", "Strano", "Nuovo"})
        reads << QStringLiteral("SelectEntry ") + name;
    EXPECT_EQ(probe.calls.join(u'|'),
              reads.join(" held=0 readable=1 writable=1|") + " held=0 readable=1 writable=1");
    EXPECT_EQ(WatchedDialer::LockState(), Locked);
    EXPECT_EQ(stored(4), "Nuovo 899123456 00 0 0/0");

    EXPECT_FALSE(d.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ((QList<QRect>{d.txtUp->geometry(), d.cmdAnnulla->geometry(), d.picDemo->geometry()}),
              (QList<QRect>{{156, 300, 33, 15}, {180, 332, 65, 33}, {140, 20, 121, 29}}));
    EXPECT_EQ((QList<QPoint>{d.optSpeed[6]->pos(), d.optSpeed[5]->pos()}),
              (QList<QPoint>{{16, 300}, {144, 280}}));
    EXPECT_EQ((QStringList{d.optSpeed[6]->text(), d.Label7->text()}),
              (QStringList{"Definita dall'utente", "Autorizza questa connessione"}));
    EXPECT_DOUBLE_EQ(d.txtUp->font().pointSizeF(), 6.75);

    // The title and its red copy one pixel (20 twips) down and to the right, inside picDemo.
    ASSERT_NE(d.lblInfo[1], nullptr);
    EXPECT_EQ(d.lblInfo[1]->parentWidget(), d.picDemo);
    EXPECT_EQ(d.lblInfo[1]->pos(), d.lblInfo[0]->pos() + QPoint(1, 1));
    EXPECT_EQ(d.lblInfo[1]->palette().color(QPalette::WindowText), QColor(255, 0, 0));

    // The gradients run from the start colour (red) at the top towards the end colour (yellow).
    const QImage shot = Shot(d), demo = Shot(*d.picDemo);
    EXPECT_EQ(ColourAt(shot, 2, 0), 0x0000FF);
    const qint32 low = ColourAt(shot, 2, shot.height() - 1);
    EXPECT_EQ(low & 0xFF, 0xFF);
    EXPECT_GT((low >> 8) & 0xFF, 0xF0);
    EXPECT_TRUE(near(ColourAt(demo, demo.width() - 2, 0), 0x0000FF, 5));
    EXPECT_TRUE(near(ColourAt(demo, demo.width() - 2, demo.height() - 1), 0x00FFFF, 10));
    EXPECT_EQ(ColourAt(Shot(*d.picStart), 5, 5), 0x0000FF);
    EXPECT_EQ(ColourAt(Shot(*d.picEnd), 5, 5), 0x00FFFF);
}

TEST_F(SetupDialog, StartUpLoadingLeavesThePhonebookLockAlone) {
    // The settings were not read yet at this point of start-up: the loading only lists and appends.
    for (const bool held : {true, false}) {
        if (!held)
            Global::ClosePhonebookLock();
        state.StartingUp = true;
        probe.calls.clear();
        dialog = std::make_unique<frmSetup>(probe);
        dialog->Form_Load();
        EXPECT_EQ(state.PhonebookLockFile.isHeld(), held);
        EXPECT_TRUE(state.SetupReady);
    }
    EXPECT_EQ(probe.calls.first(), "EntryCount held=0 readable=1 writable=0");
}

TEST_F(SetupDialog, SelectingAnEntryRunsTheCheckBoxOptionAndTextCascades) {
    frmSetup& d = open();
    QStringList upTexts;
    QObject::connect(d.txtUp, &QLineEdit::textChanged, [&](const QString& text) { upTexts << text; });
    // From an authorised entry to an unauthorised one the box's change runs its handler, which
    // keeps the stored authorisation and refreshes the stored number from the phonebook. A new
    // entry with zero rates, option 0 already selected by the entry before it: the rate boxes get
    // 0 and turn it into 10 and 14, which their change handlers store. A hand-edited speed type
    // selects no option, writes nothing and leaves the rates open.
    const std::vector<std::tuple<QString, QString, QList<int>, QStringList>> steps = {
        {"Casa", "0245871200 10 4 32/230 00", {0}, {"Casa 0245871200 10 4 32/230"}},
        {"Ufficio",
         "065551234 00 6 20/30 11",
         {0, 1},
         {"Casa 0245871200 10 4 32/230", "Ufficio 065551234 00 6 20/30"}},
        {"Casa", "0245871200 10 4 32/230 00", {0}, {"Casa 0245871200 10 4 32/230"}},
        {"Vecchio", "0331000 00 0 10/14 00", {}, {}},
        {"Nuovo", "899123456 00 0 10/14 00", {4}, {"Nuovo 899123456 00 0 10/14"}},
        {"Strano", "0332000 00 -1 44/55 11", {3}, {"Strano 0332000 00 9 44/55"}}};
    for (const auto& [name, boxes, rows, rowTexts] : steps) {
        SCOPED_TRACE(name.toStdString());
        probe.calls.clear();
        upTexts.clear();
        select(name);
        EXPECT_EQ(probe.calls, QStringList{"SelectEntry " + name + " held=0 readable=1 writable=1"});
        EXPECT_EQ(WatchedDialer::LockState(), Locked);
        EXPECT_EQ(shown(), boxes);
        for (qsizetype i = 0; i < rows.size(); ++i)
            EXPECT_EQ(stored(rows[i]), rowTexts[i]);
        if (name == "Ufficio") {
            EXPECT_EQ(d.focusWidget(), d.txtUp);
        }
        if (name == "Nuovo") { // the spy listens after the dialog, so it hears the nested change first
            EXPECT_EQ(upTexts, (QStringList{"10", "0"}));
        }
    }
}

TEST_F(SetupDialog, ASelectEntryFailureShowsTheCodeAndKeepsTheRest) {
    frmSetup& d = open();
    select(QStringLiteral("Casa"));
    line.entries.removeFirst(); // gone from the phonebook since the dialog loaded
    select(QStringLiteral("Ufficio"));
    select(QStringLiteral("Casa"));
    EXPECT_EQ(probe.calls.last(), QStringLiteral("SelectEntry Casa held=0 readable=1 writable=1"));
    // Boxes and rates as the entry before left them.
    EXPECT_EQ(shown(), "-Errore: 623 00 6 20/30 11");
    EXPECT_EQ(d.txtLogin->text(), QString());
    EXPECT_EQ(WatchedDialer::LockState(), Locked);
}

TEST_F(SetupDialog, AuthorisingStoresTheShownNumberAndOnlyTheMouseMovesTheDefault) {
    frmSetup& d = open();
    select(QStringLiteral("Ufficio"));
    Click(*d.chkAutorizza);
    EXPECT_EQ(stored(1), "Ufficio 065551234 10 6 20/30");
    EXPECT_FALSE(d.MouseOnCheck());
    // The keyboard works for the authorisation box too; the number stays refreshed.
    Key(*d.chkAutorizza, Qt::Key_Space, QStringLiteral(" "));
    EXPECT_FALSE(d.chkAutorizza->isChecked());
    EXPECT_EQ(stored(1), "Ufficio 065551234 00 6 20/30");

    select(QStringLiteral("Casa"));
    Click(*d.chkPredefinita);
    EXPECT_EQ(stored(0), "Casa 0245871200 11 4 32/230");
    // The program's unticking on the next entry changes nothing; a click there moves the mark.
    select(QStringLiteral("Ufficio"));
    EXPECT_FALSE(d.chkPredefinita->isChecked());
    EXPECT_EQ(stored(0), "Casa 0245871200 11 4 32/230");
    Click(*d.chkPredefinita);
    EXPECT_EQ((QStringList{stored(0), stored(1)}),
              (QStringList{"Casa 0245871200 10 4 32/230", "Ufficio 065551234 01 6 20/30"}));
    // The keyboard's change is ignored; the mouse's unticking leaves no entry marked.
    Key(*d.chkPredefinita, Qt::Key_Space, QStringLiteral(" "));
    EXPECT_FALSE(d.chkPredefinita->isChecked());
    EXPECT_TRUE(state.ConnectionTable[1].Default);
    d.chkPredefinita->setChecked(true);
    Click(*d.chkPredefinita);
    EXPECT_FALSE(d.chkPredefinita->isChecked());
    for (int i = 0; i < state.ConnectionCount; ++i)
        EXPECT_FALSE(state.ConnectionTable[size_t(i)].Default) << i;
}

TEST_F(SetupDialog, PresetAndUserDefinedSpeedsAndTheRateBoxes) {
    frmSetup& d = open();
    // No selection: nothing is stored, a 0 still becomes the default text.
    const auto table = state.ConnectionTable;
    d.optSpeed[3]->click();
    d.txtDW->setText(QStringLiteral("5"));
    d.txtDW->clear();
    EXPECT_EQ(d.txtDW->text(), QStringLiteral("14"));
    EXPECT_EQ(state.ConnectionTable, table);

    select(QStringLiteral("Ufficio"));
    d.optSpeed[4]->click(); // "ADSL 2M"
    EXPECT_EQ(shown(), "065551234 00 4 32/230 00");
    EXPECT_EQ(stored(1), "Ufficio 0655 00 4 32/230");
    d.optSpeed[6]->click();
    EXPECT_EQ(shown(), "065551234 00 6 32/230 11"); // the rates just stored
    EXPECT_EQ(stored(1), "Ufficio 0655 00 6 32/230");

    // Emptying the UP box gives "10" at once; letters are refused, digits and Backspace pass;
    // Enter passes the filter but presses no button: the dialog stays open.
    d.show();
    d.txtUp->clear();
    EXPECT_EQ(shown(), "065551234 00 6 10/230 11");
    EXPECT_EQ(stored(1), "Ufficio 0655 00 6 10/230");
    d.txtUp->setCursorPosition(2);
    const std::vector<std::tuple<int, QString, QString>> keys = {{Qt::Key_A, "a", "10"},
                                                                 {Qt::Key_Minus, "-", "10"},
                                                                 {Qt::Key_5, "5", "105"},
                                                                 {Qt::Key_Backspace, QString(QChar(8)), "10"},
                                                                 {Qt::Key_Return, "\r", "10"}};
    for (const auto& [code, text, result] : keys) {
        Key(*d.txtUp, code, text);
        EXPECT_EQ(d.txtUp->text(), result) << code;
        EXPECT_EQ(state.ConnectionTable[1].SpeedUp, result.toInt()) << code;
    }
    EXPECT_TRUE(d.isVisible());
    // A rate beyond the 16-bit field shows and stores the largest it can hold.
    for (const QString& text : {QStringLiteral("99999"), QStringLiteral("32767")}) {
        d.txtDW->setText(text);
        EXPECT_EQ(d.txtDW->text(), QStringLiteral("32767"));
        EXPECT_EQ(stored(1), "Ufficio 0655 00 6 10/32767");
    }
}

TEST_F(SetupDialog, ColourBoxesPickAndAnnullaKeepsTableChangesButRestoresTheColours) {
    frmSetup& d = open();
    d.setAttribute(Qt::WA_DeleteOnClose, false);
    d.show();
    select(QStringLiteral("Ufficio"));
    Click(*d.chkAutorizza);
    pickColour(d, d.picEnd, [](frmColors& picker) {
        picker.scrRed->setValue(10);
        picker.scrGreen->setValue(20);
        picker.scrBlue->setValue(30);
        picker.cmdOk->click();
    });
    const qint32 chosen = 10 + 256 * 20 + 65536 * 30;
    EXPECT_EQ(state.EndColor, chosen);
    EXPECT_EQ(d.picEnd->BackColor(), chosen);
    const QImage demo = Shot(*d.picDemo);
    EXPECT_TRUE(near(ColourAt(demo, demo.width() - 2, 0), 0x0000FF, 5));
    EXPECT_TRUE(near(ColourAt(demo, demo.width() - 2, demo.height() - 1), chosen, 10));
    EXPECT_EQ(ColourAt(Shot(d), 2, d.height() - 1), chosen);
    // The picker cancelled: nothing changes.
    pickColour(d, d.picStart, [](frmColors& picker) { picker.cmdAnnulla->click(); });
    EXPECT_EQ(state.StartColor, 0x0000FF);

    Key(d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(state.EndColor, 0x00FFFF);
    EXPECT_TRUE(state.ConnectionTable[1].Authorised);
    EXPECT_FALSE(QFile::exists(state.SettingsFile));
}

TEST_F(SetupDialog, ConnettiDialsTheSelectedEntryWithTheWriteProtectionKeptThenSaves) {
    frmSetup& d = open();
    d.show();
    d.cmdConnetti->click(); // no selection: nothing
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(probe.calls.isEmpty());

    select(QStringLiteral("Nuovo"));
    probe.calls.clear();
    d.cmdConnetti->click();
    EXPECT_EQ(probe.calls, (QStringList{"SelectEntry Nuovo held=0 readable=1 writable=0",
                                        "Dial held=0 readable=1 writable=0"}));
    EXPECT_EQ(WatchedDialer::LockState(), Locked);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_FALSE(state.ConnectionTable[4].Authorised);
    EXPECT_TRUE(settingsBytes().contains("ConAuth4=false\r\n"));

    // The list shows names as the phonebook spells them; the dial uses them without outer blanks.
    line.entries.append({QStringLiteral("Spazio"), QStringLiteral("0399")});
    open();
    dialog->lstDialEntry->addItem(QStringLiteral(" Spazio "));
    dialog->lstDialEntry->setCurrentRow(dialog->lstDialEntry->count() - 1);
    probe.calls.clear();
    dialog->cmdConnetti_Click();
    EXPECT_EQ(probe.calls.first(), QStringLiteral("SelectEntry Spazio held=0 readable=1 writable=0"));
    EXPECT_EQ(log.filter(QStringLiteral("Dial")).size(), 2);
}

} // namespace
