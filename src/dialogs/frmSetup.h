#pragma once

#include <QDialog>

class DialerControl;
class EntryListBox;

// The setup dialog. So far it carries what its loading needs: the entry list that the phonebook
// synchronisation fills, and the colours it starts from.
class frmSetup final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSetup)

public:
    // rasDial is the main window's dial-up component; it outlives the dialog.
    explicit frmSetup(DialerControl& rasDial, QWidget* parent = nullptr);

    // Loading: brings the entry list and ConnectionTable in step with the phonebook and ends by
    // setting SetupReady. Outside start-up the phonebook lock is released around the reading.
    void Form_Load();

    EntryListBox* const lstDialEntry;

private:
    DialerControl& rasDial_;
    qint32 savedStartColor_ = 0;
    qint32 savedEndColor_ = 0;
};
