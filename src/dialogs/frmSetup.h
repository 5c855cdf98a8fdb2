#pragma once

#include <QDialog>
#include "dialogs/EntryRow.h"

#include <QImage>
#include <QJsonObject>

#include <array>

class GuardClient;
class EntryListBox;
class FilledShape;
class PictureBox;
class PressCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The setup dialog " Setup": authorises phonebook entries, marks the default connection, sets each
// entry's line speeds, dials an entry for a try and picks the two gradient colours. Every change is
// applied to ConnectionTable at once; "OK" saves the settings, "ANNULLA" only puts the colours back.
//
// As in the toolkit the dialog was drawn for, a state change made by the program raises the same
// handler as a user's change: check boxes and option buttons report through toggled, text boxes
// through textChanged, the entry list through its selection.
class frmSetup final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSetup)

public:
    // The guard keeps the table; the dialog reads and changes it through the main window's client,
    // which outlives the dialog.
    explicit frmSetup(GuardClient& guard, QWidget* parent = nullptr);

    // Loading, with the phonebook's entries as the guard listed them when it opened the setup.
    void Form_Load(const QStringList& entries);
    void Form_Unload() {}

    // The selected line of the entry list, -1 for none, and its text.
    int ListIndex() const;
    QString SelectedName() const;
    bool MouseOnCheck() const { return mouseOnCheck_; }
    qint32 SavedStartColor() const { return savedStartColor_; }
    qint32 SavedEndColor() const { return savedEndColor_; }

    // The dialog as a gradient target: client size in twips and a line in twips.
    double Height() const;
    double Width() const;
    void Line(double x1, double y1, double x2, double y2, qint32 colour);

    QLabel* const Label4;
    QFrame* const Shape1;
    PictureBox* const picStart;
    QLabel* const Label1;
    PictureBox* const picEnd;
    QLabel* const Label2;
    PictureBox* const picDemo;
    // lblInfo(1), the red offset copy, exists from Form_Load on.
    std::array<QLabel*, 2> lblInfo{};
    QLabel* const Label5;
    QFrame* const Shape2;
    EntryListBox* const lstDialEntry;
    QLabel* const Label3;
    QLineEdit* const txtNumero;
    QLabel* const Label6;
    QLineEdit* const txtLogin;
    PressCheckBox* const chkAutorizza;
    QLabel* const Label7;
    PressCheckBox* const chkPredefinita;
    QLabel* const Label8;
    FilledShape* const Shape3;
    std::array<QRadioButton*, 7> optSpeed{};
    QLabel* const Label9;
    QLineEdit* const txtUp;
    QLabel* const Label10;
    QLineEdit* const txtDW;
    QPushButton* const cmdOk;
    QPushButton* const cmdConnetti;
    QPushButton* const cmdAnnulla;

public slots:
    void lstDialEntry_Click();
    void chkAutorizza_Click();
    void chkAutorizza_MouseDown();
    void chkAutorizza_MouseUp();
    void chkPredefinita_Click();
    void chkPredefinita_MouseDown();
    void chkPredefinita_MouseUp();
    void optSpeed_Click(int Index);
    void txtUp_Change();
    void txtDW_Change();
    void picStart_DblClick();
    void picEnd_DblClick();
    void cmdConnetti_Click();
    void cmdOk_Click();
    void cmdAnnulla_Click();

public:
    // A key whose character is not one of DigitKeys comes back as 0: dropped.
    void txtUp_KeyPress(int& KeyAscii);
    void txtDW_KeyPress(int& KeyAscii);

    // Esc, and any close the program asks for, are "ANNULLA".
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createInfoCopy();
    void selectSpeedOption(int index);
    void rateChanged(QLineEdit* box, const QString& fallback, qint16 fieldCode);
    void showEntry(const QJsonObject& entry);
    // Changes the field in the guard's table, and in the dialog's copy of the selected entry's row.
    void applyField(qint16 fieldCode, const QJsonValue& value);
    void repaintColours();
    void unload(int result);

    GuardClient& guard_;
    EntryRow row_;
    QImage picture_;
    qint32 savedStartColor_ = 0;
    qint32 savedEndColor_ = 0;
    bool mouseOnCheck_ = false;
    bool closed_ = false;
};
