#include "link/exit_signals.h"
#include "link/settings_store.h"
#include "remote/control_server.h"
#include "remote/panel_socket.h"
#include "shell/main_window.h"
#include "shell/panel_requests.h"
#include "shell/translations.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char *kHelp = R"(Usage: queltor [--help | --version] [Qt options]

Control panel for a channel-switching device on a serial line. Each channel
button sends the device one command on COM1 or COM2 at 9600 baud, 8N1; Auto
scans a range of channels, one per term.

  -h, --help   show this text and exit
  --version    show the version and exit

Qt's own options work as well, such as -platform NAME, -style NAME and
-display DISPLAY.

Settings live in $XDG_CONFIG_HOME/QUELTOR/QUELTOR.conf (by default
~/.config/QUELTOR/QUELTOR.conf). Port n is /dev/ttyS(n-1) unless the group
[Ports] maps it elsewhere, as in COM1=/dev/ttyUSB0. A serial device needs
membership of its group (dialout on Debian). The status bar shows the
port, its device and whether it is connected; a device that is unplugged
is opened again by itself when it is back. SIGTERM, SIGINT and SIGHUP end
the panel as File > Exit does.

One panel runs per settings file: a second start brings the running one
forward and exits. Scripts drive it with queltor-ctl(1). See queltor(1).
)";

// --help and --version answer before Qt starts, so they need no display.
// Returns the exit status, or -1 to go on and open the window.
int answerWithoutWindow(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("queltor " QUELTOR_VERSION "\n", stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    queltor::ignoreBrokenPipes();
    if (const int status = answerWithoutWindow(argc, argv); status >= 0)
        return status;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QUELTOR"));
    QApplication::setOrganizationName(QStringLiteral("QUELTOR"));
    QApplication::setApplicationVersion(QStringLiteral(QUELTOR_VERSION));
    // Names the desktop entry, so the desktop ties the window to its launcher and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.queltor.queltor"));
    queltor::loadTranslations(app);

    // One panel per settings file: the running one comes forward instead of a second window.
    queltor::ControlServer control;
    QString why;
    const QString socket = queltor::panelSocketPath(queltor::SettingsStore().fileName());
    switch (control.start(socket, &why)) {
    case queltor::ControlServer::Outcome::Raised:
        return 0;
    case queltor::ControlServer::Outcome::Unanswered: {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("QUELTOR"),
                        QCoreApplication::translate("main",
                                                    "A QUELTOR panel for this settings file is running "
                                                    "but does not answer. Close it before starting another."),
                        QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return 1;
    }
    case queltor::ControlServer::Outcome::Unavailable:
        // The panel works on; only scripts and the one-panel rule go without.
        std::fprintf(stderr, "%s\n",
                     qUtf8Printable(QCoreApplication::translate("main", "queltor: no socket for scripts at %1: %2")
                                        .arg(socket, why)));
        break;
    case queltor::ControlServer::Outcome::Serving:
        break;
    }

    // Logout, shutdown, kill and Ctrl+C end the panel as File > Exit does:
    // the port closed, its lock file gone and its line settings put back.
    queltor::ExitSignals exitSignals;
    queltor::frmMain window;
    QObject::connect(&exitSignals, &queltor::ExitSignals::received, &window, &QWidget::close);
    queltor::PanelRequests requests(window);
    control.setHandler([&requests](const queltor::remote::Request &request) { return requests.answer(request); });
    // What start-up could not use is told in boxes over the window, once it is shown.
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
