#include "dialogs/frmSetup.h"

#include "controls/PictureBox.h"
#include "dialogs/Colors.h"
#include "dialogs/EntryListBox.h"
#include "dialogs/FilledShape.h"
#include "dialogs/PressCheckBox.h"
#include "dialogs/frmColors.h"
#include "platform/Convert.h"
#include "platform/Gradient.h"
#include "platform/Twips.h"
#include "platform/WindowHelpers.h"
#include "app/GuardClient.h"
#include "dialer/DialerControl.h"
#include "settings/ConnectionTable.h"
#include "settings/Global.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <limits>

namespace {

constexpr qint32 ButtonFace = qint32(0x8000000Fu);
constexpr double RateLimit = std::numeric_limits<qint16>::max();

// The narrow cut, so that the captions fit the widths the layout gives them.
QFont interfaceFont(double pointSize) {
    return Subs::InterfaceFont(pointSize, true);
}
constexpr double DialogPoints = 8.0;
constexpr double SmallPoints = 6.75;
constexpr double TitlePoints = 8.25;

template <typename W> W* place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(Twips::Rect(left, top, width, height));
    return widget;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top, int width,
                  int height) {
    auto* label = new QLabel(caption, parent);
    label->setFont(interfaceFont(DialogPoints));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return place(label, name, left, top, width, height);
}

QFrame* makeFrame(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(1);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::WindowText, Global::ToQColor(qint32(0x80000008u)));
    frame->setPalette(palette);
    frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    return place(frame, name, left, top, width, height);
}

QLineEdit* makeText(QWidget* parent, const char* name, int left, int top, int width, int height,
                    double points) {
    auto* box = new QLineEdit(parent);
    box->setFont(interfaceFont(points));
    box->setTextMargins(0, 0, 0, 0);
    return place(box, name, left, top, width, height);
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, int left) {
    auto* button = new QPushButton(caption, parent);
    button->setFont(interfaceFont(DialogPoints));
    return place(button, name, left, 4980, 975, 495);
}

PictureBox* makePicture(QWidget* parent, const char* name, int left, int top, int width, int height) {
    return place(new PictureBox(parent), name, left, top, width, height);
}

PressCheckBox* makeCheck(QWidget* parent, const char* name, int top) {
    auto* box = new PressCheckBox(parent);
    return place(box, name, 180, top, 195, 195);
}

const std::array<const char*, 7> SpeedCaptions{
    "Connessione 56k", "ISDN singola linea",   "ISDN doppia linea", "ADSL 640k", "ADSL 2M",
    "ADSL 4M",         "Definita dall'utente",
};
const std::array<std::array<int, 2>, 7> SpeedPlaces{{
    {240, 3600},
    {240, 3900},
    {240, 4200},
    {2160, 3600},
    {2160, 3900},
    {2160, 4200},
    {240, 4500},
}};

} // namespace

frmSetup::frmSetup(GuardClient& guard, QWidget* parent)
    : QDialog(parent), Label4(makeLabel(this, "Label4", QStringLiteral("Colori"), 60, 0, 1275, 195)),
      Shape1(makeFrame(this, "Shape1", 60, 180, 4035, 675)),
      picStart(makePicture(this, "picStart", 240, 360, 315, 315)),
      Label1(makeLabel(this, "Label1", QStringLiteral("Inizio"), 600, 420, 555, 195)),
      picEnd(makePicture(this, "picEnd", 1140, 360, 315, 315)),
      Label2(makeLabel(this, "Label2", QStringLiteral("Fine"), 1500, 420, 555, 195)),
      picDemo(makePicture(this, "picDemo", 2100, 300, 1815, 435)),
      Label5(makeLabel(this, "Label5", QStringLiteral("Connessioni"), 60, 900, 1275, 195)),
      Shape2(makeFrame(this, "Shape2", 60, 1080, 4035, 3855)),
      lstDialEntry(place(new EntryListBox(this), "lstDialEntry", 120, 1140, 3915, 1035)),
      Label3(makeLabel(this, "Label3", QStringLiteral("Numero"), 180, 2280, 675, 195)),
      txtNumero(makeText(this, "txtNumero", 1260, 2220, 2775, 285, DialogPoints)),
      Label6(makeLabel(this, "Label6", QStringLiteral("Login utente"), 180, 2580, 1035, 195)),
      txtLogin(makeText(this, "txtLogin", 1260, 2520, 2775, 285, DialogPoints)),
      chkAutorizza(makeCheck(this, "chkAutorizza", 2940)),
      Label7(makeLabel(this, "Label7", QStringLiteral("Autorizza questa connessione"), 480, 2940, 2355, 195)),
      chkPredefinita(makeCheck(this, "chkPredefinita", 3240)),
      Label8(makeLabel(this, "Label8", QStringLiteral("Imposta come predefinita"), 480, 3240, 2355, 195)),
      Shape3(place(new FilledShape(this), "Shape3", 120, 3480, 3915, 1395)),
      Label9(makeLabel(this, "Label9", QStringLiteral("UP"), 1980, 4500, 315, 195)),
      txtUp(makeText(this, "txtUp", 2340, 4500, 495, 225, SmallPoints)),
      Label10(makeLabel(this, "Label10", QStringLiteral("DW"), 3060, 4500, 315, 195)),
      txtDW(makeText(this, "txtDW", 3420, 4500, 495, 225, SmallPoints)),
      cmdOk(makeButton(this, "cmdOk", QStringLiteral("OK"), 660)),
      cmdConnetti(makeButton(this, "cmdConnetti", QStringLiteral("Connetti"), 1680)),
      cmdAnnulla(makeButton(this, "cmdAnnulla", QStringLiteral("ANNULLA"), 2700)), guard_(guard) {
    setObjectName(QStringLiteral("frmSetup"));
    setWindowTitle(QStringLiteral(" Setup"));
    setFont(interfaceFont(DialogPoints));
    setFixedSize(Twips::ToPixelsX(4155), Twips::ToPixelsY(5565));
    setAttribute(Qt::WA_OpaquePaintEvent);

    auto* title = new QLabel(QStringLiteral("Norvale 4.3"), picDemo);
    title->setFont(Subs::InterfaceFont(TitlePoints));
    title->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblInfo[0] = place(title, "lblInfo", 120, 60, 1155, 255);

    // The number and the user name are shown, not edited: an authorisation stores the number the
    // phonebook gave, never one typed here.
    for (QLineEdit* box : {txtNumero, txtLogin}) {
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, Global::ToQColor(ButtonFace));
        box->setPalette(palette);
        box->setReadOnly(true);
    }
    Shape3->SetFillColor(ButtonFace);
    for (int i = 0; i < int(optSpeed.size()); ++i) {
        auto* option = new QRadioButton(QLatin1String(SpeedCaptions[size_t(i)]), this);
        option->setFont(interfaceFont(DialogPoints));
        // Wide enough for the longest caption, "Definita dall'utente", which ends before the rate boxes.
        place(option, "optSpeed", SpeedPlaces[size_t(i)][0], SpeedPlaces[size_t(i)][1], 1800, 255);
        option->setProperty("Index", i);
        optSpeed[size_t(i)] = option;
    }
    // Lightweight shapes lie under every other control.
    Shape3->lower();
    Shape2->lower();
    Shape1->lower();
    // No default button: Enter typed in a rate box presses nothing.
    cmdAnnulla->setAutoDefault(false);
    cmdConnetti->setAutoDefault(false);
    cmdOk->setAutoDefault(false);

    QWidget* order[] = {lstDialEntry, txtNumero,   txtLogin,    chkAutorizza, chkPredefinita, optSpeed[0],
                        optSpeed[1],  optSpeed[2], optSpeed[6], optSpeed[3],  optSpeed[4],    optSpeed[5],
                        txtUp,        txtDW,       cmdOk,       cmdConnetti,  cmdAnnulla};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(lstDialEntry, &QListWidget::itemSelectionChanged, this, &frmSetup::lstDialEntry_Click);
    connect(chkAutorizza, &QCheckBox::toggled, this, &frmSetup::chkAutorizza_Click);
    connect(chkAutorizza, &PressCheckBox::MouseDown, this, &frmSetup::chkAutorizza_MouseDown);
    connect(chkAutorizza, &PressCheckBox::MouseUp, this, &frmSetup::chkAutorizza_MouseUp);
    connect(chkPredefinita, &QCheckBox::toggled, this, &frmSetup::chkPredefinita_Click);
    connect(chkPredefinita, &PressCheckBox::MouseDown, this, &frmSetup::chkPredefinita_MouseDown);
    connect(chkPredefinita, &PressCheckBox::MouseUp, this, &frmSetup::chkPredefinita_MouseUp);
    for (int i = 0; i < int(optSpeed.size()); ++i) {
        // Raised when the button becomes the selected one, by the user or by the program.
        connect(optSpeed[size_t(i)], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                optSpeed_Click(i);
        });
    }
    connect(txtUp, &QLineEdit::textChanged, this, &frmSetup::txtUp_Change);
    connect(txtDW, &QLineEdit::textChanged, this, &frmSetup::txtDW_Change);
    connect(cmdOk, &QPushButton::clicked, this, &frmSetup::cmdOk_Click);
    connect(cmdConnetti, &QPushButton::clicked, this, &frmSetup::cmdConnetti_Click);
    connect(cmdAnnulla, &QPushButton::clicked, this, &frmSetup::cmdAnnulla_Click);
    for (QObject* watched : std::initializer_list<QObject*>{picStart, picEnd, txtUp, txtDW})
        watched->installEventFilter(this);
    // Spoken by the caption beside each: no caption has a mnemonic that would make it a buddy.
    for (auto [control, label] : {std::pair<QWidget*, QLabel*>{picStart, Label1}, {picEnd, Label2}, {lstDialEntry, Label5},
                                  {txtNumero, Label3}, {txtLogin, Label6}, {chkAutorizza, Label7},
                                  {chkPredefinita, Label8}, {txtUp, Label9}, {txtDW, Label10}})
        control->setAccessibleName(label->text());
}

// ---- loading --------------------------------------------------------------------------------

void frmSetup::Form_Load(const QStringList& entries) {
    const Global::State& state = Global::state;
    createInfoCopy();
    Global::PaintGradient(*picDemo, state.StartColor, state.EndColor);
    picDemo->Refresh();
    picStart->SetBackColor(state.StartColor);
    picEnd->SetBackColor(state.EndColor);
    savedStartColor_ = state.StartColor;
    savedEndColor_ = state.EndColor;
    Global::PaintGradient(*this, state.StartColor, state.EndColor);
    // The guard brought its table in step with the phonebook when it opened the setup.
    lstDialEntry->clear();
    for (const QString& entry : entries)
        lstDialEntry->addItem(entry);
    // Left through its own buttons only.
    Subs::RemoveCloseItem(*this);
}

void frmSetup::createInfoCopy() {
    if (!lblInfo[1])
        lblInfo[1] = Subs::RedTitleCopy(*lblInfo[0]);
}

// ---- the gradient ---------------------------------------------------------------------------

// The frame belongs to the window manager and is not known before the dialog is first shown: the
// gradient spans the client area, the part the program draws.
double frmSetup::Height() const {
    return Twips::FromPixelsY(height());
}

double frmSetup::Width() const {
    return Twips::FromPixelsX(width());
}

void frmSetup::Line(double x1, double y1, double x2, double y2, qint32 colour) {
    Global::DrawLineInTwips(picture_, size(), Global::ToQColor(ButtonFace), x1, y1, x2, y2, colour);
    update();
}

void frmSetup::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Global::ToQColor(ButtonFace));
    painter.drawImage(0, 0, picture_);
}

void frmSetup::repaintColours() {
    const Global::State& state = Global::state;
    Global::PaintGradient(*picDemo, state.StartColor, state.EndColor);
    // The box keeps its picture off the screen until told to show it.
    picDemo->Refresh();
    Global::PaintGradient(*this, state.StartColor, state.EndColor);
}

// ---- the entry and its settings ---------------------------------------------------------------

int frmSetup::ListIndex() const {
    const QList<QListWidgetItem*> selected = lstDialEntry->selectedItems();
    return selected.isEmpty() ? -1 : lstDialEntry->row(selected.first());
}

QString frmSetup::SelectedName() const {
    const int index = ListIndex();
    return index < 0 ? QString() : lstDialEntry->item(index)->text();
}

void frmSetup::lstDialEntry_Click() {
    if (ListIndex() < 0)
        return;
    const QString name = SelectedName();
    guard_.ReadEntry(name, [this, self = QPointer(this), name](const QJsonObject& entry) {
        // Answered after the dialog went or closed, or after another entry was chosen.
        if (self && !self->closed_ && GuardClient::Succeeded(entry) && SelectedName() == name)
            showEntry(entry);
    });
}

// What selecting the entry shows; the boxes' own handlers then run as the user's changes do.
void frmSetup::showEntry(const QJsonObject& entry) {
    const qint16 result = qint16(entry.value(QStringLiteral("result")).toInt());
    row_ = EntryRow::From(entry);
    if (result == DialerControl::Done) {
        txtNumero->setText(entry.value(QStringLiteral("number")).toString());
        txtLogin->setText(entry.value(QStringLiteral("user")).toString());
        chkAutorizza->setChecked(row_.authorised);
        chkPredefinita->setChecked(row_.isDefault);
        selectSpeedOption(row_.speedType);
        txtUp->setText(QString::number(row_.SpeedOf(true)));
        txtDW->setText(QString::number(row_.SpeedOf(false)));
    } else {
        txtNumero->setText(QStringLiteral("-Errore:") + Convert::NumberText(result));
        txtLogin->setText(QString());
    }
}

void frmSetup::applyField(qint16 fieldCode, const QJsonValue& value) {
    guard_.SetField(SelectedName(), fieldCode, value);
    row_.Apply(fieldCode, value);
}

// A stored type outside the presets (a hand-edited settings file) selects no option: nothing is
// written for it, and the rate boxes stay open for the entry's own rates.
void frmSetup::selectSpeedOption(int index) {
    if (index >= 0 && index < int(optSpeed.size())) {
        optSpeed[size_t(index)]->setChecked(true);
        return;
    }
    for (QRadioButton* option : optSpeed) {
        option->setAutoExclusive(false);
        option->setChecked(false);
        option->setAutoExclusive(true);
    }
    txtUp->setEnabled(true);
    txtDW->setEnabled(true);
}

void frmSetup::chkAutorizza_Click() {
    if (ListIndex() < 0)
        return;
    applyField(Global::FieldAuthorised, chkAutorizza->isChecked());
    // The authorisation is tied to the number the phonebook gave when the entry was selected.
    applyField(Global::FieldNumber, txtNumero->text());
}

void frmSetup::chkAutorizza_MouseDown() {
    mouseOnCheck_ = true;
}

void frmSetup::chkAutorizza_MouseUp() {
    mouseOnCheck_ = false;
}

void frmSetup::chkPredefinita_Click() {
    // Only a change made with the mouse counts: the program's own and the keyboard's do not.
    if (!mouseOnCheck_)
        return;
    if (ListIndex() < 0)
        return;
    applyField(Global::FieldDefault, chkPredefinita->isChecked() ? QStringLiteral("true") : QStringLiteral("false"));
}

void frmSetup::chkPredefinita_MouseDown() {
    mouseOnCheck_ = true;
}

void frmSetup::chkPredefinita_MouseUp() {
    mouseOnCheck_ = false;
}

void frmSetup::optSpeed_Click(int Index) {
    if (ListIndex() < 0)
        return;
    const Global::State& state = Global::state;
    if (Index != 6) {
        txtUp->setEnabled(false);
        txtDW->setEnabled(false);
        txtUp->setText(QString::number(state.SpeedPresets[size_t(Index)][0]));
        txtDW->setText(QString::number(state.SpeedPresets[size_t(Index)][1]));
    } else {
        txtUp->setEnabled(true);
        txtDW->setEnabled(true);
        txtUp->setText(QString::number(row_.SpeedOf(true)));
        txtDW->setText(QString::number(row_.SpeedOf(false)));
        txtUp->setFocus();
    }
    applyField(Global::FieldSpeedType, Index);
    applyField(Global::FieldSpeedUp, Convert::LeadingNumber(txtUp->text()));
    applyField(Global::FieldSpeedDown, Convert::LeadingNumber(txtDW->text()));
}

void frmSetup::txtUp_Change() {
    rateChanged(txtUp, QStringLiteral("10"), Global::FieldSpeedUp);
}

void frmSetup::txtDW_Change() {
    rateChanged(txtDW, QStringLiteral("14"), Global::FieldSpeedDown);
}

// Setting the text from here raises the change handler again with the new text.
void frmSetup::rateChanged(QLineEdit* box, const QString& fallback, qint16 fieldCode) {
    const double value = Convert::LeadingNumber(box->text());
    if (value == 0.0)
        box->setText(fallback);
    else if (value > RateLimit)
        // The rate fields hold 16 bits: the box shows the largest rate they can keep.
        box->setText(QString::number(qint16(RateLimit)));
    if (ListIndex() >= 0)
        applyField(fieldCode, Convert::LeadingNumber(box->text()));
}

void frmSetup::txtUp_KeyPress(int& KeyAscii) {
    if (!Global::state.DigitKeys.contains(QChar(KeyAscii)))
        KeyAscii = 0;
}

void frmSetup::txtDW_KeyPress(int& KeyAscii) {
    if (!Global::state.DigitKeys.contains(QChar(KeyAscii)))
        KeyAscii = 0;
}

bool frmSetup::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == picStart) {
            picStart_DblClick();
            return true;
        }
        if (watched == picEnd) {
            picEnd_DblClick();
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress && (watched == txtUp || watched == txtDW)) {
        // Keys that type no character (arrows, Delete, Tab) are not key presses of the toolkit.
        // X11 gives Tab, Esc and Delete a text too: they stay focus, cancel and deletion.
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab || key->key() == Qt::Key_Escape ||
            key->key() == Qt::Key_Delete)
            return QDialog::eventFilter(watched, event);
        const QString text = key->text();
        for (const QChar character : text) {
            int keyAscii = character.unicode();
            if (watched == txtUp)
                txtUp_KeyPress(keyAscii);
            else
                txtDW_KeyPress(keyAscii);
            if (keyAscii == 0)
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- colours --------------------------------------------------------------------------------

void frmSetup::picStart_DblClick() {
    Global::State& state = Global::state;
    Colors::state.ChosenColour = state.StartColor;
    frmColors::ShowModal(this);
    if (Colors::state.ChosenColour == Colors::Cancelled)
        return;
    state.StartColor = Colors::state.ChosenColour;
    guard_.SetColours(state.StartColor, state.EndColor);
    picStart->SetBackColor(state.StartColor);
    repaintColours();
}

void frmSetup::picEnd_DblClick() {
    Global::State& state = Global::state;
    Colors::state.ChosenColour = state.EndColor;
    frmColors::ShowModal(this);
    if (Colors::state.ChosenColour == Colors::Cancelled)
        return;
    state.EndColor = Colors::state.ChosenColour;
    guard_.SetColours(state.StartColor, state.EndColor);
    picEnd->SetBackColor(state.EndColor);
    repaintColours();
}

// ---- buttons --------------------------------------------------------------------------------

void frmSetup::cmdConnetti_Click() {
    if (ListIndex() < 0)
        return;
    // The guard dials with the phonebook's write protection kept, then saves as "OK" does.
    // Whatever the authorisation: the connection events hang up a call on an unauthorised entry.
    guard_.DialEntry(SelectedName().trimmed());
    unload(QDialog::Accepted);
}

void frmSetup::cmdOk_Click() {
    guard_.SaveSettings();
    unload(QDialog::Accepted);
}

void frmSetup::cmdAnnulla_Click() {
    Global::State& state = Global::state;
    state.StartColor = savedStartColor_;
    state.EndColor = savedEndColor_;
    guard_.SetColours(state.StartColor, state.EndColor);
    unload(QDialog::Rejected);
}

void frmSetup::reject() {
    cmdAnnulla_Click();
}

void frmSetup::unload(int result) {
    closed_ = true;
    Form_Unload();
    guard_.CloseSetup();
    QDialog::done(result);
}
