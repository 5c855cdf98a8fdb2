#pragma once

#include <QWidget>

class QAction;
class QMenu;
class MainWindow;

// Carries the tray icon's pop-up menu; never shown itself, it lives as long as the program.
class frmMenu final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmMenu)

public:
    static constexpr const char* HelpFileName = "norvale.hlp";

    explicit frmMenu(MainWindow& main, QWidget* parent = nullptr);
    ~frmMenu() override;

    // Pops the menu up centred on x at y (twips, as the tray control reports a right press).
    void PopupTrayMenu(float x, float y);

    QMenu* const mnuTray;
    QAction* const mnuInfo;
    QAction* const mnuLinea0;
    QAction* const mnuDisconnetti;
    QAction* const mnuConnetti;
    QAction* const mnuHelp;
    QAction* const mnuLinea1;
    QAction* const mnuChiudi;

public slots:
    void mnuInfo_Click();
    void mnuDisconnetti_Click();
    void mnuConnetti_Click();
    void mnuHelp_Click();
    void mnuChiudi_Click();

private:
    QAction* addItem(const QString& name, const QString& caption);
    QAction* addSeparator(const QString& name);

    MainWindow& main_;
};
