#include "shell/panel_options.h"

#include "link/port_label.h"

#include <QCommandLineParser>
#include <QFile>

namespace queltor {

namespace {

const QCommandLineOption kHelp({QStringLiteral("h"), QStringLiteral("help")},
                               QStringLiteral("Show this text and exit."));
const QCommandLineOption kVersion(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
const QCommandLineOption kConfig(QStringLiteral("config"),
                                 QStringLiteral("Keep the settings in FILE instead of\n"
                                                "$XDG_CONFIG_HOME/QUELTOR/QUELTOR.conf. Panels of different\n"
                                                "files run side by side, each with its own window; give\n"
                                                "queltor-ctl the same --config to reach one."),
                                 QStringLiteral("FILE"));
const QCommandLineOption kDevice(QStringLiteral("device"),
                                 QStringLiteral("Open PATH for the checked port in this run, whatever the\n"
                                                "settings map it to; nothing is stored. A bare name such as\n"
                                                "ttyUSB0 is a device in /dev."),
                                 QStringLiteral("PATH"));

// The options QGuiApplication, QApplication and the X11 platform take out of
// argv, with those that take a value, so that the parser steps over them.
const char *const kQtValueOptions[] = {"platform",
                                       "platformpluginpath",
                                       "platformtheme",
                                       "plugin",
                                       "qwindowgeometry",
                                       "geometry",
                                       "qwindowtitle",
                                       "title",
                                       "qwindowicon",
                                       "icon",
                                       "session",
                                       "display",
                                       "name",
                                       "visual",
                                       "ncols",
                                       "cmap",
                                       "style",
                                       "stylesheet"};
const char *const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

void declare(QCommandLineParser &parser)
{
    // Qt's own are single-dash words (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("\n"
                       "Control panel for a channel-switching device on a serial line. Each channel\n"
                       "button sends the device one command on %1 at 9600 baud, 8N1; Auto\n"
                       "scans a range of channels, one per term.")
            .arg(menuPortsText()));
    parser.addOptions({kHelp, kVersion, kConfig, kDevice});
    for (const char *name : kQtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : kQtFlags) {
        QCommandLineOption option(QString::fromLatin1(name), QString());
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

} // namespace

PanelOptions parsePanelOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    declare(parser);
    PanelOptions options;
    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        return options;
    }
    options.help = parser.isSet(kHelp);
    options.version = parser.isSet(kVersion);
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty())
        options.error = QStringLiteral("unexpected argument \"%1\"").arg(extra.first());
    options.settingsFile = parser.value(kConfig);
    options.device = QFile::encodeName(parser.value(kDevice));
    if (parser.isSet(kConfig) && options.settingsFile.isEmpty())
        options.error = QStringLiteral("--config needs a file name");
    if (parser.isSet(kDevice) && options.device.isEmpty())
        options.error = QStringLiteral("--device needs a path");
    return options;
}

QString panelHelpText()
{
    QCommandLineParser parser;
    declare(parser);
    const QString generated = parser.helpText();
    return QStringLiteral("Usage: queltor [--config FILE] [--device PATH] [Qt options]\n"
                          "       queltor --help | --version")
        + generated.mid(generated.indexOf(QLatin1Char('\n')))
        + QStringLiteral("\n"
                         "Qt's own options work as well, such as -platform NAME, -style NAME and\n"
                         "-display DISPLAY.\n"
                         "\n"
                         "Settings live in $XDG_CONFIG_HOME/QUELTOR/QUELTOR.conf (by default\n"
                         "~/.config/QUELTOR/QUELTOR.conf), or in the --config file. Port n is\n"
                         "/dev/ttyS(n-1) unless the group [Ports] maps it elsewhere, as in\n"
                         "COM1=/dev/ttyUSB0; Set > Serial Port > Choose Device writes that line. While\n"
                         "the settings name no device for the port and an adapter is plugged in, the\n"
                         "panel offers it at start. A serial device needs membership of its group\n"
                         "(dialout on Debian). The status bar shows the port, its device and whether it\n"
                         "is connected; a device that is unplugged is opened again by itself when it is\n"
                         "back. SIGTERM, SIGINT and SIGHUP end the panel as File > Exit does.\n"
                         "\n"
                         "One panel runs per settings file: a second start brings the running one\n"
                         "forward and exits. Scripts drive it with queltor-ctl(1). See queltor(1).\n");
}

} // namespace queltor
