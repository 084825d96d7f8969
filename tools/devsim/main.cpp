// queltor-devsim: a stand-in for the channel-switching device on pseudo-terminals.
#include "command_parser.h"
#include "line_settings.h"
#include "options.h"
#include "published_link.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

using namespace queltor::devsim;

namespace {

using Clock = std::chrono::steady_clock;

// QSerialPort and its kind set the line up just after open(); give them a moment.
constexpr auto kSettleTime = std::chrono::milliseconds(100);
// A pty hands bytes to the master side a moment after the writer returns, so a
// close is only final once the line has been quiet this long.
constexpr auto kCloseQuiet = std::chrono::milliseconds(50);

struct Port
{
    PortLink link;
    std::string slavePath;
    int master = -1;
    int slave = -1; // held open, so the line settings stay readable and the master never hangs up
    int watch = -1;
    bool linked = false;

    CommandParser parser;
    int openers = 0;
    std::optional<Clock::time_point> checkDue;
    std::optional<LineSettings> reported;
    std::optional<Clock::time_point> changeDue;
    std::optional<Clock::time_point> closeDue;

    long commands = 0;
    long errors = 0;
    long mismatches = 0;
};

std::string timestamp()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec,
                  now.tv_nsec / 1000000);
    return text;
}

std::string counted(long count, const char *one, const char *many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

LineSettings currentSettings(const Port &port)
{
    termios tio{};
    ::tcgetattr(port.slave, &tio);
    return lineSettingsOf(tio);
}

class Simulator
{
public:
    explicit Simulator(Options options)
        : m_options(std::move(options))
    {
    }

    int run();

private:
    bool setUp();
    void tearDown();
    void loop();
    int pollTimeout() const;

    void readPort(Port &port);
    void readWatches();
    void runDueWork();
    void opened(Port &port);
    void finishClose(Port &port);
    void checkSettings(Port &port, bool opening);
    void report(Port &port, const Record &record);
    void say(const Port &port, const std::string &text);
    void printSummary() const;

    Options m_options;
    std::vector<Port> m_ports;
    int m_signals = -1;
    int m_watcher = -1;
    long m_records = 0;
    bool m_stop = false;
    bool m_quitReached = false;
};

int Simulator::run()
{
    // Handled through a descriptor in the loop: the links must go whatever ends the run.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGHUP);
    sigprocmask(SIG_BLOCK, &ending, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    m_signals = ::signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK);

    const bool ready = m_signals >= 0 && setUp();
    if (ready)
        loop();
    tearDown();
    if (!ready)
        return 2;
    printSummary();

    long problems = 0;
    for (const Port &port : m_ports)
        problems += port.errors + port.mismatches;
    return problems == 0 ? 0 : 1;
}

bool Simulator::setUp()
{
    m_watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watcher < 0) {
        std::fprintf(stderr, "queltor-devsim: cannot watch the ports: %s\n", std::strerror(errno));
        return false;
    }
    m_ports.reserve(m_options.ports.size());
    for (const PortLink &link : m_options.ports) {
        m_ports.emplace_back();
        Port &port = m_ports.back();
        port.link = link;
        char name[256] = {};
        if (::openpty(&port.master, &port.slave, name, nullptr, nullptr) != 0) {
            std::fprintf(stderr, "queltor-devsim: %s: cannot create a pseudo-terminal: %s\n", link.name().c_str(),
                         std::strerror(errno));
            return false;
        }
        port.slavePath = name;
        ::fcntl(port.master, F_SETFL, ::fcntl(port.master, F_GETFL) | O_NONBLOCK);
        ::fcntl(port.master, F_SETFD, FD_CLOEXEC);
        ::fcntl(port.slave, F_SETFD, FD_CLOEXEC);
        // Opens and closes of the slave are how the device learns that a program took the port.
        port.watch = ::inotify_add_watch(m_watcher, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
        if (port.watch < 0) {
            std::fprintf(stderr, "queltor-devsim: %s: cannot watch %s: %s\n", link.name().c_str(), name,
                         std::strerror(errno));
            return false;
        }
        const std::string error = publishLink(link.path, port.slavePath);
        if (!error.empty()) {
            std::fprintf(stderr, "queltor-devsim: %s: %s\n", link.name().c_str(), error.c_str());
            return false;
        }
        port.linked = true;
    }
    for (const Port &port : m_ports)
        say(port, "ready at " + port.link.path + " (" + port.slavePath + ")");
    return true;
}

void Simulator::tearDown()
{
    for (Port &port : m_ports) {
        if (port.linked)
            withdrawLink(port.link.path, port.slavePath);
        port.linked = false;
        for (int *fd : {&port.master, &port.slave}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
    if (m_watcher >= 0)
        ::close(m_watcher);
    if (m_signals >= 0)
        ::close(m_signals);
    m_watcher = m_signals = -1;
}

int Simulator::pollTimeout() const
{
    std::optional<Clock::time_point> next;
    for (const Port &port : m_ports) {
        for (const auto &due : {port.checkDue, port.changeDue, port.closeDue}) {
            if (due && (!next || *due < *next))
                next = due;
        }
    }
    if (!next)
        return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, wait));
}

void Simulator::loop()
{
    while (!m_stop) {
        std::vector<pollfd> fds;
        fds.push_back({m_signals, POLLIN, 0});
        fds.push_back({m_watcher, POLLIN, 0});
        for (const Port &port : m_ports)
            fds.push_back({port.master, POLLIN, 0});

        if (::poll(fds.data(), fds.size(), pollTimeout()) < 0 && errno != EINTR) {
            std::fprintf(stderr, "queltor-devsim: poll: %s\n", std::strerror(errno));
            return;
        }
        if (fds[0].revents & POLLIN)
            m_stop = true;
        // Data before opens and closes: bytes written just before a close belong to that session.
        for (std::size_t i = 0; i < m_ports.size() && !m_quitReached; ++i) {
            if (fds[i + 2].revents & POLLIN)
                readPort(m_ports[i]);
        }
        if (fds[1].revents & POLLIN && !m_quitReached)
            readWatches();
        if (!m_quitReached)
            runDueWork();
    }

    if (m_quitReached)
        return;
    // Stopped from outside: whatever already arrived still counts.
    for (Port &port : m_ports) {
        readPort(port);
        if (port.closeDue)
            finishClose(port);
        if (const std::optional<Record> rest = port.parser.finish(Record::Kind::UnfinishedAtStop))
            report(port, *rest);
    }
}

void Simulator::readPort(Port &port)
{
    char buffer[4096];
    std::vector<Record> records;
    for (;;) {
        const ssize_t got = ::read(port.master, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            break;
        }
        if (port.closeDue)
            port.closeDue = Clock::now() + kCloseQuiet;
        if (port.checkDue && port.openers > 0) {
            checkSettings(port, true);
        } else if (port.reported && port.openers > 0 && !port.changeDue && currentSettings(port) != *port.reported) {
            // A closing program puts back the settings it found just before it
            // closes; only a change that outlasts that is the sender's.
            port.changeDue = Clock::now() + kSettleTime;
        }
        records.clear();
        port.parser.feed(std::string_view(buffer, static_cast<std::size_t>(got)), records);
        for (const Record &record : records) {
            report(port, record);
            if (m_quitReached)
                return;
        }
    }
}

void Simulator::readWatches()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_watcher, buffer, sizeof buffer);
        if (got <= 0)
            return;
        for (ssize_t offset = 0; offset < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            for (Port &port : m_ports) {
                if (port.watch != event->wd)
                    continue;
                if (event->mask & IN_OPEN) {
                    if (port.openers == 0)
                        opened(port);
                    ++port.openers;
                } else if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                    if (port.openers > 0 && --port.openers == 0)
                        port.closeDue = Clock::now() + kCloseQuiet;
                }
            }
        }
    }
}

void Simulator::opened(Port &port)
{
    if (port.closeDue) {
        readPort(port);
        if (m_quitReached)
            return;
        finishClose(port);
    }
    port.reported.reset();
    port.changeDue.reset();
    port.checkDue = Clock::now() + kSettleTime;
}

void Simulator::runDueWork()
{
    const Clock::time_point now = Clock::now();
    for (Port &port : m_ports) {
        if (port.checkDue && *port.checkDue <= now && port.openers > 0)
            checkSettings(port, true);
        if (port.changeDue && *port.changeDue <= now) {
            port.changeDue.reset();
            if (port.openers > 0 && port.reported && currentSettings(port) != *port.reported)
                checkSettings(port, false);
        }
        if (port.closeDue && *port.closeDue <= now) {
            readPort(port);
            if (m_quitReached)
                return;
            finishClose(port);
        }
    }
}

void Simulator::finishClose(Port &port)
{
    port.closeDue.reset();
    if (const std::optional<Record> rest = port.parser.finish(Record::Kind::UnfinishedAtClose))
        report(port, *rest);
    if (port.checkDue) {
        // Opened and closed before it settled: what the line shows now may be the closer's restore.
        port.checkDue.reset();
        say(port, "opened and closed again at once; line settings not checked");
    }
    port.reported.reset();
    port.changeDue.reset();
    say(port, "closed");
}

void Simulator::checkSettings(Port &port, bool opening)
{
    const LineSettings settings = currentSettings(port);
    const bool ok = isDeviceSetting(settings);
    if (!ok)
        ++port.mismatches;
    port.checkDue.reset();
    port.reported = settings;
    say(port,
        std::string(opening ? "opened at " : "line settings now ") + describeLineSettings(settings)
            + (ok ? ": ok" : ": mismatch, the device expects 9600 8N1"));
}

void Simulator::report(Port &port, const Record &record)
{
    if (record.isError())
        ++port.errors;
    else
        ++port.commands;
    say(port, describeRecord(record));
    if (m_options.quitAfter > 0 && ++m_records >= m_options.quitAfter) {
        m_quitReached = true;
        m_stop = true;
    }
}

void Simulator::say(const Port &port, const std::string &text)
{
    const std::string line = timestamp() + " " + port.link.name() + " " + text + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

void Simulator::printSummary() const
{
    long commands = 0;
    long errors = 0;
    long mismatches = 0;
    const auto counts = [](long c, long e, long m) {
        return counted(c, "command", "commands") + ", " + counted(e, "error", "errors") + ", "
            + counted(m, "settings mismatch", "settings mismatches");
    };
    for (const Port &port : m_ports) {
        std::printf("summary %s: %s\n", port.link.name().c_str(),
                    counts(port.commands, port.errors, port.mismatches).c_str());
        commands += port.commands;
        errors += port.errors;
        mismatches += port.mismatches;
    }
    std::printf("summary total: %s\n", counts(commands, errors, mismatches).c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedOptions parsed = parseOptions(args);
    if (parsed.options.help || parsed.options.version) {
        const std::string text = parsed.options.help ? usageText("queltor-devsim")
                                                     : "queltor-devsim " QUELTOR_VERSION "\n";
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "queltor-devsim: %s\nTry queltor-devsim --help.\n", parsed.error.c_str());
        return 2;
    }
    Simulator simulator(parsed.options);
    return simulator.run();
}
