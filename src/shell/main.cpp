#include "link/exit_signals.h"
#include "link/settings_store.h"
#include "link/stored_choices.h"
#include "remote/control_server.h"
#include "remote/panel_socket.h"
#include "shell/main_window.h"
#include "shell/panel_options.h"
#include "shell/panel_requests.h"
#include "shell/translations.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace {

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// --help, --version and wrong arguments are answered before Qt starts, so they need no display.
// Returns the exit status, or -1 to go on and open the window.
int answerWithoutWindow(const queltor::PanelOptions &options)
{
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "queltor: %s\nTry queltor --help.\n", qUtf8Printable(options.error));
        return 2;
    }
    if (!options.help && !options.version)
        return -1;
    const QByteArray text = options.help ? queltor::panelHelpText().toUtf8()
                                         : QByteArray("queltor " QUELTOR_VERSION "\n");
    std::fputs(text.constData(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    queltor::ignoreBrokenPipes();
    const queltor::PanelOptions options = queltor::parsePanelOptions(argumentsOf(argc, argv));
    if (const int status = answerWithoutWindow(options); status >= 0)
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
    queltor::SettingsStore store = options.settingsFile.isEmpty() ? queltor::SettingsStore()
                                                                  : queltor::SettingsStore(options.settingsFile);
    // For the port start-up checks: the one stored, or COM1.
    if (!options.device.isEmpty())
        store.setRunDevice(queltor::readStoredChoices(store).port, options.device);
    const QString socket = queltor::panelSocketPath(store.fileName());
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
    queltor::frmMain window(store);
    QObject::connect(&exitSignals, &queltor::ExitSignals::received, &window, &QWidget::close);
    queltor::PanelRequests requests(window);
    control.setHandler([&requests](const queltor::remote::Request &request) { return requests.answer(request); });
    QObject::connect(&requests, &queltor::PanelRequests::statusChanged, &control,
                     &queltor::ControlServer::statusChanged);
    // What start-up could not use is told in boxes over the window, once it is shown.
    window.Form_Load();
    window.show();
    QMetaObject::invokeMethod(&window, &queltor::frmMain::offerDevice, Qt::QueuedConnection);
    return QApplication::exec();
}
