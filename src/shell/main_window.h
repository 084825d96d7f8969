#pragma once

#include "channel/bank.h"
#include "channel/scan.h"
#include "channel/two_digit_entry.h"
#include "link/device_list.h"
#include "link/failure.h"
#include "link/link.h"
#include "link/settings_store.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>

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
class FailureReporter;
class LinkStatusLabel;
class PushButton;

// What the window shows that its controls were set to, kept as data as the
// handlers set it: read by scripts, never read back from the controls.
struct PanelShown
{
    int channel = 0;   // on the display
    int scanStart = 0; // the lists' choices
    int scanEnd = 19;
    QString term = QStringLiteral("1"); // the term field's text
};

// The panel's one working window. Layout and wiring only: the command bytes,
// the bank's arithmetic and the scan's states live in channel/, the port and
// the settings in link/, what scripts ask for in PanelRequests, and the boxes
// that tell of failures in FailureReporter. Controls carry their names as
// object names.
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
    const PanelShown &shown() const { return m_shown; }

    // Where Choose Device looks for the devices' stable links; tests give it a folder of their own.
    void setDeviceFolder(const QByteArray &folder) { m_deviceFolder = folder; }

    // Once the window shows: while the settings name no device for the
    // checked port and adapters are plugged in, Choose Device opens on them,
    // the one chosen when there is one. Nothing is saved unless it is confirmed.
    void offerDevice();

    // The steps a control's event takes, for requests that are not clicks.
    // cmdCH_Click throws Failed when the command cannot be sent.
    void cmdCH_Click(int Index);
    void chooseManual(); // Manual clicked
    // Start Scan with these values, which the window then shows in Auto;
    // nothing changes unless the outcome is Started.
    Scan::StartOutcome startScan(const QString &start, const QString &end, const QString &term);
    void stopScan(); // Stop Scan, when a scan was started
    void comeForward();

signals:
    // Anything scripts read changed: the channel, the bank, the scan, its values or the link.
    void stateChanged();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void buildStatusBar();
    void setTabOrder();

    void SelectChannel(int Ch);
    void mnuChNum_Click(int Index);
    void applyBank(int Index); // mnuChNum_Click without the save
    void cmdAuto_Click();
    void tmrScan_Timer();
    void optAuto_Click();
    void optMan_Click();
    void mnuCom_Click(int n);
    void mnuChooseDevice_Click();
    // Choose Device for port n, on its device current: the choice is saved, and the port reopens on it.
    void chooseDevice(int n, const QByteArray &current, const QString &introduction);
    void mnuAbout_Click();
    void mnuFileExit_Click();
    void Form_Unload();
    void channelTyped(const QString &text);

    void switchPort(int n, const std::function<void()> &steps);
    void save(const QString &key, const QString &text);
    void showScanState();
    void linkChanged(const LinkState &state);
    void linkFailed(const Failure &failure);
    void resizeToBank(int index);
    void fitScreen(); // the grid's scale, held down to what the screen has room for
    void centreDisplay();

    // Connects signal to a handler: every event reaches the window this way.
    template <typename Sender, typename Signal, typename Handler>
    void wire(const Sender *sender, Signal signal, Handler handler);
    // Runs a handler; a failure that stops it goes to the reporter, never into the event loop.
    void run(const std::function<void()> &handler);

    SettingsStore m_store;
    Link comScan{m_store};
    Scan m_scan;
    ScanSchedule m_schedule;
    QElapsedTimer m_clock;
    int ChCount = 0;
    PanelShown m_shown;
    TwoDigitEntry m_typed;
    QByteArray m_deviceFolder{kByIdFolder};
    FailureReporter *m_reporter = nullptr;

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
    LinkStatusLabel *lblLink = nullptr;

    QMenu *mnuComm = nullptr;
    QAction *mnuChooseDevice = nullptr;
    QMenu *mnuChannel = nullptr;
    QActionGroup *m_portEntries = nullptr; // mnuCom1, mnuCom2
    QActionGroup *m_bankEntries = nullptr; // mnuChNum(0) to mnuChNum(9)
};

} // namespace queltor
