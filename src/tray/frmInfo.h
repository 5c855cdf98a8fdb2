#pragma once

#include <QWidget>

class QLabel;
class QTimer;

// The info strip: a borderless yellow strip on top of other windows, centred on the screen, that
// shows one message and goes away by itself.
class frmInfo final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmInfo)

public:
    // Layout values in twips.
    static constexpr int ClientWidth = 7095;
    static constexpr int ClientHeight = 705;
    // Colour values, red in the low byte.
    static constexpr qint32 BackColour = 0x80FFFF; // RGB(255, 255, 128)
    static constexpr qint32 BlueColour = 0xFF0000; // RGB(0, 0, 255)

    explicit frmInfo(QWidget* parent = nullptr);
    ~frmInfo() override;

    // Loading: centred on the screen, on top, its life started.
    void Form_Load();

    QLabel* const Label1;
    QLabel* const lblInfo;
    QTimer* const tmrInfo;

public slots:
    // The life is over: off the top and gone.
    void tmrInfo_Timer();

protected:
    void paintEvent(QPaintEvent* event) override;
};
