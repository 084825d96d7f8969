#include "shell/main_window.h"

#include "channel/bank.h"
#include "channel/command.h"
#include "channel/numbers.h"
#include "link/device_watch.h"
#include "link/port_choice.h"
#include "link/port_label.h"
#include "link/stored_choices.h"
#include "shell/about_box.h"
#include "shell/accessibility.h"
#include "shell/controls.h"
#include "shell/device_dialog.h"
#include "shell/failure_reporter.h"
#include "shell/frame_box.h"
#include "shell/placement.h"
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
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>

#include <chrono>
#include <thread>
#include <type_traits>

namespace queltor {

namespace {

constexpr int kClientWidth = 9195;
constexpr int kBuiltClientHeight = 5085;
constexpr int kDisplayFrameWidth = 1245;
// Below the button frame: what the client area as built leaves under its frame
// (5085 - 1200 - 3765), kept for every bank.
constexpr int kClientBottomMargin = 120;

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

// The scan button's caption, translated where it is shown.
QString captionOf(const Scan &scan) { return QCoreApplication::translate("queltor::Scan", scan.caption()); }

} // namespace

template <typename Sender, typename Signal, typename Handler>
void frmMain::wire(const Sender *sender, Signal signal, Handler handler)
{
    connect(sender, signal, this, [this, handler] {
        run([this, &handler] {
            if constexpr (std::is_member_function_pointer_v<Handler>)
                (this->*handler)();
            else
                handler();
        });
    });
}

frmMain::frmMain(const SettingsStore &store, QWidget *parent)
    : QMainWindow(parent)
    , m_store(store)
    , m_reporter(new FailureReporter(this))
{
    installAccessibility();
    setWindowTitle(QStringLiteral("QUELTOR"));
    setWindowIcon(QIcon(QStringLiteral(":/queltor.png")));
    // The layout is absolute: the outer size follows the bank, never the user.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    placement::centreWhenShown(this);

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

    cmdAuto = place(new PushButton(captionOf(m_scan), fraAuto), "cmdAuto", 6210, 240, 1275, 735);
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
        wire(button, &QPushButton::clicked, [this, i] { cmdCH_Click(i); });
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

    wire(cmdAuto, &QPushButton::clicked, &frmMain::cmdAuto_Click);
    wire(optAuto, &QRadioButton::clicked, &frmMain::optAuto_Click);
    wire(optMan, &QRadioButton::clicked, &frmMain::optMan_Click);
    wire(tmrScan, &QTimer::timeout, &frmMain::tmrScan_Timer);

    // The values a scan would start with, kept as the operator sets them.
    const auto keep = [this](auto &field) {
        return [this, &field](const auto &value) {
            field = value;
            emit stateChanged();
        };
    };
    connect(cboStart, &QComboBox::currentIndexChanged, this, keep(m_shown.scanStart));
    connect(cboEnd, &QComboBox::currentIndexChanged, this, keep(m_shown.scanEnd));
    connect(txtTerm, &QLineEdit::textChanged, this, keep(m_shown.term));
}

// Below the client area, which keeps its size: the window grows by the bar's height.
void frmMain::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setSizeGripEnabled(false);
    lblLink = new LinkStatusLabel(bar);
    lblLink->setObjectName(QStringLiteral("lblLink"));
    bar->addWidget(lblLink, 1);
    linkChanged(comScan.state());
    connect(&comScan, &Link::stateChanged, this, &frmMain::linkChanged);
    connect(&comScan, &Link::failed, this, &frmMain::linkFailed);
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
    wire(mnuFileExit, &QAction::triggered, &frmMain::mnuFileExit_Click);

    QMenu *mnuSet = menu(nullptr, tr("&Set"), QStringLiteral("mnuSet"));
    mnuComm = menu(mnuSet, tr("Serial &Port"), QStringLiteral("mnuComm"));
    m_portEntries = new QActionGroup(this);
    for (int n = 1; n <= kMenuPorts; ++n) {
        QAction *entry = action(mnuComm, QStringLiteral("com&%1").arg(n), QStringLiteral("mnuCom%1").arg(n));
        wire(choice(m_portEntries, entry, n), &QAction::triggered, [this, n] { mnuCom_Click(n); });
    }
    mnuChooseDevice = action(mnuComm, tr("Choose &Device…"), QStringLiteral("mnuChooseDevice"));
    wire(mnuChooseDevice, &QAction::triggered, &frmMain::mnuChooseDevice_Click);

    mnuChannel = menu(mnuSet, tr("&Channel Count"), QStringLiteral("mnuChannel"));
    m_bankEntries = new QActionGroup(this);
    for (int k = 0; k < bank::kIndexCount; ++k) {
        QAction *entry = action(mnuChannel, bankEntryCaption(k), QStringLiteral("mnuChNum(%1)").arg(k));
        wire(choice(m_bankEntries, entry, k), &QAction::triggered, [this, k] { mnuChNum_Click(k); });
    }

    QMenu *mnuHelp = menu(nullptr, tr("&Help"), QStringLiteral("mnuHelp"));
    wire(action(mnuHelp, tr("&About"), QStringLiteral("mnuAbout")), &QAction::triggered, &frmMain::mnuAbout_Click);
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
    run([this] {
        const StoredChoices stored = readStoredChoices(m_store);
        for (const Failure &failure : stored.failures)
            m_reporter->report(failure);
        comScan.setCommPort(stored.port);
        checkEntry(m_portEntries, comScan.commPort());
        // The count is saved only when start-up chose it: a stored one stays
        // as written ("9E0" too). A file that cannot be used is not written,
        // nor is a port opened that it may map elsewhere; its failure says so.
        if (stored.fileUsable && !stored.bankStored)
            mnuChNum_Click(stored.bankIndex);
        else
            applyBank(stored.bankIndex);
        if (stored.fileUsable)
            comScan.setPortOpen(true);
    });
}

void frmMain::SelectChannel(int Ch)
{
    if (!isChannel(Ch))
        throw Failed(Failure(Failure::Kind::Panel, tr("Channel %1 does not exist; nothing was sent.").arg(Ch)));
    // The command goes out first: the display only ever shows what the device was told.
    comScan.output(channelCommand(Ch));
    m_shown.channel = Ch;
    lblCH->showValue(channelDisplayText(Ch));
    for (int i = 0; i < bank::kButtonCount; ++i) {
        setBold(cmdCH[static_cast<std::size_t>(i)], i == Ch);
        cmdCH[static_cast<std::size_t>(i)]->setSelected(i == Ch);
    }
    centreDisplay();
    emit stateChanged();
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
    run([this, Index] { cmdCH_Click(Index); });
}

void frmMain::mnuChNum_Click(int Index)
{
    // Saved first; if the store refuses, the bank still changes for this run.
    save(SettingsStore::kChNum, decimalText(Index));
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
    emit stateChanged();
}

void frmMain::resizeToBank(int index)
{
    const int frameHeight = bank::frameHeight(index);
    fraMan->resize(fraMan->width(), twips::toPixels(frameHeight));

    // The client area ends the same margin below the last row in every bank; the
    // menu bar, the status bar and the window manager's frame come on top of it.
    m_client->setFixedSize(twips::toPixels(kClientWidth),
                           twips::toPixels(bank::kFrameTop + frameHeight + kClientBottomMargin));
    adjustSize();
    placement::centreOnScreen(this, Qt::Vertical);
}

void frmMain::fitScreen()
{
    // The tallest bank: the window must fit whichever is chosen later.
    const int tallest = bank::kFrameTop + bank::frameHeight(bank::kIndexCount - 1) + kClientBottomMargin;
    placement::fitScreen(this, QSizeF(kClientWidth, tallest),
                         QSize(0, menuBar()->sizeHint().height() + statusBar()->sizeHint().height()));
}

void frmMain::cmdAuto_Click()
{
    if (m_scan.started()) {
        stopScan();
        return;
    }
    // The fields' own values: the refusals name the field to set, which has the focus once the box is closed.
    QWidget *field = nullptr;
    Failure refusal;
    switch (startScan(cboStart->currentText(), cboEnd->currentText(), txtTerm->text())) {
    case Scan::StartOutcome::EndBelowStart:
        refusal = Failure(Failure::Kind::ScanRange, {}, {}, tr("Set Start CH less than End CH..."));
        refusal.title = tr("Channel Error");
        field = cboStart;
        break;
    case Scan::StartOutcome::TermOutOfRange:
        refusal = Failure(Failure::Kind::ScanTerm, {}, {}, tr("Set Scan Term between 0 and 65.535 sec..."));
        refusal.title = tr("Scan Term Error");
        field = txtTerm;
        break;
    case Scan::StartOutcome::Started:
        return;
    }
    refusal.icon = Failure::Icon::Information;
    m_reporter->report(refusal, [field] { field->setFocus(); });
}

Scan::StartOutcome frmMain::startScan(const QString &start, const QString &end, const QString &term)
{
    const Scan::StartOutcome outcome = m_scan.start(start, end, term);
    if (outcome != Scan::StartOutcome::Started)
        return outcome;
    // As the operator starts one: in Auto, with the values in their fields.
    optAuto->setChecked(true);
    m_scan.chooseAuto();
    cboStart->setCurrentIndex(cboStart->findText(start));
    cboEnd->setCurrentIndex(cboEnd->findText(end));
    txtTerm->setText(term);
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
            throw Failed(Failure(Failure::Kind::Panel, tr("The scan reached a channel that does not exist.")));
        SelectChannel(*channel);
    } catch (const Failed &) {
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

void frmMain::chooseManual()
{
    optMan->setChecked(true);
    optMan_Click();
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
    lblLink->setParts(state.portName(), state.device, state.condition());
    // Back: the status bar says so, and a box about the link would say otherwise.
    if (state.kind == LinkState::Kind::Connected)
        m_reporter->withdraw(Failure::Kind::Port);
    emit stateChanged();
}

void frmMain::linkFailed(const Failure &failure)
{
    // The device went away between commands: the scan stops before anyone is told.
    stopScan();
    m_reporter->report(failure);
}

void frmMain::showScanState()
{
    cmdAuto->setText(captionOf(m_scan));
    const bool settingsEnabled = m_scan.settingsEnabled();
    mnuChannel->menuAction()->setEnabled(settingsEnabled);
    cboStart->setEnabled(settingsEnabled);
    cboEnd->setEnabled(settingsEnabled);
    txtTerm->setEnabled(settingsEnabled);
    mnuComm->menuAction()->setEnabled(settingsEnabled);
    mnuChooseDevice->setEnabled(settingsEnabled);
    fraMan->setEnabled(m_scan.manualFrameEnabled());
    fraAuto->setEnabled(m_scan.autoFrameEnabled());
    emit stateChanged();
}

void frmMain::mnuCom_Click(int n)
{
    switchPort(n, [this, n] {
        save(SettingsStore::kComPort, decimalText(n));
        checkEntry(m_portEntries, n);
    });
}

void frmMain::mnuChooseDevice_Click()
{
    // The checked port, or the one stored that the menu does not offer.
    const QAction *checked = m_portEntries->checkedAction();
    const int n = checked ? checked->data().toInt() : comScan.commPort();
    chooseDevice(n, m_store.portDevice(n).value_or(QByteArray()), {});
}

void frmMain::offerDevice()
{
    const int n = comScan.commPort();
    const QList<SerialDevice> offered = devicesToOffer(m_store, n, m_deviceFolder);
    if (offered.isEmpty())
        return;
    chooseDevice(n, offered.size() == 1 ? offered.first().storedPath() : QByteArray(),
                 tr("No device is set for %1 yet, and a serial adapter is plugged in. Choose the one the switch "
                    "is connected to: it is saved, and opened at every start.")
                     .arg(portLabel(n)));
}

void frmMain::chooseDevice(int n, const QByteArray &current, const QString &introduction)
{
    auto *dialog = new DeviceDialog(m_deviceFolder, portLabel(n), current, this);
    dialog->setIntroduction(introduction);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(true);
    connect(dialog, &QDialog::accepted, this, [this, n, dialog] {
        run([this, n, path = dialog->chosenPath()] {
            // Saved first: a choice that cannot be saved leaves the port on the device it has.
            m_store.writePortDevice(n, path);
            switchPort(n, {});
        });
    });
    dialog->show();
}

// Close, the caller's steps, renumber, open: each failure told, none stopping the rest.
void frmMain::switchPort(int n, const std::function<void()> &steps)
{
    queltor::switchPort(comScan, n, steps, [this](const Failure &failure) { m_reporter->report(failure); });
}

// A choice that cannot be saved is told, and still takes effect for this run.
void frmMain::save(const QString &key, const QString &text)
{
    try {
        m_store.write(key, text);
    } catch (const Failed &e) {
        m_reporter->report(e.failure());
    }
}

void frmMain::mnuAbout_Click()
{
    auto *about = new frmAbout(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->show();
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

void frmMain::comeForward()
{
    // Still starting: the window shows itself once start-up is done.
    if (!isVisible())
        return;
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void frmMain::run(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const Failed &e) {
        m_reporter->report(e.failure());
    } catch (const std::exception &e) {
        m_reporter->report(
            Failure(Failure::Kind::Panel, tr("Unexpected failure: %1").arg(QString::fromLocal8Bit(e.what()))));
    }
}

} // namespace queltor
