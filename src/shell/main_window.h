#pragma once

#include "channel/bank.h"
#include "channel/scan.h"
#include "channel/two_digit_entry.h"
#include "link/device_list.h"
#include "link/link.h"
#include "link/settings_store.h"
#include "remote/protocol.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMessageBox>
#include <QStringList>

#include <array>
#include <functional>

class QAction;
class QActionGroup;
class QGroupBox;
class QLineEdit;
class QMenu;
class QRadioButton;
class QTimer;

namespace queltor {

class ChannelButton;
class ChannelDisplay;
class ChannelList;
class LinkStatusLabel;
class PushButton;

// The panel's one working window. Layout and wiring only: the command bytes,
// the bank's arithmetic and the scan's states live in channel/, the port and
// the settings in link/. Controls carry their names as object names.
//
// Naming: the controls and their handlers keep the names the panel's behaviour
// is written in (frmMain, cmdCH, lblCH, comScan, ChCount, cmdAuto_Click,
// Form_Load), so the two read side by side; everything else is ordinary Qt
// style, camelCase with m_ members.
class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    // The settings are the user's own unless another file is named on the command line.
    explicit frmMain(const SettingsStore &store = SettingsStore(), QWidget *parent = nullptr);
    ~frmMain() override;

    // Restores the saved port and channel count and opens the port; call once, before show().
    void Form_Load();

    int channelCount() const { return ChCount; }
    const Scan &scan() const { return m_scan; }
    const Link &port() const { return comScan; }

    // Where Choose Device looks for the devices' stable links; tests give it a folder of their own.
    void setDeviceFolder(const QByteArray &folder) { m_deviceFolder = folder; }

    // Once the window shows: while the settings name no device for the
    // checked port and adapters are plugged in, Choose Device opens on them,
    // the one chosen when there is one. Nothing is saved unless it is confirmed.
    void offerDevice();

    // A request from a script (queltor-ctl), taken the way the controls take
    // the operator's: a select is a click, a scan is Auto and Start Scan. A
    // failure goes back in the reply and never into a message box.
    remote::Reply answer(const remote::Request &request);

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void setTabOrder();

    void SelectChannel(int Ch);
    void cmdCH_Click(int Index);
    void mnuChNum_Click(int Index);
    void applyBank(int Index); // mnuChNum_Click without the save
    void cmdAuto_Click();
    void tmrScan_Timer();
    void optAuto_Click();
    void optMan_Click();
    void mnuCom_Click(int n);
    void mnuChooseDevice_Click();
    void useDevice(int n, const QByteArray &path); // Choose Device's choice for port n, confirmed
    void mnuAbout_Click();
    void mnuFileExit_Click();
    void Form_Unload();
    void channelTyped(const QString &text);

    Scan::StartOutcome startScan(); // Start Scan with the lists and term as they stand
    void stopScan();                // Stop Scan, when a scan was started
    void showScanState();
    void buildStatusBar();
    void linkChanged(const LinkState &state);

    remote::Reply scriptedSelect(int Ch);
    remote::Reply scriptedScan(const remote::Request &request);
    remote::Reply scriptedStop();
    remote::PanelStatus status() const;
    void comeForward();
    // Whether the device is reachable, as the status reports it.
    bool linkConnected() const;
    void resizeToBank(int index);
    void centreOnScreen(Qt::Orientations directions);
    void fitScreen(); // the grid's scale, held down to what the screen has room for
    void centreDisplay();

    // Runs a handler the way every event reaches the window: failures are
    // collected, never thrown into the event loop, and shown once it returns.
    void handle(const std::function<void()> &handler);
    void noteFailure(const std::function<void()> &step);
    void reportFailures();
    void showMessage(QMessageBox::Icon icon, const QString &title, const QString &text);

    SettingsStore m_store;
    Link comScan{m_store};
    Scan m_scan;
    ScanSchedule m_schedule;
    QElapsedTimer m_clock;
    int ChCount = 0;
    bool m_placed = false; // centred on the screen with the frame it was given
    QStringList m_failures;
    TwoDigitEntry m_typed;
    QByteArray m_deviceFolder{kByIdFolder};

    QWidget *m_client = nullptr;
    QGroupBox *fraAuto = nullptr;
    QRadioButton *optAuto = nullptr;
    QGroupBox *fraCh = nullptr;
    ChannelDisplay *lblCH = nullptr;
    PushButton *cmdAuto = nullptr;
    ChannelList *cboStart = nullptr;
    ChannelList *cboEnd = nullptr;
    QLineEdit *txtTerm = nullptr;
    QRadioButton *optMan = nullptr;
    QGroupBox *fraMan = nullptr;
    std::array<ChannelButton *, bank::kButtonCount> cmdCH{};
    QTimer *tmrScan = nullptr;
    LinkStatusLabel *m_linkStatus = nullptr;

    QMenu *mnuComm = nullptr;
    QAction *mnuChooseDevice = nullptr;
    QMenu *mnuChannel = nullptr;
    QActionGroup *m_portEntries = nullptr; // mnuCom1, mnuCom2
    QActionGroup *m_bankEntries = nullptr; // mnuChNum(0) to mnuChNum(9)
};

} // namespace queltor
