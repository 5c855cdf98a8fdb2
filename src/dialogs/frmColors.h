#pragma once

#include <QDialog>

class FilledShape;
class PaletteBox;
class QPushButton;
class QScrollBar;

// The colour picker " Selezione colore". It opens on Colors::state.ChosenColour and leaves there
// the colour the user confirmed with "OK", or Colors::Cancelled. Loaded afresh for each use.
class frmColors final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmColors)

public:
    // Builds and loads the dialog, not yet shown.
    explicit frmColors(QWidget* parent = nullptr);

    // The calling protocol: set ChosenColour, call this (it returns once the dialog has closed),
    // then adopt ChosenColour unless it is Colors::Cancelled.
    static void ShowModal(QWidget* owner);

    PaletteBox* const picTest;
    QScrollBar* const scrLight;
    FilledShape* const shpTest;
    FilledShape* const Shape1;
    FilledShape* const Shape2;
    FilledShape* const Shape3;
    QScrollBar* const scrRed;
    QScrollBar* const scrGreen;
    QScrollBar* const scrBlue;
    QPushButton* const cmdOk;
    QPushButton* const cmdAnnulla;

    // The light bar's value after its last change.
    qint16 LastLight() const { return lastLight_; }

    void Form_Initialize();
    void Form_Load();
    void picTest_Click();
    // x and y in twips from the palette's inner corner.
    void picTest_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, double x, double y);
    void scrRed_Change();
    void scrGreen_Change();
    void scrBlue_Change();
    void scrLight_Change();
    void cmdOk_Click();
    void cmdAnnulla_Click();

    // Esc, and any close the program asks for, are "ANNULLA".
    void reject() override;

private:
    qint32 barsColour() const;
    void pick(qint32 colour);
    void loadPalette();

    qint16 lastLight_ = 0;
    double lastX_ = 0.0;
    double lastY_ = 0.0;
};
