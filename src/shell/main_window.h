#pragma once

#include "channel/scan.h"
#include "link/serial_port.h"
#include "link/settings_store.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>

#include <array>
#include <functional>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;

namespace queltor {

// The panel's one working window. Layout and wiring only: the command bytes,
// the bank's arithmetic and the scan's states live in channel/, the port and
// the settings in link/. Controls carry their names as object names.
class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // Restores the saved port and channel count and opens the port; call once, before show().
    void Form_Load();

    int channelCount() const { return ChCount; }
    const Scan &scan() const { return m_scan; }
    const SerialPort &port() const { return comScan; }
    // The window height the bank asks for, title bar and menu bar included.
    int nominalHeightTwips() const { return m_nominalHeightTwips; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void setTabOrder();

    void SelectChannel(int Ch);
    void cmdCH_Click(int Index);
    void mnuChNum_Click(int Index);
    void cmdAuto_Click();
    void tmrScan_Timer();
    void optAuto_Click();
    void optMan_Click();
    void mnuCom_Click(int n);
    void mnuAbout_Click();
    void mnuFileExit_Click();
    void Form_Unload();
    bool cboStart_KeyPress(const QKeyEvent *key) const;
    bool cboEnd_KeyPress(const QKeyEvent *key) const;

    void showScanState();
    void resizeToBank(int Index);
    void centreDisplay();

    // Runs a handler the way every event reaches the window: failures are
    // collected, never thrown into the event loop, and shown once it returns.
    void handle(const std::function<void()> &handler);
    void noteFailure(const std::function<void()> &step);
    void reportFailures();
    void showMessage(const QString &title, const QString &text);

    SettingsStore m_store;
    SerialPort comScan{m_store};
    Scan m_scan;
    ScanSchedule m_schedule;
    QElapsedTimer m_clock;
    int ChCount = 0;
    int m_nominalHeightTwips = 0;
    QStringList m_failures;

    QWidget *m_client = nullptr;
    QGroupBox *fraAuto = nullptr;
    QRadioButton *optAuto = nullptr;
    QGroupBox *fraCh = nullptr;
    QLabel *lblCH = nullptr;
    QPushButton *cmdAuto = nullptr;
    QComboBox *cboStart = nullptr;
    QComboBox *cboEnd = nullptr;
    QLineEdit *txtTerm = nullptr;
    QRadioButton *optMan = nullptr;
    QGroupBox *fraMan = nullptr;
    std::array<QPushButton *, 100> cmdCH{};
    QTimer *tmrScan = nullptr;

    QMenu *mnuComm = nullptr;
    QMenu *mnuChannel = nullptr;
    QAction *mnuCom1 = nullptr;
    QAction *mnuCom2 = nullptr;
    std::array<QAction *, 10> mnuChNum{};
};

} // namespace queltor
