// queltor-devsim: a stand-in for the channel-switching device on pseudo-terminals.
#include "command_parser.h"
#include "line_settings.h"
#include "operator_command.h"
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
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace queltor::devsim;

namespace {

using Clock = std::chrono::steady_clock;

// QSerialPort and its kind set the line up just after open(); settings are final
// once they have stood this long.
constexpr auto kSettleTime = std::chrono::milliseconds(100);
// A pty hands bytes to the master side a moment after the writer returns, so a
// close is only final once the line has been quiet this long.
constexpr auto kCloseQuiet = std::chrono::milliseconds(50);

struct Port
{
    PortLink link;
    std::string slavePath;
    int master = -1; // -1 while unplugged
    int slave = -1;  // held open, so the line settings stay readable and the master never hangs up
    int watch = -1;
    bool linked = false;

    CommandParser parser;
    int openers = 0;
    std::optional<Clock::time_point> checkDue;
    std::optional<LineSettings> reported;
    std::optional<Clock::time_point> changeDue;
    std::optional<Clock::time_point> closeDue;

    // The master runs in packet mode and the line carries EXTPROC, so every
    // tcsetattr on the port is announced. A program may set the line up,
    // write, put the old settings back and close before the simulator looks,
    // so settings read after the bytes are only trusted when nothing changed
    // them since before the open.
    long changes = 0;
    long changesAtWatch = 0; // when the opens and closes were last all read
    std::optional<long> changesAtOpen;
    bool announcing = true;      // EXTPROC still set; a program may clear it
    bool unclaimedBytes = false; // arrived before their open was seen

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

bool changeAnnounced(const Port &port)
{
    pollfd fd{port.master, POLLPRI, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLPRI);
}

// Whether a process other than this one has the port's slave open, as far as
// /proc lets this user see: a pseudo-terminal of ours is opened by our own
// user's programs, or by root, who may see them all.
bool heldByAnother(const Port &port)
{
    struct stat slave
    { };
    if (::fstat(port.slave, &slave) != 0)
        return false;
    const std::string self = std::to_string(::getpid());
    DIR *processes = ::opendir("/proc");
    if (!processes)
        return true; // cannot tell: the count stands
    bool held = false;
    while (const dirent *process = ::readdir(processes)) {
        const std::string pid = process->d_name;
        if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string folder = "/proc/" + pid + "/fd";
        DIR *descriptors = ::opendir(folder.c_str());
        if (!descriptors)
            continue;
        while (const dirent *fd = ::readdir(descriptors)) {
            struct stat open
            { };
            if (fd->d_name[0] != '.' && ::stat((folder + '/' + fd->d_name).c_str(), &open) == 0 && S_ISCHR(open.st_mode)
                && open.st_rdev == slave.st_rdev) {
                held = true;
                break;
            }
        }
        ::closedir(descriptors);
        if (held)
            break;
    }
    ::closedir(processes);
    return held;
}

// The settings now, unless a change is already on its way.
std::optional<LineSettings> steadySettings(const Port &port)
{
    const LineSettings settings = currentSettings(port);
    if (changeAnnounced(port))
        return std::nullopt;
    return settings;
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

    std::string plugIn(Port &port);
    void release(Port &port);
    void readInput();
    void endOfInput();
    void obey(const std::string &line);
    void unplug(Port &port);
    void replug(Port &port);

    void readPort(Port &port);
    void settingsChanged(Port &port);
    void checkIfUntouched(Port &port);
    void readWatches();
    void runDueWork();
    void opened(Port &port);
    void endSession(Port &port, const char *unchecked);
    void finishClose(Port &port);
    void checkSettings(Port &port, bool opening, const LineSettings &settings);
    void report(Port &port, const Record &record);
    void say(const Port &port, const std::string &text);
    void printSummary() const;

    Options m_options;
    std::vector<Port> m_ports;
    int m_signals = -1;
    int m_watcher = -1;
    int m_input = STDIN_FILENO; // -1 once it can give no more
    std::string m_inputLine;
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
    // Started in the background of a terminal, reading it fails instead of stopping the simulator.
    std::signal(SIGTTIN, SIG_IGN);
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
        m_ports.back().link = link;
        const std::string error = plugIn(m_ports.back());
        if (!error.empty()) {
            std::fprintf(stderr, "queltor-devsim: %s: %s\n", link.name().c_str(), error.c_str());
            return false;
        }
    }
    for (const Port &port : m_ports)
        say(port, "ready at " + port.link.path + " (" + port.slavePath + ")");
    return true;
}

// A fresh pseudo-terminal, published at the port's path; an empty string, or why not.
std::string Simulator::plugIn(Port &port)
{
    char name[256] = {};
    if (::openpty(&port.master, &port.slave, name, nullptr, nullptr) != 0) {
        port.master = port.slave = -1;
        return std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    }
    port.slavePath = name;
    ::fcntl(port.master, F_SETFL, ::fcntl(port.master, F_GETFL) | O_NONBLOCK);
    ::fcntl(port.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(port.slave, F_SETFD, FD_CLOEXEC);
    // The reason is made before release() can touch errno.
    const auto failed = [this, &port](std::string why) {
        release(port);
        return why;
    };
    termios tio{};
    ::tcgetattr(port.slave, &tio);
    tio.c_lflag |= EXTPROC;
    int packet = 1;
    if (::tcsetattr(port.slave, TCSANOW, &tio) != 0 || ::ioctl(port.master, TIOCPKT, &packet) != 0)
        return failed(std::string("cannot follow the line settings of ") + name + ": " + std::strerror(errno));
    port.announcing = true;
    port.changesAtWatch = port.changes;
    // Opens and closes of the slave are how the device learns that a program took the port.
    port.watch = ::inotify_add_watch(m_watcher, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
    if (port.watch < 0)
        return failed(std::string("cannot watch ") + name + ": " + std::strerror(errno));
    if (std::string error = publishLink(port.link.path, port.slavePath); !error.empty())
        return failed(std::move(error));
    port.linked = true;
    return {};
}

// Master first: whoever sees the link go finds the port already hung up.
void Simulator::release(Port &port)
{
    if (port.watch >= 0)
        ::inotify_rm_watch(m_watcher, port.watch);
    for (int *fd : {&port.master, &port.slave}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (port.linked)
        withdrawLink(port.link.path, port.slavePath);
    port.watch = -1;
    port.linked = false;
    port.openers = 0;
    port.unclaimedBytes = false;
}

void Simulator::tearDown()
{
    for (Port &port : m_ports)
        release(port);
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
        // A check waits for its port to be open; its close brings the word that it lapsed.
        const std::optional<Clock::time_point> check = port.openers > 0 ? port.checkDue : std::nullopt;
        for (const auto &due : {check, port.changeDue, port.closeDue}) {
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
        // A descriptor of -1 (no more input, an unplugged port) is passed over by poll.
        std::vector<pollfd> fds;
        fds.push_back({m_signals, POLLIN, 0});
        fds.push_back({m_watcher, POLLIN, 0});
        fds.push_back({m_input, POLLIN, 0});
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
            if (fds[i + 3].revents & POLLIN)
                readPort(m_ports[i]);
        }
        // Every time, so that a settings change just read is known to come before any open still unread.
        if (!m_quitReached)
            readWatches();
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR) && !m_quitReached)
            readInput();
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
    while (port.master >= 0) {
        const ssize_t got = ::read(port.master, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            break;
        }
        // In packet mode a read holds either a status byte or bytes behind a zero.
        if (buffer[0] != TIOCPKT_DATA) {
            if (buffer[0] & TIOCPKT_IOCTL)
                settingsChanged(port);
            continue;
        }
        if (got == 1)
            continue;
        if (port.closeDue)
            port.closeDue = Clock::now() + kCloseQuiet;
        if (port.checkDue) {
            checkIfUntouched(port);
        } else if (port.openers == 0 && !port.closeDue) {
            port.unclaimedBytes = true;
        } else if (port.reported && port.openers > 0 && !port.changeDue && currentSettings(port) != *port.reported) {
            // A closing program puts back the settings it found just before it
            // closes; only a change that outlasts that is the sender's.
            port.changeDue = Clock::now() + kSettleTime;
        }
        records.clear();
        port.parser.feed(std::string_view(buffer + 1, static_cast<std::size_t>(got - 1)), records);
        for (const Record &record : records) {
            report(port, record);
            if (m_quitReached)
                return;
        }
    }
}

void Simulator::settingsChanged(Port &port)
{
    ++port.changes;
    termios tio{};
    ::tcgetattr(port.slave, &tio);
    port.announcing = (tio.c_lflag & EXTPROC) != 0;
    for (std::optional<Clock::time_point> *check : {&port.checkDue, &port.changeDue}) {
        if (*check)
            *check = std::max(**check, Clock::now() + kSettleTime);
    }
}

// Settings that no program touched since before the open are the ones the bytes went out with.
void Simulator::checkIfUntouched(Port &port)
{
    if (!port.announcing || port.changesAtOpen != port.changes)
        return;
    if (const std::optional<LineSettings> settings = steadySettings(port))
        checkSettings(port, true, *settings);
}

void Simulator::readWatches()
{
    alignas(inotify_event) char buffer[4096];
    std::vector<bool> closes(m_ports.size(), false);
    for (;;) {
        const ssize_t got = ::read(m_watcher, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t offset = 0; offset < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            for (std::size_t i = 0; i < m_ports.size(); ++i) {
                Port &port = m_ports[i];
                if (port.watch != event->wd)
                    continue;
                if (event->mask & IN_OPEN) {
                    if (port.openers == 0)
                        opened(port);
                    ++port.openers;
                } else if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                    closes[i] = true;
                    if (port.openers > 0 && --port.openers == 0)
                        port.closeDue = Clock::now() + kCloseQuiet;
                }
            }
        }
    }
    // The kernel merges an event into the same one still unread before it: a
    // program that opened the port twice and closes both at once (the panel
    // holds a descriptor for its lock beside the port's) may leave one close.
    // Whoever the count still has open after a close must show in /proc; an
    // open that nobody holds was closed. Every event queued up to now has been
    // read, so a program that opens the port after this look is a new session.
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        Port &port = m_ports[i];
        if (closes[i] && port.openers > 0 && !heldByAnother(port)) {
            port.openers = 0;
            port.closeDue = Clock::now() + kCloseQuiet;
        }
    }
    // A change read after this may come from a program whose open is not seen yet.
    for (Port &port : m_ports)
        port.changesAtWatch = port.changes;
}

void Simulator::opened(Port &port)
{
    // Changes read since the opens and closes were last all read may be this program's.
    std::optional<long> changesAtOpen = port.changesAtWatch;
    if (port.closeDue) {
        readPort(port);
        if (m_quitReached)
            return;
        finishClose(port);
        // Bytes still to come may be the last program's, sent with its settings.
        changesAtOpen.reset();
    }
    port.changesAtOpen = changesAtOpen;
    port.reported.reset();
    port.changeDue.reset();
    port.checkDue = Clock::now() + kSettleTime;
    if (port.unclaimedBytes)
        checkIfUntouched(port);
    port.unclaimedBytes = false;
}

void Simulator::readInput()
{
    char buffer[1024];
    // One read per wake-up: the input is not switched to non-blocking, as a terminal is shared.
    const ssize_t got = ::read(m_input, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (got <= 0) {
        endOfInput();
        return;
    }
    m_inputLine.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = m_inputLine.find('\n')) != std::string::npos && !m_quitReached;) {
        const std::string line = m_inputLine.substr(0, end);
        m_inputLine.erase(0, end + 1);
        obey(line);
    }
    if (m_inputLine.size() > 256) {
        obey(m_inputLine);
        m_inputLine.clear();
    }
}

// The end of the commands is not the end of the run. A named FIFO is opened
// again so that a script can write one command at a time; an anonymous pipe
// opened again would report its hang-up for ever.
void Simulator::endOfInput()
{
    if (!m_inputLine.empty())
        obey(m_inputLine);
    m_inputLine.clear();
    const std::string self = "/proc/self/fd/" + std::to_string(m_input);
    char target[16] = {};
    struct stat input
    { };
    int again = -1;
    if (::fstat(m_input, &input) == 0 && S_ISFIFO(input.st_mode) && ::readlink(self.c_str(), target, 5) > 0
        && std::string(target) != "pipe:")
        again = ::open(self.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_input != STDIN_FILENO)
        ::close(m_input);
    m_input = again;
}

void Simulator::obey(const std::string &line)
{
    const ParsedOperatorCommand parsed = parseOperatorCommand(line);
    std::string error = parsed.error;
    Port *target = nullptr;
    if (parsed.command) {
        for (Port &port : m_ports)
            if (port.link.number == parsed.command->port)
                target = &port;
        if (!target)
            error = "COM" + std::to_string(parsed.command->port) + " is not simulated here";
    }
    if (!error.empty()) {
        std::fprintf(stderr, "queltor-devsim: ignored \"%s\": %s\n", escapeBytes(line).c_str(), error.c_str());
        return;
    }
    if (!target)
        return;
    if (parsed.command->action == OperatorCommand::Action::Unplug)
        unplug(*target);
    else
        replug(*target);
}

void Simulator::unplug(Port &port)
{
    if (port.master < 0) {
        say(port, "already unplugged");
        return;
    }
    // What arrived before the pull still counts.
    readPort(port);
    if (m_quitReached)
        return;
    if (port.closeDue)
        finishClose(port);
    else
        endSession(port, nullptr);
    release(port);
    say(port, "unplugged");
}

void Simulator::replug(Port &port)
{
    if (port.master >= 0) {
        say(port, "already plugged in at " + port.link.path + " (" + port.slavePath + ")");
        return;
    }
    const std::string error = plugIn(port);
    if (!error.empty()) {
        say(port, "not replugged: " + error);
        return;
    }
    say(port, "replugged at " + port.link.path + " (" + port.slavePath + ")");
}

void Simulator::runDueWork()
{
    const Clock::time_point now = Clock::now();
    const auto due = [now](const std::optional<Clock::time_point> &at) { return at && *at <= now; };
    for (Port &port : m_ports) {
        if (!(due(port.checkDue) && port.openers > 0) && !due(port.changeDue) && !due(port.closeDue))
            continue;
        // Bytes or a change on their way (the closer's restore, say) come first; a change moves the checks on.
        readPort(port);
        if (m_quitReached)
            return;
        if (due(port.checkDue) && port.openers > 0) {
            if (const std::optional<LineSettings> settings = steadySettings(port))
                checkSettings(port, true, *settings);
        }
        if (due(port.changeDue)) {
            const std::optional<LineSettings> settings = steadySettings(port);
            if (settings || port.openers == 0)
                port.changeDue.reset();
            if (settings && port.openers > 0 && port.reported && *settings != *port.reported)
                checkSettings(port, false, *settings);
        }
        if (due(port.closeDue))
            finishClose(port);
    }
}

// Unfinished bytes count as errors; a check still waiting lapses, with a word when unchecked is given.
void Simulator::endSession(Port &port, const char *unchecked)
{
    port.closeDue.reset();
    if (const std::optional<Record> rest = port.parser.finish(Record::Kind::UnfinishedAtClose))
        report(port, *rest);
    if (port.checkDue && unchecked)
        say(port, unchecked);
    port.checkDue.reset();
    port.reported.reset();
    port.changeDue.reset();
}

void Simulator::finishClose(Port &port)
{
    // Closed before it settled: what the line shows now may be the closer's restore.
    endSession(port, "opened and closed again at once; line settings not checked");
    say(port, "closed");
}

void Simulator::checkSettings(Port &port, bool opening, const LineSettings &settings)
{
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
    // A closed output fails the write rather than ending the simulator before its links go.
    std::signal(SIGPIPE, SIG_IGN);
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
