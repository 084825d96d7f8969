// Figure 4: what one selection costs the processor, the repaint it causes
// included, and what a bank change 0 -> 9 -> 0 costs; then the instructions
// per selection under callgrind, each against the bare window of floor_panel.h.
#include "figures.h"
#include "floor_panel.h"
#include "panel_fixture.h"
#include "profile.h"

#include "channel/command.h"

#include <QAction>
#include <QFile>
#include <QProcess>

#include <unistd.h>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define QUELTOR_HAVE_CALLGRIND 1
#endif

namespace queltor::bench {

namespace {

class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *watched) { watched->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// What both windows answer to: clicks on channel buttons and bank choices.
struct Target
{
    QWidget *window = nullptr;
    Pty *pty = nullptr;
    QWidget *display = nullptr;
    std::function<void(int)> chooseBank;

    QAbstractButton *button(int i) const
    {
        return qobject_cast<QAbstractButton *>(findNamed(window, QStringLiteral("cmdCH(%1)").arg(i)));
    }
};

struct Costs
{
    Summary cpuUs;
    Summary wallUs;
    Summary bankCpuUs; // one 0 -> 9 -> 0
    Summary bankWallUs;
    double displayPaintsPerSelection = 0;
    int wrong = 0;
};

// One selection as the operator makes it: the click, and the event loop's pass that repaints.
void makeSelection(const Target &target, int channel)
{
    QTest::mouseClick(target.button(channel), Qt::LeftButton);
    QApplication::processEvents();
}

Costs measure(const Target &target, const Options &options)
{
    Costs costs;
    const int channels = 20;
    char got[5];
    for (int k = 0; k < 200; ++k) {
        makeSelection(target, k % channels);
        target.pty->readExactly(got, 5);
    }
    PaintCounter paints(target.display);
    std::vector<double> cpu, wall;
    for (int k = 0; k < options.selections; ++k) {
        const int channel = k % channels;
        const std::int64_t c0 = cpuNs();
        const std::int64_t w0 = wallNs();
        makeSelection(target, channel);
        const std::int64_t c1 = cpuNs();
        const std::int64_t w1 = wallNs();
        cpu.push_back(double(c1 - c0) / 1000.0);
        wall.push_back(double(w1 - w0) / 1000.0);
        if (!target.pty->readExactly(got, 5) || QByteArray(got, 5) != channelCommand(channel))
            ++costs.wrong;
    }
    costs.displayPaintsPerSelection = double(paints.count) / options.selections;
    costs.cpuUs = summarize(cpu);
    costs.wallUs = summarize(wall);

    std::vector<double> bankCpu, bankWall;
    for (int k = -5; k < options.bankChanges; ++k) {
        const std::int64_t c0 = cpuNs();
        const std::int64_t w0 = wallNs();
        for (int index : {9, 0}) {
            target.chooseBank(index);
            QApplication::processEvents();
        }
        const std::int64_t c1 = cpuNs();
        const std::int64_t w1 = wallNs();
        if (k >= 0) {
            bankCpu.push_back(double(c1 - c0) / 1000.0);
            bankWall.push_back(double(w1 - w0) / 1000.0);
        }
    }
    target.chooseBank(1);
    QApplication::processEvents();
    costs.bankCpuUs = summarize(bankCpu);
    costs.bankWallUs = summarize(bankWall);
    if (!target.pty->drain().isEmpty())
        ++costs.wrong;
    return costs;
}

Target panelTarget(BenchPanel &panel)
{
    Target t;
    t.window = panel.window.get();
    t.pty = &panel.com1;
    t.display = findNamed(panel.window.get(), QStringLiteral("lblCH"));
    QWidget *window = panel.window.get();
    t.chooseBank = [window](int index) {
        window->findChild<QAction *>(QStringLiteral("mnuChNum(%1)").arg(index))->trigger();
    };
    return t;
}

Target floorTarget(FloorPanel &floor, Pty &pty)
{
    Target t;
    t.window = &floor;
    t.pty = &pty;
    t.display = floor.display();
    t.chooseBank = [&floor](int index) { floor.showBank(index); };
    return t;
}

// The panel may spend this many times the floor's instructions on a selection.
constexpr double kInstructionGoal = 1.25;

// Where a selection's instructions go, press to repaint. Indented steps are part
// of the step above them; painting happens in all three passes.
std::vector<Step> selectionSteps()
{
    return {
        {QStringLiteral("    press: the button drawn down"), {QStringLiteral("QAbstractButton::mousePressEvent")}},
        {QStringLiteral("    release: drawn up, clicked(), the handler"),
         {QStringLiteral("QAbstractButton::mouseReleaseEvent")}},
        {QStringLiteral("      the handler (SelectChannel)"),
         {QStringLiteral("queltor::frmMain::SelectChannel")},
         {QStringLiteral("QtPrivate::QFunctorSlotObject<queltor::bench::FloorPanel::FloorPanel(int)::{lambda()#1}")}},
        {QStringLiteral("        the write"),
         {QStringLiteral("queltor::SerialPort::output")},
         {QStringLiteral("write")}},
        {QStringLiteral("        the display's text"), {QStringLiteral("QLabel::setText")}},
        {QStringLiteral("        the bold marks"), {QStringLiteral("QWidget::setFont")}},
        {QStringLiteral("        centring the display"), {QStringLiteral("queltor::frmMain::centreDisplay")}},
        {QStringLiteral("    the event loop's pass: display and marks"),
         {QStringLiteral("QCoreApplication::processEvents")}},
        {QStringLiteral("    painting, all passes: the buttons"), {QStringLiteral("QPushButton::paintEvent")}},
        {QStringLiteral("      the display"), {QStringLiteral("QLabel::paintEvent")}},
        {QStringLiteral("      the frames"), {QStringLiteral("queltor::FrameBox::paintEvent")}},
    };
}

struct CallgrindRun
{
    double perSelection = -1;
    Profile profile;
    QString error;
};

CallgrindRun callgrind(const Options &options, bool floor, int attempt)
{
    CallgrindRun run;
    const QString out = QDir::temp().filePath(
        QStringLiteral("queltor-bench-callgrind-%1-%2-%3.out").arg(::getpid()).arg(floor).arg(attempt));
    QProcess valgrind;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_HASH_SEED"), QStringLiteral("0"));
    valgrind.setProcessEnvironment(env);
    valgrind.setProcessChannelMode(QProcess::MergedChannels);
    valgrind.start(QStringLiteral("valgrind"),
                   {QStringLiteral("--tool=callgrind"), QStringLiteral("--instr-atstart=no"),
                    QStringLiteral("--collect-atstart=no"), QStringLiteral("--callgrind-out-file=") + out,
                    options.selfBinary, QStringLiteral("--callgrind-child"),
                    floor ? QStringLiteral("floor") : QStringLiteral("panel"),
                    QString::number(options.callgrindSelections)});
    if (!valgrind.waitForStarted(10000)) {
        run.error = QStringLiteral("valgrind did not start");
        return run;
    }
    valgrind.waitForFinished(-1);
    const QByteArray log = valgrind.readAll();
    QFile file(out);
    if (valgrind.exitCode() != 0 || !file.open(QIODevice::ReadOnly)) {
        run.error = QStringLiteral("callgrind run failed: ") + QString::fromLocal8Bit(log.right(400));
        return run;
    }
    file.close();
    run.profile = Profile::read(out);
    QFile::remove(out);
    if (!run.profile.error().isEmpty()) {
        run.error = run.profile.error();
        return run;
    }
    run.perSelection = run.profile.total() / options.callgrindSelections;
    return run;
}

QJsonObject costsJson(const Costs &c)
{
    return QJsonObject{{QStringLiteral("selection_cpu_us"), c.cpuUs.json()},
                       {QStringLiteral("selection_wall_us"), c.wallUs.json()},
                       {QStringLiteral("bank_0_9_0_cpu_us"), c.bankCpuUs.json()},
                       {QStringLiteral("bank_0_9_0_wall_us"), c.bankWallUs.json()},
                       {QStringLiteral("display_paints_per_selection"), c.displayPaintsPerSelection},
                       {QStringLiteral("wrong_or_lost_commands"), c.wrong}};
}

} // namespace

QJsonObject selectionCost(const Options &options)
{
    Costs panelCosts;
    Costs floorCosts;
    QStringList boxes;
    {
        BenchPanel panel;
        panelCosts = measure(panelTarget(panel), options);
        boxes = panel.messages.texts();
    }
    {
        Pty pty;
        FloorPanel floor(pty.rawWriter());
        floor.show();
        if (!QTest::qWaitForWindowExposed(&floor))
            qFatal("the floor window was never exposed");
        floorCosts = measure(floorTarget(floor, pty), options);
    }

    // Twice for the panel, to show the count does not move from run to run.
    const CallgrindRun first = callgrind(options, false, 1);
    const CallgrindRun second = callgrind(options, false, 2);
    const CallgrindRun floorRun = callgrind(options, true, 1);
    const bool counted = first.error.isEmpty() && second.error.isEmpty() && floorRun.error.isEmpty();
    const double spread = counted ? std::abs(first.perSelection - second.perSelection) / first.perSelection : -1;
    // Qt's own housekeeping timers (font cache ageing and the like) fire a few
    // times during a run that valgrind stretches to a minute: allow 0.5 %.
    const bool repeatable = counted && spread < 0.005;

    QJsonArray rows;
    const bool valid = panelCosts.wrong == 0 && boxes.isEmpty();
    rows << row(QStringLiteral("4 Selection CPU incl. repaint, median"), micros(panelCosts.cpuUs.median),
                micros(floorCosts.cpuUs.median), ratioText(panelCosts.cpuUs.median / floorCosts.cpuUs.median),
                QStringLiteral("reported"), valid ? QString() : QStringLiteral("NO"));
    rows << row(QStringLiteral("  p99"), micros(panelCosts.cpuUs.p99), micros(floorCosts.cpuUs.p99),
                ratioText(panelCosts.cpuUs.p99 / floorCosts.cpuUs.p99), QString(), QString());
    rows << row(QStringLiteral("  bank change 0->9->0 CPU, median"), micros(panelCosts.bankCpuUs.median),
                micros(floorCosts.bankCpuUs.median),
                ratioText(panelCosts.bankCpuUs.median / floorCosts.bankCpuUs.median), QStringLiteral("reported"),
                QString());
    rows << row(QStringLiteral("  bank change 0->9->0 wall, median"), micros(panelCosts.bankWallUs.median),
                micros(floorCosts.bankWallUs.median),
                ratioText(panelCosts.bankWallUs.median / floorCosts.bankWallUs.median), QString(), QString());
    const double instructionRatio = counted ? first.perSelection / floorRun.perSelection : -1;
    const bool instructionsMet = counted && instructionRatio <= kInstructionGoal;
    QJsonArray breakdown;
    if (counted) {
        rows << row(QStringLiteral("  callgrind, instructions per selection (run 1)"), instructions(first.perSelection),
                    instructions(floorRun.perSelection), ratioText(instructionRatio),
                    QStringLiteral("<= %1x floor").arg(kInstructionGoal, 0, 'f', 2), yesNo(instructionsMet));
        rows << row(QStringLiteral("  callgrind, per selection (run 2)"), instructions(second.perSelection), QString(),
                    QStringLiteral("%1 % apart").arg(spread * 100, 0, 'f', 2),
                    QStringLiteral("repeatable (< 0.5 % apart)"), yesNo(repeatable));
        for (const auto &r :
             stepRows(selectionSteps(), first.profile, floorRun.profile, options.callgrindSelections, &breakdown))
            rows << r;
    } else {
        rows << row(QStringLiteral("  callgrind"),
                    QStringLiteral("not measured: ") + first.error + second.error + floorRun.error, QString(),
                    QString(), QStringLiteral("repeatable"), QStringLiteral("NO"));
    }

    return QJsonObject{
        {QStringLiteral("rows"), rows},
        {QStringLiteral("selections"), options.selections},
        {QStringLiteral("bank_changes"), options.bankChanges},
        {QStringLiteral("how"),
         QStringLiteral("QTest::mouseClick on cmdCH(n), n stepping 0..19, then one "
                        "processEvents() that delivers the repaint; CPU from "
                        "CLOCK_PROCESS_CPUTIME_ID; bank change = mnuChNum(9) then "
                        "mnuChNum(0) triggered, each followed by processEvents()")},
        {QStringLiteral("panel"), costsJson(panelCosts)},
        {QStringLiteral("floor_bare_window"), costsJson(floorCosts)},
        {QStringLiteral("callgrind_selections"), options.callgrindSelections},
        {QStringLiteral("callgrind_instructions_per_selection"), QJsonArray{first.perSelection, second.perSelection}},
        {QStringLiteral("callgrind_floor_instructions_per_selection"), floorRun.perSelection},
        {QStringLiteral("callgrind_relative_spread"), spread},
        {QStringLiteral("callgrind_ratio"), instructionRatio},
        {QStringLiteral("callgrind_ratio_goal"), kInstructionGoal},
        {QStringLiteral("callgrind_breakdown_per_selection"), breakdown},
        {QStringLiteral("message_boxes"), QJsonArray::fromStringList(boxes)},
        {QStringLiteral("goal_met"), valid && repeatable && instructionsMet},
    };
}

int callgrindChild(bool floor, int selections)
{
#ifdef QUELTOR_HAVE_CALLGRIND
    std::unique_ptr<BenchPanel> panel;
    std::unique_ptr<Pty> pty;
    std::unique_ptr<FloorPanel> floorWindow;
    Target target;
    if (floor) {
        pty = std::make_unique<Pty>();
        floorWindow = std::make_unique<FloorPanel>(pty->rawWriter());
        floorWindow->show();
        if (!QTest::qWaitForWindowExposed(floorWindow.get()))
            return 3;
        target = floorTarget(*floorWindow, *pty);
    } else {
        panel = std::make_unique<BenchPanel>();
        panel->messages.pause();
        target = panelTarget(*panel);
    }
    CALLGRIND_START_INSTRUMENTATION;
    char got[5];
    for (int k = 0; k < 100; ++k) {
        makeSelection(target, k % 20);
        target.pty->readExactly(got, 5);
    }
    int wrong = 0;
    for (int k = 0; k < selections; ++k) {
        const int channel = k % 20;
        CALLGRIND_TOGGLE_COLLECT;
        makeSelection(target, channel);
        CALLGRIND_TOGGLE_COLLECT;
        if (!target.pty->readExactly(got, 5) || QByteArray(got, 5) != channelCommand(channel))
            ++wrong;
    }
    CALLGRIND_STOP_INSTRUMENTATION;
    return wrong == 0 ? 0 : 1;
#else
    Q_UNUSED(floor);
    Q_UNUSED(selections);
    qWarning("built without valgrind/callgrind.h");
    return 2;
#endif
}

} // namespace queltor::bench
