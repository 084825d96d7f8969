#include "shell/main_window.h"

#include "channel/bank.h"
#include "channel/command.h"
#include "channel/numbers.h"
#include "link/link_error.h"
#include "link/port_choice.h"
#include "shell/about_box.h"
#include "shell/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
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

void setBold(QWidget *widget, bool bold)
{
    if (widget->font().bold() == bold)
        return; // spares a relayout of 99 buttons on every selection
    QFont font = widget->font();
    font.setBold(bold);
    widget->setFont(font);
}

} // namespace

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("QUELTOR"));
    setWindowIcon(QIcon(QStringLiteral(":/queltor.png")));
    // The layout is absolute: the outer size follows the bank, never the user.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    buildControls();
    buildMenus();
    setTabOrder();

    m_client->setFixedSize(twips::toPixels(kClientWidth), twips::toPixels(kBuiltClientHeight));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        const QSize outer = sizeHint();
        move(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
    }
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    setCentralWidget(m_client);

    fraAuto = place(new QGroupBox(m_client), "fraAuto", 90, 60, 9015, 1095);
    fraAuto->setEnabled(false);

    fraCh = place(new QGroupBox(QStringLiteral("Channel"), fraAuto), "fraCh", 7590, 120, kDisplayFrameWidth, 885);
    lblCH = autoSizeLabel(fraCh, "lblCH", QStringLiteral("00"), 270, 210);
    QFont displayFont(QStringLiteral("굴림"));
    displayFont.setStyleHint(QFont::SansSerif);
    displayFont.setPointSize(30);
    displayFont.setBold(true);
    lblCH->setFont(displayFont);
    QPalette displayColours = lblCH->palette();
    displayColours.setColor(QPalette::WindowText, QColor(0, 128, 0));
    displayColours.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0, 128, 0));
    lblCH->setPalette(displayColours);
    lblCH->adjustSize();

    cmdAuto = place(new QPushButton(Scan::kStartCaption, fraAuto), "cmdAuto", 6210, 240, 1275, 735);
    autoSizeLabel(fraAuto, "Label1", QStringLiteral("Start CH:"), 180, 300);
    cboStart = place(new QComboBox(fraAuto), "cboStart", 1050, 240, 645, 300);
    autoSizeLabel(fraAuto, "Label2", QStringLiteral("End CH:"), 180, 690);
    cboEnd = place(new QComboBox(fraAuto), "cboEnd", 1050, 630, 645, 300);
    for (QComboBox *list : {cboStart, cboEnd}) {
        // An edit field that shows the choice; only the drop-down and the arrow keys change it.
        list->setEditable(true);
        list->setInsertPolicy(QComboBox::NoInsert);
        list->lineEdit()->setReadOnly(true);
        list->installEventFilter(this);
        list->lineEdit()->installEventFilter(this);
    }
    cboStart->setEditText(QStringLiteral("0"));
    cboEnd->setEditText(QStringLiteral("19"));
    autoSizeLabel(fraAuto, "Label3", QStringLiteral("Scan Term:"), 2100, 300);
    txtTerm = place(new QLineEdit(QStringLiteral("1"), fraAuto), "txtTerm", 3150, 240, 525, 270);
    autoSizeLabel(fraAuto, "Label4", QStringLiteral("sec"), 3690, 300);

    fraMan = place(new QGroupBox(m_client), "fraMan", 90, bank::kFrameTop, 9015, 3765);
    for (int i = 0; i < bank::kButtonCount; ++i) {
        auto *button = new QPushButton(fraMan);
        button->setObjectName(QStringLiteral("cmdCH(%1)").arg(i));
        button->setGeometry(
            twips::rect(bank::buttonLeft(i), bank::buttonTop(i), bank::kButtonWidth, bank::kButtonHeight));
        connect(button, &QPushButton::clicked, this, [this, i] { handle([this, i] { cmdCH_Click(i); }); });
        cmdCH[static_cast<std::size_t>(i)] = button;
    }

    // The option buttons stand in the window, on the frames' top edges, as their
    // titles: disabling a frame leaves them usable.
    optAuto = place(new QRadioButton(QStringLiteral("Auto"), m_client), "optAuto", 210, 60, 675, 225);
    optMan = place(new QRadioButton(QStringLiteral("Manual"), m_client), "optMan", 210, 1200, 945, 225);
    optMan->setChecked(true);
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

void frmMain::buildMenus()
{
    const auto action = [this](QMenu *menu, const QString &caption, const char *name) {
        QAction *entry = menu->addAction(caption);
        entry->setObjectName(QString::fromLatin1(name));
        return entry;
    };

    QMenu *mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    connect(action(mnuFile, QStringLiteral("E&xit"), "mnuFileExit"), &QAction::triggered, this,
            [this] { mnuFileExit_Click(); });

    QMenu *mnuSet = menuBar()->addMenu(QStringLiteral("&Set"));
    mnuSet->setObjectName(QStringLiteral("mnuSet"));
    mnuComm = mnuSet->addMenu(QStringLiteral("Serial &Port"));
    mnuComm->setObjectName(QStringLiteral("mnuComm"));
    mnuCom1 = action(mnuComm, QStringLiteral("com1"), "mnuCom1");
    mnuCom2 = action(mnuComm, QStringLiteral("com2"), "mnuCom2");
    for (QAction *entry : {mnuCom1, mnuCom2}) {
        entry->setCheckable(true);
        const int n = entry == mnuCom1 ? 1 : 2;
        connect(entry, &QAction::triggered, this, [this, n] { handle([this, n] { mnuCom_Click(n); }); });
    }

    mnuChannel = mnuSet->addMenu(QStringLiteral("&Channel Count"));
    mnuChannel->setObjectName(QStringLiteral("mnuChannel"));
    for (int k = 0; k < bank::kIndexCount; ++k) {
        QAction *entry = mnuChannel->addAction(QString::number(bank::channelCount(k)));
        entry->setObjectName(QStringLiteral("mnuChNum(%1)").arg(k));
        entry->setCheckable(true);
        connect(entry, &QAction::triggered, this, [this, k] { handle([this, k] { mnuChNum_Click(k); }); });
        mnuChNum[static_cast<std::size_t>(k)] = entry;
    }

    QMenu *mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    connect(action(mnuHelp, QStringLiteral("&About"), "mnuAbout"), &QAction::triggered, this,
            [this] { handle([this] { mnuAbout_Click(); }); });
}

void frmMain::setTabOrder()
{
    QList<QWidget *> order{optMan, optAuto, cboStart, cboEnd, txtTerm, cmdAuto};
    for (QPushButton *button : cmdCH)
        order.append(button);
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void frmMain::Form_Load()
{
    handle([this] {
        const QString chNumText = m_store.read(SettingsStore::kChNum);
        const std::optional<double> chNum = strictNumber(chNumText);
        std::optional<int> index = chNum ? bank::indexFromSetting(*chNum) : std::nullopt;
        if (!index) {
            m_failures << QStringLiteral("The stored setting ChNum (\"%1\") is not a channel count of 10 to 100; "
                                         "20 channels are used instead.")
                              .arg(chNumText);
            index = 1;
        }

        const QString comPortText = m_store.read(SettingsStore::kComPort);
        const std::optional<double> comPort = strictNumber(comPortText);
        const std::optional<std::int16_t> portNumber = comPort ? roundToInt16(*comPort) : std::nullopt;
        const bool accepted = portNumber && *portNumber >= SerialPort::kLowestPort
            && *portNumber <= SerialPort::kHighestPort;
        if (accepted) {
            comScan.setCommPort(*portNumber);
        } else {
            m_failures << QStringLiteral("The stored setting ComPort (\"%1\") is not a port number of 1 to %2; "
                                         "COM1 is used instead.")
                              .arg(comPortText)
                              .arg(SerialPort::kHighestPort);
            comScan.setCommPort(1);
        }
        mnuCom1->setChecked(comScan.commPort() == 1);
        mnuCom2->setChecked(comScan.commPort() == 2);

        mnuChNum_Click(*index);
        noteFailure([this] { comScan.setPortOpen(true); });
    });
}

void frmMain::SelectChannel(int Ch)
{
    if (!isChannel(Ch))
        throw LinkError(QStringLiteral("Channel %1 does not exist; nothing was sent.").arg(Ch));
    // The command goes out first: the display only ever shows what the device was told.
    comScan.output(channelCommand(Ch));
    lblCH->setText(channelDisplayText(Ch));
    for (int i = 0; i < bank::kButtonCount; ++i)
        setBold(cmdCH[static_cast<std::size_t>(i)], i == Ch);
    centreDisplay();
}

void frmMain::centreDisplay()
{
    lblCH->adjustSize();
    const double left = (kDisplayFrameWidth - twips::fromPixels(lblCH->width())) / 2.0;
    lblCH->move(twips::toPixels(left), lblCH->y());
}

void frmMain::cmdCH_Click(int Index) { SelectChannel(Index); }

void frmMain::mnuChNum_Click(int Index)
{
    // Saved first; if the store refuses, the bank still changes for this run.
    noteFailure([this, Index] { m_store.write(SettingsStore::kChNum, decimalText(Index)); });
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
    for (int k = 0; k < bank::kIndexCount; ++k)
        mnuChNum[static_cast<std::size_t>(k)]->setChecked(k == Index);

    resizeToBank(Index);
}

void frmMain::resizeToBank(int Index)
{
    const int frameHeight = bank::frameHeight(Index);
    fraMan->resize(fraMan->width(), twips::toPixels(frameHeight));
    m_nominalHeightTwips = bank::windowHeight(Index);

    // The nominal height sets aside a fixed allowance for title bar, menu bar and
    // borders; here the platform's own sizes take its place, so the last row is
    // never cut off and keeps the same margin in every bank.
    m_client->setFixedSize(twips::toPixels(kClientWidth),
                           twips::toPixels(bank::kFrameTop + frameHeight + kClientBottomMargin));
    adjustSize();

    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const int outerHeight = frameGeometry().height() > height() ? frameGeometry().height() : sizeHint().height();
    const QRect area = screen->geometry();
    move(x(), area.y() + (area.height() - outerHeight) / 2);
}

void frmMain::cmdAuto_Click()
{
    if (cmdAuto->text() == Scan::kStartCaption) {
        switch (m_scan.start(cboStart->currentText(), cboEnd->currentText(), txtTerm->text())) {
        case Scan::StartOutcome::EndBelowStart:
            showMessage(QStringLiteral("Channel Error"), QStringLiteral("Set Start CH less than End CH..."));
            cboStart->setFocus();
            return;
        case Scan::StartOutcome::TermOutOfRange:
            showMessage(QStringLiteral("Scan Term Error"), QStringLiteral("Set Scan Term between 0 and 65.535 sec..."));
            txtTerm->setFocus();
            return;
        case Scan::StartOutcome::Started:
            break;
        }
        // A Qt timer with interval 0 would fire on every pass of the event loop;
        // here 0 means armed but silent until Stop Scan.
        if (m_scan.intervalMs() > 0) {
            tmrScan->start(m_schedule.start(m_clock.nsecsElapsed(), m_scan.intervalMs()));
        }
    } else {
        m_scan.stop();
        tmrScan->stop();
    }
    showScanState();
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
            throw LinkError(QStringLiteral("The scan reached a channel that does not exist."));
        SelectChannel(*channel);
    } catch (const LinkError &) {
        // Stopped before the message is shown, so a failing port cannot stack a box per tick.
        m_scan.stop();
        tmrScan->stop();
        showScanState();
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

void frmMain::showScanState()
{
    cmdAuto->setText(m_scan.caption());
    const bool settingsEnabled = m_scan.settingsEnabled();
    mnuChannel->menuAction()->setEnabled(settingsEnabled);
    cboStart->setEnabled(settingsEnabled);
    cboEnd->setEnabled(settingsEnabled);
    txtTerm->setEnabled(settingsEnabled);
    mnuComm->menuAction()->setEnabled(settingsEnabled);
    fraMan->setEnabled(m_scan.manualFrameEnabled());
    fraAuto->setEnabled(m_scan.autoFrameEnabled());
}

void frmMain::mnuCom_Click(int n)
{
    m_failures << choosePort(comScan, m_store, n, [this](int chosen) {
        mnuCom1->setChecked(chosen == 1);
        mnuCom2->setChecked(chosen == 2);
    });
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

bool frmMain::cboStart_KeyPress(const QKeyEvent *key) const { return cboEnd_KeyPress(key); }

bool frmMain::cboEnd_KeyPress(const QKeyEvent *key) const
{
    // Every key that would type into the edit field is cancelled; Tab still moves
    // the focus and the arrow keys still step through the list.
    switch (key->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return false;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return true;
    default:
        return !key->text().isEmpty() && !(key->modifiers() & Qt::AltModifier);
    }
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (watched == cboStart || watched == cboStart->lineEdit())
            return cboStart_KeyPress(key);
        if (watched == cboEnd || watched == cboEnd->lineEdit())
            return cboEnd_KeyPress(key);
    }
    return QMainWindow::eventFilter(watched, event);
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
        m_failures << QStringLiteral("Unexpected failure: %1").arg(QString::fromLocal8Bit(e.what()));
    }
}

void frmMain::reportFailures()
{
    if (m_failures.isEmpty())
        return;
    // Taken before the box opens: handlers that run while it is open report their own.
    const QStringList failures = std::exchange(m_failures, {});
    showMessage(QStringLiteral("QUELTOR"), failures.join(QStringLiteral("\n\n")));
}

void frmMain::showMessage(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box.exec();
}

} // namespace queltor
