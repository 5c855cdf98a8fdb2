#include "QtTestApplication.h"

#include "../app/FakeDialer.h"
#include "controls/PictureBox.h"
#include "dialogs/Colors.h"
#include "dialogs/EntryListBox.h"
#include "dialogs/PressCheckBox.h"
#include "dialogs/frmColors.h"
#include "dialogs/frmSetup.h"
#include "platform/MessageBox.h"
#include "platform/Twips.h"
#include "settings/FileLocks.h"
#include "settings/Global.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <functional>

using Global::state;
using QtTestApplication::ColourAt;
using QtTestApplication::Shot;

namespace {

// The fake line, with every phonebook read and every dial noted together with the state of the
// phonebook lock at that moment.
class ProbeDialer final : public DialerControl {
public:
    explicit ProbeDialer(FakeDialer& line) : line_(line) {}

    mutable QStringList calls;

    QString PhonebookFile() const override { return line_.PhonebookFile(); }
    QString EntryName() const override { return line_.EntryName(); }
    QString EntryNumber() const override { return line_.EntryNumber(); }
    QString EntryUser() const override { return line_.EntryUser(); }
    bool IsOnline() const override { return line_.IsOnline(); }
    qint16 EntryCount() const override {
        note(QStringLiteral("EntryCount"));
        return line_.EntryCount();
    }
    QString EntryNameAt(qint16 index) const override { return line_.EntryNameAt(index); }
    QString IpAddress() const override { return line_.IpAddress(); }
    qint16 SelectEntry(const QString& name) override {
        note(QStringLiteral("SelectEntry ") + name);
        return line_.SelectEntry(name);
    }
    qint32 BytesReceived() const override { return line_.BytesReceived(); }
    qint32 BytesSent() const override { return line_.BytesSent(); }
    void Dial() override {
        note(QStringLiteral("Dial"));
        line_.Dial();
    }
    void HangUp() override { line_.HangUp(); }
    void SetWatchOtherCalls(bool on) override { line_.SetWatchOtherCalls(on); }
    void SetReportEveryStage(bool on) override { line_.SetReportEveryStage(on); }
    void SetWatchInterval(qint16 ms) override { line_.SetWatchInterval(ms); }

private:
    // held: the program's lock; readable: another opener can read the file; writable: its owner
    // write bit.
    void note(const QString& call) const {
        struct stat info {};
        const bool writable = ::stat(QFile::encodeName(state.PhonebookPath).constData(), &info) == 0 &&
                              (info.st_mode & S_IWUSR);
        calls << QStringLiteral("%1 held=%2 readable=%3 writable=%4")
                     .arg(call)
                     .arg(state.PhonebookLockFile.isHeld())
                     .arg(Global::FileExists(state.PhonebookPath))
                     .arg(writable);
    }

    FakeDialer& line_;
};

void mouseClick(QWidget* widget) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

void doubleClick(QWidget* widget) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent event(QEvent::MouseButtonDblClick, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void key(QWidget* widget, int code, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &release);
}

// Runs the step on the colour picker as soon as the setup dialog has opened it modally.
void onPicker(frmSetup& owner, const std::function<void(frmColors&)>& step) {
    QTimer::singleShot(0, &owner, [&owner, step] {
        auto* picker = owner.findChild<frmColors*>();
        ASSERT_NE(picker, nullptr);
        EXPECT_EQ(QApplication::activeModalWidget(), picker);
        step(*picker);
    });
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

ConnectionRecord row(const QString& name, const QString& number, bool authorised, qint16 type, qint16 up,
                     qint16 down) {
    return ConnectionRecord{name, number, authorised, false, type, up, down};
}

} // namespace

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
        ::chmod(QFile::encodeName(state.PhonebookPath).constData(), 0640);

        line.entries = {{QStringLiteral("Casa"), QStringLiteral("0245871200")},
                        {QStringLiteral("Ufficio"), QStringLiteral("065551234")},
                        {QStringLiteral("Vecchio"), QStringLiteral("0331000")},
                        {QStringLiteral("Strano"), QStringLiteral("0332000")},
                        {QStringLiteral("Nuovo"), QStringLiteral("899123456")}};
        // Casa authorised with its number; Ufficio's stored number is out of date; Strano has a
        // hand-edited speed type; Nuovo is unknown and gets appended by the loading.
        state.ConnectionTable[0] =
            row(QStringLiteral("Casa"), QStringLiteral("0245871200"), true, 4, 32, 230);
        state.ConnectionTable[1] = row(QStringLiteral("Ufficio"), QStringLiteral("0655"), false, 6, 20, 30);
        state.ConnectionTable[2] =
            row(QStringLiteral("Vecchio"), QStringLiteral("0331000"), false, 0, 10, 14);
        state.ConnectionTable[3] = row(QStringLiteral("Strano"), QStringLiteral("0332000"), false, 9, 44, 55);
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

    const ConnectionRecord& stored(int index) const { return state.ConnectionTable[size_t(index)]; }

    int checkedOption() const {
        for (int i = 0; i < 7; ++i) {
            if (dialog->optSpeed[size_t(i)]->isChecked())
                return i;
        }
        return -1;
    }

    QByteArray settingsBytes() {
        Global::UnlockSettingsFile();
        QFile file(state.SettingsFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir folder;
    QStringList log;
    FakeDialer line{log};
    ProbeDialer probe{line};
    std::unique_ptr<frmSetup> dialog;
};

TEST_F(SetupDialog, LoadsItsLayoutGradientAndListWithThePhonebookReleasedAroundTheReading) {
    const QString held = QStringLiteral(" held=0 readable=1 writable=1");
    dialog = std::make_unique<frmSetup>(probe);
    dialog->Form_Load();
    frmSetup& d = *dialog;
    EXPECT_EQ(probe.calls.first(), QStringLiteral("EntryCount") + held);
    EXPECT_EQ(probe.calls.last(), QStringLiteral("SelectEntry Nuovo") + held);
    EXPECT_TRUE(state.PhonebookLockFile.isHeld());
    EXPECT_FALSE(Global::FileExists(state.PhonebookPath));
    EXPECT_TRUE(state.SetupReady);
    EXPECT_EQ(state.PhonebookList, (QStringList{"Casa", "Ufficio", "Vecchio", "Strano", "Nuovo"}));
    EXPECT_EQ(state.ConnectionCount, 5);
    EXPECT_EQ(stored(4), row(QStringLiteral("Nuovo"), QStringLiteral("899123456"), false, 0, 0, 0));
    EXPECT_EQ(d.ListIndex(), -1);

    EXPECT_EQ(d.windowTitle(), QStringLiteral(" Setup"));
    EXPECT_EQ(d.size(), QSize(277, 371));
    EXPECT_FALSE(d.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(d.lstDialEntry->geometry(), QRect(8, 76, 261, 69));
    EXPECT_EQ(d.txtUp->geometry(), QRect(156, 300, 33, 15));
    EXPECT_EQ(d.optSpeed[6]->pos(), QPoint(16, 300));
    EXPECT_EQ(d.optSpeed[5]->pos(), QPoint(144, 280));
    EXPECT_EQ(d.cmdAnnulla->geometry(), QRect(180, 332, 65, 33));
    EXPECT_EQ(d.picDemo->geometry(), QRect(140, 20, 121, 29));
    EXPECT_EQ(d.optSpeed[6]->text(), QStringLiteral("Definita dall'utente"));
    EXPECT_EQ(d.Label7->text(), QStringLiteral("Autorizza questa connessione"));
    EXPECT_DOUBLE_EQ(d.txtUp->font().pointSizeF(), 6.75);

    // The title and its red copy one pixel (20 twips) down and to the right, inside picDemo.
    ASSERT_NE(d.lblInfo[1], nullptr);
    EXPECT_EQ(d.lblInfo[1]->parentWidget(), d.picDemo);
    EXPECT_EQ(d.lblInfo[1]->pos(), d.lblInfo[0]->pos() + QPoint(1, 1));
    EXPECT_EQ(d.lblInfo[1]->palette().color(QPalette::WindowText), QColor(255, 0, 0));

    // The gradients run from the start colour (red) at the top towards the end colour (yellow).
    const QImage shot = Shot(d);
    EXPECT_EQ(ColourAt(shot, 2, 0), 0x0000FF);
    const qint32 low = ColourAt(shot, 2, shot.height() - 1);
    EXPECT_EQ(low & 0xFF, 0xFF);
    EXPECT_GT((low >> 8) & 0xFF, 0xF0);
    const QImage demo = Shot(*d.picDemo);
    EXPECT_TRUE(near(ColourAt(demo, demo.width() - 2, 0), 0x0000FF, 5));
    EXPECT_TRUE(near(ColourAt(demo, demo.width() - 2, demo.height() - 1), 0x00FFFF, 10));
    EXPECT_EQ(ColourAt(Shot(*d.picStart), 5, 5), 0x0000FF);
    EXPECT_EQ(ColourAt(Shot(*d.picEnd), 5, 5), 0x00FFFF);
}

TEST_F(SetupDialog, StartUpLoadingLeavesThePhonebookLockAlone) {
    state.StartingUp = true;
    open();
    EXPECT_TRUE(state.PhonebookLockFile.isHeld());
    // The settings were not read yet at this point of start-up: the loading only lists and appends.
    Global::ClosePhonebookLock();
    state.StartingUp = true;
    probe.calls.clear();
    dialog = std::make_unique<frmSetup>(probe);
    dialog->Form_Load();
    EXPECT_FALSE(state.PhonebookLockFile.isHeld());
    EXPECT_EQ(probe.calls.first(), QStringLiteral("EntryCount held=0 readable=1 writable=0"));
    EXPECT_TRUE(state.SetupReady);
}

TEST_F(SetupDialog, SelectingAnEntryRunsTheCheckBoxOptionAndTextCascades) {
    frmSetup& d = open();
    QStringList upTexts;
    QObject::connect(d.txtUp, &QLineEdit::textChanged, [&](const QString& text) { upTexts << text; });

    select(QStringLiteral("Casa"));
    EXPECT_EQ(probe.calls, (QStringList{"SelectEntry Casa held=0 readable=1 writable=1"}));
    EXPECT_TRUE(state.PhonebookLockFile.isHeld());
    EXPECT_FALSE(Global::FileExists(state.PhonebookPath));
    EXPECT_EQ(d.txtNumero->text(), QStringLiteral("0245871200"));
    EXPECT_TRUE(d.chkAutorizza->isChecked());
    EXPECT_EQ(checkedOption(), 4);
    EXPECT_FALSE(d.txtUp->isEnabled());
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("32"));
    EXPECT_EQ(d.txtDW->text(), QStringLiteral("230"));
    EXPECT_EQ(stored(0), row(QStringLiteral("Casa"), QStringLiteral("0245871200"), true, 4, 32, 230));

    // From an authorised entry to an unauthorised one: the box's change runs its handler, which
    // keeps the stored authorisation and refreshes the stored number from the phonebook.
    select(QStringLiteral("Ufficio"));
    EXPECT_FALSE(d.chkAutorizza->isChecked());
    EXPECT_EQ(stored(1).Number, QStringLiteral("065551234"));
    EXPECT_FALSE(stored(1).Authorised);
    EXPECT_TRUE(stored(0).Authorised);
    EXPECT_EQ(checkedOption(), 6);
    EXPECT_TRUE(d.txtUp->isEnabled());
    EXPECT_TRUE(d.txtDW->isEnabled());
    EXPECT_EQ(d.focusWidget(), d.txtUp);
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("20"));
    EXPECT_EQ(d.txtDW->text(), QStringLiteral("30"));

    // Back to the authorised one: checked again, still authorised with its own number.
    select(QStringLiteral("Casa"));
    EXPECT_TRUE(d.chkAutorizza->isChecked());
    EXPECT_EQ(stored(0), row(QStringLiteral("Casa"), QStringLiteral("0245871200"), true, 4, 32, 230));

    // A new entry with zero rates, option 0 already selected by the entry before it: the rate boxes
    // get 0 and turn it into 10 and 14, which their change handlers store.
    select(QStringLiteral("Vecchio"));
    EXPECT_EQ(checkedOption(), 0);
    upTexts.clear();
    select(QStringLiteral("Nuovo"));
    // The spy listens after the dialog, so it hears the nested change first.
    EXPECT_EQ(upTexts, (QStringList{"10", "0"}));
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("10"));
    EXPECT_EQ(d.txtDW->text(), QStringLiteral("14"));
    EXPECT_EQ(stored(4), row(QStringLiteral("Nuovo"), QStringLiteral("899123456"), false, 0, 10, 14));

    // A hand-edited speed type selects no option, writes nothing and leaves the rates open.
    select(QStringLiteral("Strano"));
    EXPECT_EQ(checkedOption(), -1);
    EXPECT_TRUE(d.txtUp->isEnabled());
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("44"));
    EXPECT_EQ(stored(3), row(QStringLiteral("Strano"), QStringLiteral("0332000"), false, 9, 44, 55));
}

TEST_F(SetupDialog, ASelectEntryFailureShowsTheCodeAndKeepsTheRest) {
    frmSetup& d = open();
    select(QStringLiteral("Casa"));
    line.entries.removeFirst(); // gone from the phonebook since the dialog loaded
    select(QStringLiteral("Ufficio"));
    select(QStringLiteral("Casa"));
    EXPECT_EQ(probe.calls.last(), QStringLiteral("SelectEntry Casa held=0 readable=1 writable=1"));
    EXPECT_EQ(d.txtNumero->text(), QStringLiteral("-Errore: 623"));
    EXPECT_EQ(d.txtLogin->text(), QString());
    // Boxes and rates as the entry before left them.
    EXPECT_FALSE(d.chkAutorizza->isChecked());
    EXPECT_EQ(checkedOption(), 6);
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("20"));
    EXPECT_TRUE(state.PhonebookLockFile.isHeld());
    EXPECT_FALSE(Global::FileExists(state.PhonebookPath));
}

TEST_F(SetupDialog, AuthorisingStoresTheShownNumberAndOnlyTheMouseMovesTheDefault) {
    frmSetup& d = open();
    select(QStringLiteral("Ufficio"));
    mouseClick(d.chkAutorizza);
    EXPECT_TRUE(stored(1).Authorised);
    EXPECT_EQ(stored(1).Number, QStringLiteral("065551234"));
    EXPECT_FALSE(d.MouseOnCheck());
    // The keyboard works for the authorisation box too; the number stays refreshed.
    key(d.chkAutorizza, Qt::Key_Space, QStringLiteral(" "));
    EXPECT_FALSE(d.chkAutorizza->isChecked());
    EXPECT_FALSE(stored(1).Authorised);
    EXPECT_EQ(stored(1).Number, QStringLiteral("065551234"));

    select(QStringLiteral("Casa"));
    mouseClick(d.chkPredefinita);
    EXPECT_TRUE(stored(0).Default);
    // The program's unticking on the next entry changes nothing; a click there moves the mark.
    select(QStringLiteral("Ufficio"));
    EXPECT_FALSE(d.chkPredefinita->isChecked());
    EXPECT_TRUE(stored(0).Default);
    mouseClick(d.chkPredefinita);
    EXPECT_FALSE(stored(0).Default);
    EXPECT_TRUE(stored(1).Default);
    // The keyboard's change is ignored; the mouse's unticking leaves no entry marked.
    key(d.chkPredefinita, Qt::Key_Space, QStringLiteral(" "));
    EXPECT_FALSE(d.chkPredefinita->isChecked());
    EXPECT_TRUE(stored(1).Default);
    d.chkPredefinita->setChecked(true);
    mouseClick(d.chkPredefinita);
    EXPECT_FALSE(d.chkPredefinita->isChecked());
    for (int i = 0; i < state.ConnectionCount; ++i)
        EXPECT_FALSE(stored(i).Default) << i;
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
    EXPECT_FALSE(d.txtUp->isEnabled());
    EXPECT_FALSE(d.txtDW->isEnabled());
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("32"));
    EXPECT_EQ(d.txtDW->text(), QStringLiteral("230"));
    EXPECT_EQ(stored(1).SpeedType, 4);
    EXPECT_EQ(stored(1).SpeedUp, 32);
    EXPECT_EQ(stored(1).SpeedDown, 230);
    d.optSpeed[6]->click();
    EXPECT_TRUE(d.txtUp->isEnabled());
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("32")); // the rates just stored
    EXPECT_EQ(stored(1).SpeedType, 6);

    // Emptying the UP box gives "10" at once; letters are refused, digits and Backspace pass.
    d.txtUp->clear();
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("10"));
    EXPECT_EQ(stored(1).SpeedUp, 10);
    d.txtUp->setCursorPosition(2);
    key(d.txtUp, Qt::Key_A, QStringLiteral("a"));
    key(d.txtUp, Qt::Key_Minus, QStringLiteral("-"));
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("10"));
    key(d.txtUp, Qt::Key_5, QStringLiteral("5"));
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("105"));
    EXPECT_EQ(stored(1).SpeedUp, 105);
    key(d.txtUp, Qt::Key_Backspace, QString(QChar(8)));
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("10"));
    // Enter passes the filter but presses no button: the dialog stays open.
    d.show();
    key(d.txtUp, Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.txtUp->text(), QStringLiteral("10"));
    // A rate beyond the 16-bit field shows and stores the largest it can hold.
    d.txtDW->setText(QStringLiteral("99999"));
    EXPECT_EQ(d.txtDW->text(), QStringLiteral("32767"));
    EXPECT_EQ(stored(1).SpeedDown, 32767);
    d.txtDW->setText(QStringLiteral("32767"));
    EXPECT_EQ(stored(1).SpeedDown, 32767);
}

TEST_F(SetupDialog, OkSavesAndAnnullaKeepsTableChangesButRestoresTheColours) {
    frmSetup& d = open();
    d.setAttribute(Qt::WA_DeleteOnClose, false);
    d.show();
    select(QStringLiteral("Ufficio"));
    mouseClick(d.chkAutorizza);
    onPicker(d, [](frmColors& picker) {
        picker.scrRed->setValue(10);
        picker.scrGreen->setValue(20);
        picker.scrBlue->setValue(30);
        picker.cmdOk->click();
    });
    doubleClick(d.picEnd);
    const qint32 chosen = 10 + 256 * 20 + 65536 * 30;
    EXPECT_EQ(state.EndColor, chosen);
    EXPECT_EQ(d.picEnd->BackColor(), chosen);
    const QImage demo = Shot(*d.picDemo);
    EXPECT_TRUE(near(ColourAt(demo, demo.width() - 2, 0), 0x0000FF, 5));
    EXPECT_TRUE(near(ColourAt(demo, demo.width() - 2, demo.height() - 1), chosen, 10));
    EXPECT_EQ(ColourAt(Shot(d), 2, d.height() - 1), chosen);
    // The picker cancelled: nothing changes.
    onPicker(d, [](frmColors& picker) { picker.cmdAnnulla->click(); });
    doubleClick(d.picStart);
    EXPECT_EQ(state.StartColor, 0x0000FF);

    key(&d, Qt::Key_Escape, QString());
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(state.EndColor, 0x00FFFF);
    EXPECT_TRUE(stored(1).Authorised);
    EXPECT_FALSE(QFile::exists(state.SettingsFile));

    open();
    dialog->show();
    select(QStringLiteral("Ufficio"));
    mouseClick(dialog->chkPredefinita);
    onPicker(*dialog, [](frmColors& picker) {
        picker.scrRed->setValue(1);
        picker.cmdOk->click();
    });
    doubleClick(dialog->picStart);
    dialog->cmdOk->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(state.StartColor, 1);
    const QByteArray saved = settingsBytes();
    EXPECT_TRUE(saved.contains("StartColor= 1\r\nEndColor= 65535\r\n")) << saved.constData();
    EXPECT_TRUE(saved.contains("ConAuth1=true\r\nConPred1=true\r\n")) << saved.constData();
    EXPECT_EQ(state.DefaultEntryName, QStringLiteral("Ufficio"));
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
    EXPECT_TRUE(state.PhonebookLockFile.isHeld());
    EXPECT_FALSE(Global::FileExists(state.PhonebookPath));
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_FALSE(stored(4).Authorised);
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
