// Figure 3: from process start to the window mapped on an X server with the
// port open, and the peak resident memory, for the real program, for a bare
// Qt program that shows the same controls (the fair floor), and for the least
// a Qt Widgets program does to map a window.
#include "figures.h"
#include "harness.h"
#include "profile.h"
#include "pseudo_tty.h"
#include "temp_config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>

#ifdef QUELTOR_BENCH_HAVE_XCB
#include <xcb/xcb.h>
#endif

extern char **environ;

namespace queltor::bench {

#ifdef QUELTOR_BENCH_HAVE_XCB

namespace {

// The panel may take this many times as long to show as a bare Qt program
// showing the same controls.
constexpr double kStartUpGoal = 1.10;

// Hears every top-level window the X server maps, with the pid its owner
// put on it, so "shown" needs no help from the program.
class MapWatcher
{
public:
    MapWatcher()
    {
        int screenNumber = 0;
        m_connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(m_connection)) {
            m_error = QStringLiteral("no X server at DISPLAY=%1").arg(QString::fromLocal8Bit(qgetenv("DISPLAY")));
            return;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&it);
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, it.data->root, XCB_CW_EVENT_MASK, &mask);
        m_pidAtom = atom("_NET_WM_PID");
        m_protocolsAtom = atom("WM_PROTOCOLS");
        m_deleteAtom = atom("WM_DELETE_WINDOW");
        xcb_flush(m_connection);
    }
    ~MapWatcher()
    {
        if (m_connection)
            xcb_disconnect(m_connection);
    }
    MapWatcher(const MapWatcher &) = delete;
    MapWatcher &operator=(const MapWatcher &) = delete;

    QString error() const { return m_error; }

    // Asks the window to close, as its title bar's close button would, so the
    // program shuts down normally and releases its port and lock file.
    void close(xcb_window_t window)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = m_protocolsAtom;
        message.data.data32[0] = m_deleteAtom;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&message));
        xcb_flush(m_connection);
    }

    // The moment a window of pid was seen mapped, or -1 after timeoutMs.
    std::int64_t waitForMap(pid_t pid, int timeoutMs, xcb_window_t *mappedWindow)
    {
        const std::int64_t deadline = wallNs() + std::int64_t(timeoutMs) * 1000000;
        for (;;) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
                const std::int64_t seen = wallNs();
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                const xcb_window_t window = mapped ? reinterpret_cast<xcb_map_notify_event_t *>(event)->window : 0;
                free(event);
                if (mapped && windowPid(window) == pid) {
                    *mappedWindow = window;
                    return seen;
                }
            }
            const std::int64_t left = deadline - wallNs();
            if (left <= 0 || xcb_connection_has_error(m_connection))
                return -1;
            pollfd p{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            ::poll(&p, 1, int(left / 1000000) + 1);
        }
    }

private:
    xcb_atom_t atom(const char *name)
    {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : 0;
        free(reply);
        return found;
    }

    pid_t windowPid(xcb_window_t window)
    {
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        pid_t pid = -1;
        if (reply && xcb_get_property_value_length(reply) == 4)
            pid = pid_t(*static_cast<uint32_t *>(xcb_get_property_value(reply)));
        free(reply);
        return pid;
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_atom_t m_pidAtom = 0;
    xcb_atom_t m_protocolsAtom = 0;
    xcb_atom_t m_deleteAtom = 0;
    QString m_error;
};

struct Launch
{
    double shownMs = -1;
    double cpuMs = -1;  // all its threads' time on a processor until then
    double waitMs = -1; // and their time ready to run but waiting for a processor
    double peakRssKb = 0;
    bool portOpen = false;
    pid_t pid = 0;
};

// How a program is started: straight, or under a profiler that is much slower
// and whose counts should end as soon as the window is up.
struct LaunchMode
{
    QStringList prefix;
    int mapTimeoutMs = 20000;
    int settleMs = 300; // its first paint and whatever settles after it count towards the peak
    int exitTimeoutMs = 5000;
};

bool holdsOpen(pid_t pid, const QString &device)
{
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString &fd : QDir(fdDir).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        if (QFileInfo(fdDir + QLatin1Char('/') + fd).symLinkTarget() == device)
            return true;
    return false;
}

// The scheduler's own count for every thread of pid so far: time on a
// processor, and time ready to run but waiting for one, in ms.
std::pair<double, double> schedulerMsSoFar(pid_t pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    double runNs = 0;
    double waitNs = 0;
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        runNs += fields.value(0).toDouble();
        waitNs += fields.value(1).toDouble();
    }
    return {runNs / 1e6, waitNs / 1e6};
}

Launch launch(MapWatcher &watcher, const QString &program, bool withPanelSettings, const LaunchMode &mode = {})
{
    TempConfig home;
    Pty pty;
    if (withPanelSettings) {
        home.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("1"));
        home.setValue(QStringLiteral("Settings"), QStringLiteral("ComPort"), QStringLiteral("1"));
        home.mapPort(1, pty.slavePath());
    }

    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        if (entry.rfind("QT_QPA_PLATFORM=", 0) != 0 && entry.rfind("XDG_CONFIG_HOME=", 0) != 0)
            env.push_back(entry);
    }
    env.push_back("XDG_CONFIG_HOME=" + home.path().toStdString());
    env.push_back("QT_QPA_PLATFORM=xcb");
    std::vector<char *> envp;
    for (std::string &entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args;
    for (const QString &arg : mode.prefix)
        args.push_back(QFile::encodeName(arg).toStdString());
    args.push_back(QFile::encodeName(program).toStdString());
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    Launch result;
    pid_t pid = 0;
    const std::int64_t started = wallNs();
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
        qFatal("cannot start %s", argv[0]);
    result.pid = pid;
    xcb_window_t window = 0;
    const std::int64_t shown = watcher.waitForMap(pid, mode.mapTimeoutMs, &window);
    if (shown >= 0) {
        result.shownMs = double(shown - started) / 1e6;
        std::tie(result.cpuMs, result.waitMs) = schedulerMsSoFar(pid);
        result.portOpen = holdsOpen(pid, pty.slavePath());
        ::usleep(useconds_t(mode.settleMs) * 1000);
        watcher.close(window);
    }
    int status = 0;
    rusage usage{};
    const std::int64_t giveUp = wallNs() + std::int64_t(mode.exitTimeoutMs) * 1000000;
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (wallNs() > giveUp) {
            qWarning("%s did not close when asked; killed", args.back().c_str());
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            break;
        }
        ::usleep(2000);
    }
    result.peakRssKb = double(usage.ru_maxrss);
    return result;
}

// One start of a program counted by callgrind in two parts: up to the event
// loop, by when the window is shown, and from there to closing, which it is
// asked to as soon as it is mapped: the first paint and shutting down.
struct StartUpProfile
{
    Profile untilShown;
    Profile afterwards;
};

StartUpProfile profileStartUp(MapWatcher &watcher, const QString &program, bool withPanelSettings)
{
    QTemporaryDir dir;
    LaunchMode mode;
    mode.prefix = {QStringLiteral("valgrind"), QStringLiteral("--tool=callgrind"),
                   QStringLiteral("--dump-before=QCoreApplication::exec()"),
                   QStringLiteral("--log-file=") + dir.filePath(QStringLiteral("valgrind.%p")),
                   // %p: a fork (D-Bus looks for a session bus that way) writes its own file
                   QStringLiteral("--callgrind-out-file=") + dir.filePath(QStringLiteral("callgrind.%p"))};
    mode.mapTimeoutMs = 180000;
    mode.settleMs = 0;
    mode.exitTimeoutMs = 60000;
    const Launch run = launch(watcher, program, withPanelSettings, mode);
    if (run.shownMs < 0) {
        const Profile none = Profile::failure(QStringLiteral("the window was not shown under callgrind"));
        return {none, none};
    }
    const QString file = dir.filePath(QStringLiteral("callgrind.%1").arg(run.pid));
    return {Profile::read(file + QStringLiteral(".1")), Profile::read(file)};
}

// What each step of start-up costs, each function's count inclusive of what it
// calls. Indented steps are part of the step above them.
std::vector<Step> startUpSteps()
{
    return {
        {QStringLiteral("    linking the libraries at start"), {QStringLiteral("_dl_start")}},
        {QStringLiteral("    loading plug-ins (dlopen)"), {QStringLiteral("dlopen")}},
        {QStringLiteral("    QApplication: X connection, platform plug-in"),
         {QStringLiteral("QApplication::QApplication")}},
        {QStringLiteral("    the window built (frmMain)"), {QStringLiteral("queltor::frmMain::frmMain")}},
        {QStringLiteral("      settings file read"), {QStringLiteral("queltor::SettingsStore::SettingsStore")}},
        {QStringLiteral("      the icon"),
         {QStringLiteral("QIcon::QIcon(QString const&)"), QStringLiteral("QIcon::QIcon(QPixmap const&)"),
          QStringLiteral("QPixmap::load"), QStringLiteral("QWidget::setWindowIcon")}},
        {QStringLiteral("      the controls"), {QStringLiteral("queltor::frmMain::buildControls")}},
        {QStringLiteral("        fontconfig reads its setup (first text)"),
         {QStringLiteral("QFontconfigDatabase::populateFontDatabase")}},
        {QStringLiteral("        fonts matched and opened (display font)"),
         {QStringLiteral("QFontconfigDatabase::fallbacksForFamily"),
          QStringLiteral("QFontconfigDatabase::fontEngine")}},
        {QStringLiteral("        101 push buttons"), {QStringLiteral("QPushButton::QPushButton")}},
        {QStringLiteral("        combo boxes made editable"), {QStringLiteral("QComboBox::setEditable")}},
        {QStringLiteral("      the menus"),
         {QStringLiteral("queltor::frmMain::buildMenus")},
         {QStringLiteral("(anonymous namespace)::buildMenus")}},
        {QStringLiteral("    Form_Load"), {QStringLiteral("queltor::frmMain::Form_Load")}},
        {QStringLiteral("      stored choices read"), {QStringLiteral("queltor::readStoredChoices")}},
        // The stored count is shown as it is: nothing is saved at this start.
        {QStringLiteral("      the bank shown (applyBank)"), {QStringLiteral("queltor::frmMain::applyBank")}},
        {QStringLiteral("      the port opened"), {QStringLiteral("queltor::SerialPort::setPortOpen")}},
        // A floor whose first text is measured in show() reads fontconfig's setup there.
        {QStringLiteral("    show(): polish, layout, the X window"), {QStringLiteral("QWidget::show")}, {}, false},
    };
}

} // namespace

QJsonObject startUp(const Options &options)
{
    MapWatcher watcher;
    if (!watcher.error().isEmpty()) {
        QJsonArray rows;
        rows << row(QStringLiteral("3 Start-up"), QStringLiteral("not measured: ") + watcher.error(), QString(),
                    QString(), QStringLiteral("< 60 ms"), QStringLiteral("NO"));
        return QJsonObject{{QStringLiteral("rows"), rows},
                           {QStringLiteral("error"), watcher.error()},
                           {QStringLiteral("goal_met"), false}};
    }

    // One series of starts per program, taken in turns so that each meets much the same load.
    struct Series
    {
        Series(QString program, bool panelSettings)
            : binary(std::move(program))
            , withPanelSettings(panelSettings)
        {
        }
        QString binary;
        bool withPanelSettings;
        Launch cold; // the first start fills the disk and font caches; it is shown apart
        std::vector<double> shownMs, cpuMs, waitMs, peakKb;
    };
    Series panel(options.queltorBinary, true);
    Series fair(options.sameControlsBinary, false);
    Series empty(options.emptyWindowBinary, false);
    for (Series *series : {&panel, &fair, &empty})
        series->cold = launch(watcher, series->binary, series->withPanelSettings);
    std::vector<double> pairRatios;
    int portClosed = 0;
    int neverShown = 0;
    const std::array<Series *, 3> order{&panel, &fair, &empty};
    for (int run = 0; run < options.startupRuns; ++run) {
        // Each round starts with the next program, so that none always follows the same one.
        std::array<Launch, 3> starts;
        for (std::size_t i = 0; i < order.size(); ++i) {
            const std::size_t which = (i + std::size_t(run)) % order.size();
            starts[which] = launch(watcher, order[which]->binary, order[which]->withPanelSettings);
        }
        if (std::any_of(starts.begin(), starts.end(), [](const Launch &l) { return l.shownMs < 0; })) {
            ++neverShown;
            continue;
        }
        portClosed += starts[0].portOpen ? 0 : 1;
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i]->shownMs.push_back(starts[i].shownMs);
            order[i]->cpuMs.push_back(starts[i].cpuMs);
            order[i]->waitMs.push_back(starts[i].waitMs);
            order[i]->peakKb.push_back(starts[i].peakRssKb);
        }
        pairRatios.push_back(starts[0].shownMs / starts[1].shownMs);
    }
    const Summary shown = summarize(panel.shownMs);
    const Summary fairShown = summarize(fair.shownMs);
    const Summary emptyShown = summarize(empty.shownMs);
    // Each panel start beside the fair floor's in the same round: the load they met was much the same.
    const Summary pairs = summarize(pairRatios);
    const Summary cpu = summarize(panel.cpuMs);
    const Summary fairCpu = summarize(fair.cpuMs);
    const Summary emptyCpu = summarize(empty.cpuMs);
    const Summary wait = summarize(panel.waitMs);
    const Summary fairWait = summarize(fair.waitMs);
    const Summary emptyWait = summarize(empty.waitMs);
    const Summary rss = summarize(panel.peakKb);
    const Summary fairRss = summarize(fair.peakKb);
    const Summary emptyRss = summarize(empty.peakKb);
    const bool valid = neverShown == 0 && portClosed == 0;
    const double ratio = shown.median / fairShown.median;
    const double emptyRatio = shown.median / emptyShown.median;
    const bool ratioMet = valid && ratio <= kStartUpGoal;
    const bool timeMet = valid && shown.median < 60;
    // Decimal megabytes: the stricter reading of the goal.
    const bool memoryMet = valid && rss.max * 1024 / 1e6 < 35;

    const auto msText = [](double v) { return QStringLiteral("%1 ms").arg(v, 0, 'f', 1); };
    const auto mbText = [](double kb) { return QStringLiteral("%1 MB").arg(kb * 1024 / 1e6, 0, 'f', 1); };
    QJsonArray rows;
    rows << row(QStringLiteral("3 Start-up to window shown, port open, median of %1").arg(shown.count),
                msText(shown.median), msText(fairShown.median), ratioText(ratio),
                QStringLiteral("<= %1x floor").arg(kStartUpGoal, 0, 'f', 2), yesNo(ratioMet));
    rows << row(QStringLiteral("  the same against a bare Qt window with one label"), msText(shown.median),
                msText(emptyShown.median), ratioText(emptyRatio), QString(), QString());
    rows << row(QStringLiteral("  the same against the time goal"), msText(shown.median), QString(), QString(),
                QStringLiteral("< 60 ms"), yesNo(timeMet));
    rows << row(QStringLiteral("  ratio of each start to the floor's in its round, median"), QString(), QString(),
                ratioText(pairs.median), QString(), QString());
    rows << row(QStringLiteral("  max"), msText(shown.max), msText(fairShown.max), ratioText(shown.max / fairShown.max),
                QString(), QString());
    rows << row(QStringLiteral("  processor time until shown, median"), msText(cpu.median), msText(fairCpu.median),
                ratioText(cpu.median / fairCpu.median), QString(), QString());
    rows << row(QStringLiteral("  waiting for a processor until shown, median"), msText(wait.median),
                msText(fairWait.median), ratioText(wait.median / fairWait.median), QString(), QString());
    rows << row(QStringLiteral("  first (cold) start"), msText(panel.cold.shownMs), msText(fair.cold.shownMs),
                QString(), QString(), QString());
    rows << row(QStringLiteral("  peak resident memory, max of runs"), mbText(rss.max), mbText(fairRss.max),
                ratioText(rss.max / fairRss.max), QStringLiteral("< 35 MB"), yesNo(memoryMet));

    // The same starts counted by callgrind, step by step: repeatable where the clock is not.
    const StartUpProfile panelProfile = profileStartUp(watcher, options.queltorBinary, true);
    const StartUpProfile fairProfile = profileStartUp(watcher, options.sameControlsBinary, false);
    const StartUpProfile emptyProfile = profileStartUp(watcher, options.emptyWindowBinary, false);
    QJsonArray breakdown;
    QString profileError;
    for (const StartUpProfile *p : {&panelProfile, &fairProfile, &emptyProfile})
        for (const Profile *part : {&p->untilShown, &p->afterwards})
            profileError = profileError.isEmpty() ? part->error() : profileError;
    const double panelCount = panelProfile.untilShown.total();
    const double fairCount = fairProfile.untilShown.total();
    const double emptyCount = emptyProfile.untilShown.total();
    if (profileError.isEmpty()) {
        rows << row(QStringLiteral("  callgrind, one start until the event loop runs"), instructions(panelCount),
                    instructions(fairCount), ratioText(panelCount / fairCount), QString(), QString());
        rows << row(QStringLiteral("  the same against a bare Qt window with one label"), instructions(panelCount),
                    instructions(emptyCount), ratioText(panelCount / emptyCount), QString(), QString());
        for (const auto &r : stepRows(startUpSteps(), panelProfile.untilShown, fairProfile.untilShown, 1, &breakdown))
            rows << r;
        rows << row(QStringLiteral("  callgrind, then first paint and shutting down"),
                    instructions(panelProfile.afterwards.total()), instructions(fairProfile.afterwards.total()),
                    ratioText(panelProfile.afterwards.total() / fairProfile.afterwards.total()), QString(), QString());
    } else {
        rows << row(QStringLiteral("  callgrind"), QStringLiteral("not measured: ") + profileError, QString(),
                    QString(), QString(), QString());
    }

    const auto kbToMb = [](Summary s) {
        QJsonObject o = s.json();
        for (const QString &key : o.keys())
            if (key != QStringLiteral("count"))
                o[key] = o[key].toDouble() * 1024 / 1e6;
        return o;
    };
    return QJsonObject{
        {QStringLiteral("rows"), rows},
        {QStringLiteral("runs"), options.startupRuns},
        {QStringLiteral("how"),
         QStringLiteral("posix_spawn of the Release binary on an X server (no window "
                        "manager) until MapNotify of a window whose _NET_WM_PID is the "
                        "child; processor and run-queue time then from /proc/<pid>/task/*/schedstat; "
                        "port checked in /proc/<pid>/fd; closed by WM_DELETE_WINDOW "
                        "300 ms after; peak RSS is ru_maxrss from wait4; the panel, the floor "
                        "with the same controls and the bare window started in turns; then one "
                        "start of each under callgrind, dumped when the event loop is entered and "
                        "closed as soon as mapped; ratio and ratio_goal are against the floor "
                        "with the same controls")},
        {QStringLiteral("shown_ms"), shown.json()},
        {QStringLiteral("floor_same_controls_shown_ms"), fairShown.json()},
        {QStringLiteral("floor_empty_window_shown_ms"), emptyShown.json()},
        {QStringLiteral("ratio"), ratio},
        {QStringLiteral("ratio_goal"), kStartUpGoal},
        {QStringLiteral("ratio_to_empty_window"), emptyRatio},
        {QStringLiteral("paired_ratios"), pairs.json()},
        {QStringLiteral("cpu_ms"), cpu.json()},
        {QStringLiteral("floor_same_controls_cpu_ms"), fairCpu.json()},
        {QStringLiteral("floor_cpu_ms"), emptyCpu.json()},
        {QStringLiteral("run_queue_wait_ms"), wait.json()},
        {QStringLiteral("floor_same_controls_run_queue_wait_ms"), fairWait.json()},
        {QStringLiteral("floor_run_queue_wait_ms"), emptyWait.json()},
        {QStringLiteral("cold_shown_ms"), panel.cold.shownMs},
        {QStringLiteral("floor_same_controls_cold_shown_ms"), fair.cold.shownMs},
        {QStringLiteral("floor_cold_shown_ms"), empty.cold.shownMs},
        {QStringLiteral("peak_rss_mb"), kbToMb(rss)},
        {QStringLiteral("floor_same_controls_peak_rss_mb"), kbToMb(fairRss)},
        {QStringLiteral("floor_peak_rss_mb"), kbToMb(emptyRss)},
        {QStringLiteral("callgrind_instructions_until_shown"), panelCount},
        {QStringLiteral("callgrind_floor_same_controls_instructions_until_shown"), fairCount},
        {QStringLiteral("callgrind_floor_instructions_until_shown"), emptyCount},
        {QStringLiteral("callgrind_instructions_afterwards"), panelProfile.afterwards.total()},
        {QStringLiteral("callgrind_floor_same_controls_instructions_afterwards"), fairProfile.afterwards.total()},
        {QStringLiteral("callgrind_floor_instructions_afterwards"), emptyProfile.afterwards.total()},
        {QStringLiteral("callgrind_breakdown"), breakdown},
        {QStringLiteral("callgrind_error"), profileError},
        {QStringLiteral("runs_without_port_open"), portClosed},
        {QStringLiteral("runs_never_shown"), neverShown},
        {QStringLiteral("goal_met"), ratioMet && timeMet && memoryMet},
    };
}

#else

QJsonObject startUp(const Options &)
{
    QJsonArray rows;
    rows << row(QStringLiteral("3 Start-up"), QStringLiteral("not measured: built without xcb"), QString(), QString(),
                QStringLiteral("< 60 ms"), QStringLiteral("NO"));
    return QJsonObject{{QStringLiteral("rows"), rows}, {QStringLiteral("goal_met"), false}};
}

#endif

} // namespace queltor::bench
