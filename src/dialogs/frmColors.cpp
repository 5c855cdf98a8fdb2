#include "dialogs/frmColors.h"

#include "dialogs/Colors.h"
#include "dialogs/FilledShape.h"
#include "dialogs/PaletteBox.h"
#include "platform/Gradient.h"
#include "platform/InstallFolders.h"
#include "platform/SystemHelpers.h"
#include "platform/Twips.h"
#include "platform/WindowHelpers.h"
#include "settings/Global.h"

#include <QDir>
#include <QImageReader>
#include <QPushButton>
#include <QScrollBar>

namespace {

constexpr int ChannelMaximum = 255;

void place(QWidget& widget, int left, int top, int width, int height) {
    widget.setGeometry(Twips::ToPixelsX(left), Twips::ToPixelsY(top), Twips::ToPixelsX(width),
                       Twips::ToPixelsY(height));
}

QScrollBar* makeBar(Qt::Orientation orientation, QWidget* parent) {
    auto* bar = new QScrollBar(orientation, parent);
    bar->setRange(0, ChannelMaximum);
    bar->setSingleStep(1);
    bar->setPageStep(16);
    // Scroll bars take no focus in Qt; here they are stops of the tab order.
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

FilledShape* makeShape(qint32 colour, QWidget* parent) {
    auto* shape = new FilledShape(parent);
    shape->SetFillColor(colour);
    return shape;
}

} // namespace

frmColors::frmColors(QWidget* parent)
    : QDialog(parent), picTest(new PaletteBox(this)), scrLight(makeBar(Qt::Vertical, this)),
      shpTest(makeShape(0, this)), Shape1(makeShape(0x0000FF, this)), Shape2(makeShape(0x00C000, this)),
      Shape3(makeShape(0xFF0000, this)), scrRed(makeBar(Qt::Horizontal, this)),
      scrGreen(makeBar(Qt::Horizontal, this)), scrBlue(makeBar(Qt::Horizontal, this)),
      cmdOk(new QPushButton(QStringLiteral("OK"), this)),
      cmdAnnulla(new QPushButton(QStringLiteral("ANNULLA"), this)) {
    setWindowTitle(QStringLiteral(" Selezione colore"));
    // Fixed border, no minimise or maximise button.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(Twips::ToPixelsX(2760), Twips::ToPixelsY(4740));
    setModal(true);

    place(*picTest, 60, 60, 2655, 2835);
    place(*scrLight, 60, 2940, 195, 1215);
    place(*shpTest, 2520, 2940, 195, 1215);
    place(*Shape1, 300, 2940, 2175, 375);
    place(*Shape2, 300, 3360, 2175, 375);
    place(*Shape3, 300, 3780, 2175, 375);
    place(*scrRed, 360, 3000, 2055, 255);
    place(*scrGreen, 360, 3420, 2055, 255);
    place(*scrBlue, 360, 3840, 2055, 255);
    place(*cmdOk, 60, 4200, 1275, 495);
    place(*cmdAnnulla, 1440, 4200, 1275, 495);
    // No default button: Enter closes nothing.
    cmdOk->setAutoDefault(false);
    cmdAnnulla->setAutoDefault(false);
    // The backdrops lie under their bars.
    Shape1->lower();
    Shape2->lower();
    Shape3->lower();

    const std::pair<QWidget*, const char*> spoken[] = {{picTest, "Tavolozza"},     {scrLight, "Luminosità"},
                                                       {shpTest, "Colore scelto"}, {scrRed, "Rosso"},
                                                       {scrGreen, "Verde"},        {scrBlue, "Blu"}};
    for (auto [control, name] : spoken)
        control->setAccessibleName(QString::fromUtf8(name));

    setTabOrder(scrRed, scrGreen);
    setTabOrder(scrGreen, scrBlue);
    setTabOrder(scrBlue, cmdOk);
    setTabOrder(cmdOk, cmdAnnulla);
    setTabOrder(cmdAnnulla, picTest);
    setTabOrder(picTest, scrLight);

    // The light bar moves every channel by the distance from its last value, so a drag must count
    // once, when the bar is let go, not at every position on the way.
    scrLight->setTracking(false);

    connect(scrRed, &QScrollBar::valueChanged, this, &frmColors::scrRed_Change);
    connect(scrGreen, &QScrollBar::valueChanged, this, &frmColors::scrGreen_Change);
    connect(scrBlue, &QScrollBar::valueChanged, this, &frmColors::scrBlue_Change);
    connect(scrLight, &QScrollBar::valueChanged, this, &frmColors::scrLight_Change);
    connect(picTest, &PaletteBox::MouseMove, this, &frmColors::picTest_MouseMove);
    connect(picTest, &PaletteBox::Click, this, &frmColors::picTest_Click);
    connect(cmdOk, &QPushButton::clicked, this, &frmColors::cmdOk_Click);
    connect(cmdAnnulla, &QPushButton::clicked, this, &frmColors::cmdAnnulla_Click);

    loadPalette();
    Form_Initialize();
    Form_Load();
    scrRed->setFocus();
}

void frmColors::ShowModal(QWidget* owner) {
    frmColors dialog(owner);
    dialog.exec();
}

void frmColors::loadPalette() {
    QString folder = Global::state.AppFolder;
    if (folder.isEmpty())
        folder = Subs::WithTrailingSlash(InstallFolders::OfThisProgram().data);
    const QString path = folder + QLatin1String(Colors::PaletteFile);
    QImageReader reader(path);
    const QImage picture = reader.read();
    picTest->SetPicture(picture);
    // The bars still work without the picture; the box says what is missing.
    if (picture.isNull())
        picTest->SetNotice(
            QStringLiteral("Tavolozza non disponibile:\n%1").arg(QDir::toNativeSeparators(path)));
}

void frmColors::Form_Initialize() {
    Subs::RemoveCloseItem(*this);
}

void frmColors::Form_Load() {
    const qint32 colour = Colors::state.ChosenColour;
    shpTest->SetFillColor(colour);
    picTest->SetBackColor(colour);
    if (colour >= 0 && colour <= 0xFFFFFF) {
        scrRed->setValue(Global::RedOf(colour));
        scrGreen->setValue(Global::GreenOf(colour));
        scrBlue->setValue(Global::BlueOf(colour));
        return;
    }
    // A system colour (or a stray value) has no channels of its own: the bars take the colour
    // the sample shows.
    const QColor shown = Global::ToQColor(colour);
    scrRed->setValue(shown.red());
    scrGreen->setValue(shown.green());
    scrBlue->setValue(shown.blue());
}

qint32 frmColors::barsColour() const {
    return scrRed->value() + 256 * scrGreen->value() + 65536 * scrBlue->value();
}

void frmColors::scrRed_Change() {
    shpTest->SetFillColor(barsColour());
}

void frmColors::scrGreen_Change() {
    shpTest->SetFillColor(barsColour());
}

void frmColors::scrBlue_Change() {
    shpTest->SetFillColor(barsColour());
}

void frmColors::scrLight_Change() {
    const int delta = scrLight->value() - lastLight_;
    // A channel without room keeps its value while the others move.
    for (QScrollBar* bar : {scrRed, scrGreen, scrBlue}) {
        const int moved = bar->value() + delta;
        if (moved >= 0 && moved <= ChannelMaximum)
            bar->setValue(moved);
    }
    const qint32 colour = barsColour();
    shpTest->SetFillColor(colour);
    Colors::state.ChosenColour = colour;
    lastLight_ = qint16(scrLight->value());
}

void frmColors::picTest_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers, double x, double y) {
    lastX_ = x;
    lastY_ = y;
    if (button != Qt::LeftButton)
        return;
    const qint32 colour = picTest->Point(x, y);
    Colors::state.ChosenColour = colour;
    // Black and points outside the palette (-1) are passed over.
    if (colour > 0)
        pick(colour);
}

void frmColors::picTest_Click() {
    const qint32 colour = picTest->Point(lastX_, lastY_);
    // Outside the palette there is no colour to take.
    if (colour < 0)
        return;
    Colors::state.ChosenColour = colour;
    pick(colour);
}

void frmColors::pick(qint32 colour) {
    shpTest->SetFillColor(colour);
    scrRed->setValue(Global::RedOf(colour));
    scrGreen->setValue(Global::GreenOf(colour));
    scrBlue->setValue(Global::BlueOf(colour));
    // The light bar goes to its end as a new starting point, not as a step: counting from 255
    // makes the move a step of 0, so the picked colour stays as it was picked.
    lastLight_ = ChannelMaximum;
    scrLight->setValue(ChannelMaximum);
}

void frmColors::cmdOk_Click() {
    Colors::state.ChosenColour = barsColour();
    accept();
}

void frmColors::cmdAnnulla_Click() {
    Colors::state.ChosenColour = Colors::Cancelled;
    QDialog::reject();
}

void frmColors::reject() {
    cmdAnnulla_Click();
}
