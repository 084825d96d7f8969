#include "shell/main_window.h"

#include "channel/bank.h"
#include "channel/command.h"
#include "channel/numbers.h"
#include "link/device_watch.h"
#include "link/link_error.h"
#include "link/port_choice.h"
#include "link/stored_choices.h"
#include "shell/about_box.h"
#include "shell/accessibility.h"
#include "shell/controls.h"
#include "shell/device_dialog.h"
#include "shell/frame_box.h"
#include "shell/twips.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <chrono>
#include <thread>

namespace queltor {

namespace {

constexpr int kClientWidth = 9195;
constexpr int kBuiltClientHeight = 5085;
constexpr int kDisplayFrameWidth = 1245;
// Below the button frame, the same margin the frames keep from the sides.
constexpr int kClientBottomMargin = 90;
// Set > Serial Port offers COM1 up to this one.
constexpr int kMenuPorts = 2;

template <typename Widget>
Widget *place(Widget *widget, const char *name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(twips::rect(left, top, width, height));
    return widget;
}

// Labels with auto-size keep their top-left corner and take the text's size.
QLabel *autoSizeLabel(QWidget *parent, const char *name, const QString &text, int left, int top)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(twips::point(left, top));
    label->adjustSize();
    return label;
}

// The label's mnemonic moves the focus to the field, and screen readers call the field by the label.
void labelField(QLabel *label, QWidget *field)
{
    label->setBuddy(field);
    label->adjustSize(); // with a buddy the mark is an underline, no longer a character
    field->setAccessibleName(spokenCaption(label->text()));
}

// "&10" to "&90", then "10&0": a digit of its own for every entry.
QString bankEntryCaption(int index)
{
    const QString count = QString::number(bank::channelCount(index));
    return count.size() < 3 ? QLatin1Char('&') + count : count.left(2) + QLatin1Char('&') + count.mid(2);
}

void setBold(QWidget *widget, bool bold)
{
    if (widget->font().bold() == bold)
        return; // spares a relayout of 99 buttons on every selection
    QFont font = widget->font();
    font.setBold(bold);
    widget->setFont(font);
}

// The one place check marks are set: the entry standing for value, or none
// when no entry does (a port the menu does not offer).
void checkEntry(const QActionGroup *entries, int value)
{
    for (QAction *entry : entries->actions())
        entry->setChecked(entry->data().toInt() == value);
}

} // namespace

frmMain::frmMain(const SettingsStore &store, QWidget *parent)
    : QMainWindow(parent)
    , m_store(store)
{
    installAccessibility();
    setWindowTitle(QStringLiteral("QUELTOR"));
    setWindowIcon(QIcon(QStringLiteral(":/queltor.png")));
    // The layout is absolute: the outer size follows the bank, never the user.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // The bars first: the grid is scaled to leave room for them on the screen.
    buildMenus();
    buildStatusBar();
    fitScreen();
    buildControls();
    setTabOrder();

    m_client->setFixedSize(twips::toPixels(kClientWidth), twips::toPixels(kBuiltClientHeight));
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    setCentralWidget(m_client);

    fraAuto = place(new FrameBox(m_client), "fraAuto", 90, 60, 9015, 1095);
    fraAuto->setEnabled(false);

    fraCh = place(new FrameBox(tr("Channel"), fraAuto), "fraCh", 7590, 120, kDisplayFrameWidth, 885);
    lblCH = new ChannelDisplay(QStringLiteral("00"), fraCh);
    lblCH->setObjectName(QStringLiteral("lblCH"));
    lblCH->setAccessibleName(fraCh->title());
    lblCH->move(twips::point(270, 210));
    // Where Gulim is missing, the desktop's own font: the one the system would
    // put in its place changes with the language, and so would the digits.
    QFont displayFont;
    displayFont.setFamilies({QStringLiteral("굴림"), QStringLiteral("Gulim"), QApplication::font().family()});
    displayFont.setStyleHint(QFont::SansSerif);
    displayFont.setPointSizeF(twips::points(30));
    displayFont.setBold(true);
    lblCH->setFont(displayFont);
    lblCH->followPalette();
    lblCH->adjustSize();

    cmdAuto = place(new PushButton(tr("Start Scan"), fraAuto), "cmdAuto", 6210, 240, 1275, 735);
    QLabel *startLabel = autoSizeLabel(fraAuto, "Label1", tr("S&tart CH:"), 180, 300);
    cboStart = place(new ChannelList(fraAuto), "cboStart", 1050, 240, 645, 300);
    labelField(startLabel, cboStart);
    QLabel *endLabel = autoSizeLabel(fraAuto, "Label2", tr("&End CH:"), 180, 690);
    cboEnd = place(new ChannelList(fraAuto), "cboEnd", 1050, 630, 645, 300);
    labelField(endLabel, cboEnd);
    for (QComboBox *list : {cboStart, cboEnd}) {
        // An edit field that shows the choice; only the drop-down and the arrow keys
        // change it. Being read-only, it cancels every typed character, which is all
        // cboStart_KeyPress and cboEnd_KeyPress ever did.
        list->setEditable(true);
        list->setInsertPolicy(QComboBox::NoInsert);
        list->lineEdit()->setReadOnly(true);
    }
    cboStart->setEditText(QStringLiteral("0"));
    cboEnd->setEditText(QStringLiteral("19"));
    QLabel *termLabel = autoSizeLabel(fraAuto, "Label3", tr("Scan Te&rm:"), 2100, 300);
    txtTerm = place(new QLineEdit(QStringLiteral("1"), fraAuto), "txtTerm", 3150, 240, 525, 270);
    labelField(termLabel, txtTerm);
    autoSizeLabel(fraAuto, "Label4", tr("sec"), 3690, 300);

    fraMan = place(new FrameBox(m_client), "fraMan", 90, bank::kFrameTop, 9015, 3765);
    for (int i = 0; i < bank::kButtonCount; ++i) {
        auto *button = new ChannelButton(fraMan);
        button->setObjectName(QStringLiteral("cmdCH(%1)").arg(i));
        button->setGeometry(
            twips::rect(bank::buttonLeft(i), bank::buttonTop(i), bank::kButtonWidth, bank::kButtonHeight));
        connect(button, &QPushButton::clicked, this, [this, i] { handle([this, i] { cmdCH_Click(i); }); });
        connect(button, &ChannelButton::typed, this, [this](const QString &text) { channelTyped(text); });
        cmdCH[static_cast<std::size_t>(i)] = button;
    }
    new ChannelGrid(cmdCH, fraMan);

    // The option buttons stand in the window, on the frames' top edges, as their
    // titles: disabling a frame leaves them usable.
    optAuto = place(new QRadioButton(tr("&Auto"), m_client), "optAuto", 210, 60, 675, 225);
    optMan = place(new QRadioButton(tr("&Manual"), m_client), "optMan", 210, 1200, 945, 225);
    optMan->setChecked(true);
    // The frames have no titles of their own: their option buttons stand for them.
    fraAuto->setAccessibleName(spokenCaption(optAuto->text()));
    fraMan->setAccessibleName(spokenCaption(optMan->text()));
    for (QRadioButton *option : {optAuto, optMan}) {
        option->setAutoFillBackground(true);
        // Never narrower than its caption, whatever the platform's font.
        option->resize(qMax(option->width(), option->sizeHint().width()), option->height());
        option->raise();
    }

    auto *line = place(new QWidget(m_client), "Line1", 30, 0, 9150 - 30, 15);
    line->setStyleSheet(QStringLiteral("background-color: rgb(128, 128, 128);"));

    tmrScan = new QTimer(this);
    tmrScan->setObjectName(QStringLiteral("tmrScan"));
    tmrScan->setTimerType(Qt::PreciseTimer);
    // Re-armed by every tick against the scan's own grid (see tmrScan_Timer).
    tmrScan->setSingleShot(true);
    m_clock.start();

    connect(cmdAuto, &QPushButton::clicked, this, [this] { handle([this] { cmdAuto_Click(); }); });
    connect(optAuto, &QRadioButton::clicked, this, [this] { handle([this] { optAuto_Click(); }); });
    connect(optMan, &QRadioButton::clicked, this, [this] { handle([this] { optMan_Click(); }); });
    connect(tmrScan, &QTimer::timeout, this, [this] { handle([this] { tmrScan_Timer(); }); });
}

// Below the client area, which keeps its size: the window grows by the bar's height.
void frmMain::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setSizeGripEnabled(false);
    m_linkStatus = new LinkStatusLabel(bar);
    m_linkStatus->setObjectName(QStringLiteral("lblLink"));
    bar->addWidget(m_linkStatus, 1);
    linkChanged(comScan.state());
    connect(&comScan, &Link::stateChanged, this, &frmMain::linkChanged);
}

void frmMain::buildMenus()
{
    const auto action = [this](QMenu *menu, const QString &caption, const QString &name) {
        QAction *entry = menu->addAction(caption);
        entry->setObjectName(name);
        return entry;
    };
    const auto menu = [this](QMenu *parent, const QString &title, const QString &name) {
        QMenu *entry = parent ? parent->addMenu(title) : menuBar()->addMenu(title);
        entry->setObjectName(name);
        return entry;
    };
    // An entry of a choice list: checkable, exclusive within its group, carrying its value.
    const auto choice = [this](QActionGroup *group, QAction *entry, int value) {
        entry->setCheckable(true);
        entry->setData(value);
        group->addAction(entry);
        return entry;
    };

    QMenu *mnuFile = menu(nullptr, tr("&File"), QStringLiteral("mnuFile"));
    QAction *mnuFileExit = action(mnuFile, tr("E&xit"), QStringLiteral("mnuFileExit"));
    mnuFileExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(mnuFileExit, &QAction::triggered, this, [this] { mnuFileExit_Click(); });

    QMenu *mnuSet = menu(nullptr, tr("&Set"), QStringLiteral("mnuSet"));
    mnuComm = menu(mnuSet, tr("Serial &Port"), QStringLiteral("mnuComm"));
    m_portEntries = new QActionGroup(this);
    for (int n = 1; n <= kMenuPorts; ++n) {
        QAction *entry = action(mnuComm, QStringLiteral("com&%1").arg(n), QStringLiteral("mnuCom%1").arg(n));
        connect(choice(m_portEntries, entry, n), &QAction::triggered, this,
                [this, n] { handle([this, n] { mnuCom_Click(n); }); });
    }
    mnuChooseDevice = action(mnuComm, tr("Choose &Device…"), QStringLiteral("mnuChooseDevice"));
    connect(mnuChooseDevice, &QAction::triggered, this, [this] { handle([this] { mnuChooseDevice_Click(); }); });

    mnuChannel = menu(mnuSet, tr("&Channel Count"), QStringLiteral("mnuChannel"));
    m_bankEntries = new QActionGroup(this);
    for (int k = 0; k < bank::kIndexCount; ++k) {
        QAction *entry = action(mnuChannel, bankEntryCaption(k), QStringLiteral("mnuChNum(%1)").arg(k));
        connect(choice(m_bankEntries, entry, k), &QAction::triggered, this,
                [this, k] { handle([this, k] { mnuChNum_Click(k); }); });
    }

    QMenu *mnuHelp = menu(nullptr, tr("&Help"), QStringLiteral("mnuHelp"));
    connect(action(mnuHelp, tr("&About"), QStringLiteral("mnuAbout")), &QAction::triggered, this,
            [this] { handle([this] { mnuAbout_Click(); }); });
}

void frmMain::setTabOrder()
{
    QList<QWidget *> order{optMan, optAuto, cboStart, cboEnd, txtTerm, cmdAuto};
    for (ChannelButton *button : cmdCH)
        order.append(button);
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void frmMain::Form_Load()
{
    handle([this] {
        const StoredChoices stored = readStoredChoices(m_store);
        m_failures << stored.warnings;
        comScan.setCommPort(stored.port);
        checkEntry(m_portEntries, comScan.commPort());
        // The count is saved only when start-up chose it: a stored one stays
        // as written ("9E0" too). A file that cannot be used is not written,
        // nor is a port opened that it may map elsewhere; its warning says so.
        if (stored.fileUsable && !stored.bankStored)
            mnuChNum_Click(stored.bankIndex);
        else
            applyBank(stored.bankIndex);
        if (stored.fileUsable)
            noteFailure([this] { comScan.setPortOpen(true); });
    });
}

void frmMain::SelectChannel(int Ch)
{
    if (!isChannel(Ch))
        throw LinkError(tr("Channel %1 does not exist; nothing was sent.").arg(Ch));
    // The command goes out first: the display only ever shows what the device was told.
    comScan.output(channelCommand(Ch));
    lblCH->showValue(channelDisplayText(Ch));
    for (int i = 0; i < bank::kButtonCount; ++i) {
        setBold(cmdCH[static_cast<std::size_t>(i)], i == Ch);
        cmdCH[static_cast<std::size_t>(i)]->setSelected(i == Ch);
    }
    centreDisplay();
}

void frmMain::centreDisplay()
{
    lblCH->adjustSize();
    const double left = (kDisplayFrameWidth - twips::fromPixels(lblCH->width())) / 2.0;
    lblCH->move(twips::toPixels(left), lblCH->y());
}

void frmMain::cmdCH_Click(int Index) { SelectChannel(Index); }

void frmMain::channelTyped(const QString &text)
{
    const std::optional<int> channel = m_typed.type(text, m_clock.elapsed());
    // Buttons take keys only while they are enabled, in Manual mode; a channel beyond the bank has no button.
    if (!channel || *channel >= ChCount || !m_scan.manualFrameEnabled())
        return;
    // As a click on its button would: the focus goes there too.
    const int Index = *channel;
    cmdCH[static_cast<std::size_t>(Index)]->setFocus(Qt::ShortcutFocusReason);
    handle([this, Index] { cmdCH_Click(Index); });
}

void frmMain::mnuChNum_Click(int Index)
{
    // Saved first; if the store refuses, the bank still changes for this run.
    noteFailure([this, Index] { m_store.write(SettingsStore::kChNum, decimalText(Index)); });
    applyBank(Index);
}

void frmMain::applyBank(int Index)
{
    ChCount = bank::channelCount(Index);

    cboStart->clear();
    cboEnd->clear();
    const QStringList items = bank::listItems(Index);
    cboStart->addItems(items);
    cboEnd->addItems(items);
    cboStart->setCurrentIndex(0);
    cboEnd->setCurrentIndex(ChCount - 1);

    for (int i = 0; i < bank::kButtonCount; ++i)
        cmdCH[static_cast<std::size_t>(i)]->setText(bank::buttonCaption(i));
    for (int i = 0; i < bank::kButtonCount; ++i)
        cmdCH[static_cast<std::size_t>(i)]->setVisible(bank::buttonVisible(i, Index));
    checkEntry(m_bankEntries, Index);

    resizeToBank(Index);
}

void frmMain::resizeToBank(int index)
{
    const int frameHeight = bank::frameHeight(index);
    fraMan->resize(fraMan->width(), twips::toPixels(frameHeight));

    // The client area ends the same margin below the last row in every bank; the
    // platform's title bar, menu bar and borders come on top of it.
    m_client->setFixedSize(twips::toPixels(kClientWidth),
                           twips::toPixels(bank::kFrameTop + frameHeight + kClientBottomMargin));
    adjustSize();
    centreOnScreen(Qt::Vertical);
}

void frmMain::centreOnScreen(Qt::Orientations directions)
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The outer size counts the frame once the window has one; move() places the frame.
    // Where the window is larger than the screen, its title bar and menus stay on it.
    const QSize outer = frameGeometry().size();
    const QRect area = screen->availableGeometry();
    const int left = directions & Qt::Horizontal ? area.x() + qMax(0, (area.width() - outer.width()) / 2) : x();
    const int top = directions & Qt::Vertical ? area.y() + qMax(0, (area.height() - outer.height()) / 2) : y();
    move(left, top);
}

void frmMain::fitScreen()
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The frame comes from the window manager once shown: a title bar and borders as the style draws them.
    const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    const QSize frame(2 * border, style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * border);
    const QSize bars(0, menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    // The tallest bank: the window must fit whichever is chosen later.
    const int tallest = bank::kFrameTop + bank::frameHeight(bank::kIndexCount - 1) + kClientBottomMargin;
    twips::fitWithin(QSizeF(kClientWidth, tallest), frame + bars, screen->availableGeometry().size());
}

bool frmMain::event(QEvent *event)
{
    // First shown at the centre of the screen. A window manager frames the window
    // only after it is shown, and the frame makes it taller: centre again then.
    if (!m_placed && (event->type() == QEvent::Show || (event->type() == QEvent::Move && isVisible()))) {
        const bool framed = frameGeometry().size() != size();
        if (event->type() == QEvent::Show || framed)
            centreOnScreen(Qt::Horizontal | Qt::Vertical);
        m_placed = framed;
    }
    return QMainWindow::event(event);
}

void frmMain::cmdAuto_Click()
{
    if (m_scan.started()) {
        stopScan();
        return;
    }
    switch (startScan()) {
    case Scan::StartOutcome::EndBelowStart:
        showMessage(QMessageBox::Information, tr("Channel Error"), tr("Set Start CH less than End CH..."));
        cboStart->setFocus();
        return;
    case Scan::StartOutcome::TermOutOfRange:
        showMessage(QMessageBox::Information, tr("Scan Term Error"), tr("Set Scan Term between 0 and 65.535 sec..."));
        txtTerm->setFocus();
        return;
    case Scan::StartOutcome::Started:
        return;
    }
}

Scan::StartOutcome frmMain::startScan()
{
    const Scan::StartOutcome outcome = m_scan.start(cboStart->currentText(), cboEnd->currentText(), txtTerm->text());
    if (outcome != Scan::StartOutcome::Started)
        return outcome;
    // A Qt timer with interval 0 would fire on every pass of the event loop;
    // here 0 means armed but silent until Stop Scan.
    if (m_scan.intervalMs() > 0)
        tmrScan->start(m_schedule.start(m_clock.nsecsElapsed(), m_scan.intervalMs()));
    showScanState();
    return outcome;
}

void frmMain::tmrScan_Timer()
{
    // Qt's own repeating timer restarts from "now" after a late tick, so one
    // stall would shift every later tick; the grid keeps the scan on time.
    // The timer was armed early by at most ScanSchedule::kLeadNs plus rounding:
    // waiting out that last stretch here is what makes the tick punctual.
    if (const std::int64_t early = m_schedule.earlyByNs(m_clock.nsecsElapsed()); early > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(early));
    tmrScan->start(m_schedule.next(m_clock.nsecsElapsed()));
    try {
        const std::optional<int> channel = m_scan.channelForTick();
        if (!channel)
            throw LinkError(tr("The scan reached a channel that does not exist."));
        SelectChannel(*channel);
    } catch (const LinkError &) {
        // Stopped before the message is shown, so a failing port cannot stack a box per tick.
        stopScan();
        throw;
    }
    m_scan.advance(cboStart->currentText(), cboEnd->currentText());
}

void frmMain::optAuto_Click()
{
    if (!optAuto->isChecked())
        return;
    m_scan.chooseAuto();
    showScanState();
}

void frmMain::optMan_Click()
{
    if (!optMan->isChecked())
        return;
    m_scan.chooseManual();
    tmrScan->stop();
    showScanState();
}

void frmMain::stopScan()
{
    if (!m_scan.started())
        return;
    m_scan.stop();
    tmrScan->stop();
    showScanState();
}

void frmMain::linkChanged(const LinkState &state)
{
    m_linkStatus->setParts(state.portName(), state.device, state.condition());
    if (state.lostMessage.isEmpty())
        return;
    // The device went away between commands: the scan stops before anyone is told.
    stopScan();
    m_failures << state.lostMessage;
    // Shown from the event loop, not from inside the link's announcement.
    QMetaObject::invokeMethod(this, &frmMain::reportFailures, Qt::QueuedConnection);
}

void frmMain::showScanState()
{
    cmdAuto->setText(m_scan.started() ? tr("Stop Scan") : tr("Start Scan"));
    const bool settingsEnabled = m_scan.settingsEnabled();
    mnuChannel->menuAction()->setEnabled(settingsEnabled);
    cboStart->setEnabled(settingsEnabled);
    cboEnd->setEnabled(settingsEnabled);
    txtTerm->setEnabled(settingsEnabled);
    mnuComm->menuAction()->setEnabled(settingsEnabled);
    mnuChooseDevice->setEnabled(settingsEnabled);
    fraMan->setEnabled(m_scan.manualFrameEnabled());
    fraAuto->setEnabled(m_scan.autoFrameEnabled());
}

void frmMain::mnuCom_Click(int n)
{
    m_failures << choosePort(comScan, m_store, n, [this](int chosen) { checkEntry(m_portEntries, chosen); });
}

void frmMain::mnuChooseDevice_Click()
{
    // The checked port, or the one stored that the menu does not offer.
    const QAction *checked = m_portEntries->checkedAction();
    const int n = checked ? checked->data().toInt() : comScan.commPort();
    DeviceDialog dialog(m_deviceFolder, QStringLiteral("COM%1").arg(n), m_store.portDevice(n).value_or(QByteArray()),
                        this);
    if (dialog.exec() == QDialog::Accepted)
        useDevice(n, dialog.chosenPath());
}

void frmMain::offerDevice()
{
    const int n = comScan.commPort();
    const QList<SerialDevice> offered = devicesToOffer(m_store, n, m_deviceFolder);
    if (offered.isEmpty())
        return;
    auto *dialog = new DeviceDialog(m_deviceFolder, QStringLiteral("COM%1").arg(n),
                                    offered.size() == 1 ? offered.first().storedPath() : QByteArray(), this);
    dialog->setIntroduction(tr("No device is set for COM%1 yet, and a serial adapter is plugged in. Choose the "
                               "one the switch is connected to: it is saved, and opened at every start.")
                                .arg(n));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this,
            [this, dialog, n] { handle([this, n, path = dialog->chosenPath()] { useDevice(n, path); }); });
    dialog->open();
}

void frmMain::useDevice(int n, const QByteArray &path)
{
    // Saved first: a choice that cannot be saved leaves the port on the device it has.
    m_store.writePortDevice(n, path);
    noteFailure([this] { comScan.setPortOpen(false); });
    noteFailure([this, n] { comScan.setCommPort(n); });
    noteFailure([this] { comScan.setPortOpen(true); });
}

void frmMain::mnuAbout_Click()
{
    frmAbout about(this);
    about.exec();
}

void frmMain::mnuFileExit_Click() { close(); }

void frmMain::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
    QCoreApplication::exit(0);
}

void frmMain::Form_Unload()
{
    tmrScan->stop();
    comScan.setPortOpen(false);
}

remote::Reply frmMain::answer(const remote::Request &request)
{
    using Verb = remote::Request::Verb;
    switch (request.verb) {
    case Verb::Select:
        return scriptedSelect(request.channel);
    case Verb::Status:
        return remote::Reply::done(remote::statusJson(status()));
    case Verb::Scan:
        return scriptedScan(request);
    case Verb::Stop:
        return scriptedStop();
    case Verb::Raise:
        comeForward();
        return remote::Reply::done();
    }
    return remote::Reply::failed(remote::code::kRequest, QStringLiteral("not a request"));
}

remote::Reply frmMain::scriptedSelect(int Ch)
{
    // The buttons are usable in Manual only. A running scan would overrule the
    // selection at its next tick, so it is not interrupted; an idle Auto is
    // left for Manual, as the operator would leave it.
    if (m_scan.mode() == Scan::Mode::Auto && m_scan.started())
        return remote::Reply::failed(remote::code::kScan, QStringLiteral("a scan is running; stop it first"));
    if (Ch >= ChCount)
        return remote::outsideBank(Ch, ChCount);
    if (m_scan.mode() == Scan::Mode::Auto) {
        optMan->setChecked(true);
        optMan_Click();
    }
    // The click's own path, with the failures it collects taken for the reply;
    // any the window has yet to show stay the window's.
    const QStringList pending = std::exchange(m_failures, {});
    noteFailure([this, Ch] { cmdCH_Click(Ch); });
    const QStringList failures = std::exchange(m_failures, pending);
    if (!failures.isEmpty())
        return remote::Reply::failed(remote::code::kPort, failures.join(QLatin1Char(' ')));
    return remote::Reply::done();
}

remote::Reply frmMain::scriptedScan(const remote::Request &request)
{
    if (m_scan.started())
        return remote::Reply::failed(remote::code::kScan, QStringLiteral("a scan is started already; stop it first"));
    // The lists offer the bank's channels only.
    for (const int Ch : {request.start, request.end}) {
        if (Ch >= ChCount)
            return remote::outsideBank(Ch, ChCount);
    }
    const QString startText = QString::number(request.start);
    const QString endText = QString::number(request.end);
    const QString termText = QString::fromLatin1(request.term);
    // The window's own checks, before anything in it changes.
    switch (Scan().start(startText, endText, termText)) {
    case Scan::StartOutcome::EndBelowStart:
        return remote::Reply::failed(remote::code::kScan,
                                     QStringLiteral("the end channel %1 is below the start channel %2")
                                         .arg(request.end, 2, 10, QLatin1Char('0'))
                                         .arg(request.start, 2, 10, QLatin1Char('0')));
    case Scan::StartOutcome::TermOutOfRange:
        return remote::Reply::failed(remote::code::kScan,
                                     QStringLiteral("the term %1 is not between 0 and 65.535 seconds").arg(termText));
    case Scan::StartOutcome::Started:
        break;
    }
    // As the operator does it: Auto, the values in their fields, Start Scan.
    optAuto->setChecked(true);
    optAuto_Click();
    cboStart->setCurrentIndex(request.start);
    cboEnd->setCurrentIndex(request.end);
    txtTerm->setText(termText);
    startScan();
    return remote::Reply::done();
}

remote::Reply frmMain::scriptedStop()
{
    if (m_scan.started())
        stopScan();
    return remote::Reply::done();
}

remote::PanelStatus frmMain::status() const
{
    remote::PanelStatus status;
    status.port = comScan.commPort();
    status.device = comScan.deviceName();
    status.connected = linkConnected();
    status.automatic = m_scan.mode() == Scan::Mode::Auto;
    status.channel = lblCH->text().toInt();
    status.bank = ChCount;
    status.scanning = m_scan.started() && m_scan.timerEnabled();
    status.scanStart = cboStart->currentText().toInt();
    status.scanEnd = cboEnd->currentText().toInt();
    status.scanTermMs = m_scan.started() ? m_scan.intervalMs() : Scan::intervalFor(txtTerm->text());
    return status;
}

bool frmMain::linkConnected() const { return comScan.state().kind == LinkState::Kind::Connected; }

void frmMain::comeForward()
{
    // Still starting: the window shows itself once start-up's messages are answered.
    if (!isVisible())
        return;
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void frmMain::handle(const std::function<void()> &handler)
{
    noteFailure(handler);
    reportFailures();
}

void frmMain::noteFailure(const std::function<void()> &step)
{
    try {
        step();
    } catch (const LinkError &e) {
        m_failures << e.message();
    } catch (const std::exception &e) {
        m_failures << tr("Unexpected failure: %1").arg(QString::fromLocal8Bit(e.what()));
    }
}

void frmMain::reportFailures()
{
    if (m_failures.isEmpty())
        return;
    // Taken before the box opens: handlers that run while it is open report their own.
    const QStringList failures = std::exchange(m_failures, {});
    showMessage(QMessageBox::Warning, QStringLiteral("QUELTOR"), failures.join(QStringLiteral("\n\n")));
}

void frmMain::showMessage(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    // Messages quote the settings file and device paths: never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace queltor
