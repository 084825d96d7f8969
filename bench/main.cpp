// queltor_bench: measures the panel and prints each figure beside its floor,
// measured in the same run, and its goal; writes everything to a JSON file.
#include "figures.h"
#include "harness.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>
#include <sys/utsname.h>
#include <unistd.h>

using namespace queltor::bench;

namespace queltor::bench {

QJsonObject row(const QString &figure, const QString &measured, const QString &floor, const QString &ratio,
                const QString &goal, const QString &met)
{
    return QJsonObject{{QStringLiteral("figure"), figure}, {QStringLiteral("measured"), measured},
                       {QStringLiteral("floor"), floor},   {QStringLiteral("ratio"), ratio},
                       {QStringLiteral("goal"), goal},     {QStringLiteral("met"), met}};
}

QString yesNo(bool met) { return met ? QStringLiteral("yes") : QStringLiteral("NO"); }

QString micros(double us) { return QStringLiteral("%1 µs").arg(us, 0, 'f', us < 100 ? 1 : 0); }

QString ratioText(double r) { return QStringLiteral("%1x").arg(r, 0, 'f', 2); }

} // namespace queltor::bench

namespace {

// The value after the first "prefix...:" or "prefix=" line of a /proc-style file.
QString firstMatch(const QString &file, const QString &prefix)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // /proc files claim to be empty: read to the end rather than trust atEnd().
    const QStringList lines = QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (!line.startsWith(prefix))
            continue;
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const qsizetype at = colon >= 0 && (equals < 0 || colon < equals) ? colon : equals;
        return line.mid(at + 1).trimmed().remove(QLatin1Char('"'));
    }
    return {};
}

QJsonObject machine()
{
    utsname names{};
    ::uname(&names);
    const double memKb = firstMatch(QStringLiteral("/proc/meminfo"), QStringLiteral("MemTotal"))
                             .section(QLatin1Char(' '), 0, 0)
                             .toDouble();
    return QJsonObject{
        {QStringLiteral("cpu"), firstMatch(QStringLiteral("/proc/cpuinfo"), QStringLiteral("model name"))},
        {QStringLiteral("cores_online"), int(::sysconf(_SC_NPROCESSORS_ONLN))},
        {QStringLiteral("memory_gib"), memKb / 1024 / 1024},
        {QStringLiteral("kernel"),
         QStringLiteral("%1 %2 %3")
             .arg(QString::fromLocal8Bit(names.sysname), QString::fromLocal8Bit(names.release),
                  QString::fromLocal8Bit(names.machine))},
        {QStringLiteral("qt"), QString::fromLatin1(qVersion())},
        {QStringLiteral("compiler"), QStringLiteral(__VERSION__)},
        {QStringLiteral("build_type"), QStringLiteral(QUELTOR_BENCH_BUILD_TYPE)},
    };
}

void printTable(QTextStream &out, const QJsonArray &rows)
{
    const QStringList keys{QStringLiteral("figure"), QStringLiteral("measured"), QStringLiteral("floor"),
                           QStringLiteral("ratio"),  QStringLiteral("goal"),     QStringLiteral("met")};
    const QStringList headers{QStringLiteral("Figure"), QStringLiteral("Measured"), QStringLiteral("Floor"),
                              QStringLiteral("Ratio"),  QStringLiteral("Goal"),     QStringLiteral("Met")};
    QList<int> widths;
    for (int c = 0; c < keys.size(); ++c) {
        int w = int(headers[c].size());
        for (const QJsonValue &r : rows)
            w = std::max(w, int(r.toObject()[keys[c]].toString().size()));
        widths << w;
    }
    const auto line = [&](const QStringList &cells) {
        QString text;
        for (int c = 0; c < cells.size(); ++c)
            text += QStringLiteral("| ") + cells[c].leftJustified(widths[c]) + QLatin1Char(' ');
        out << text << "|\n";
    };
    line(headers);
    QStringList rule;
    for (int w : widths)
        rule << QString(w, QLatin1Char('-'));
    line(rule);
    for (const QJsonValue &r : rows) {
        QStringList cells;
        for (const QString &k : keys)
            cells << r.toObject()[k].toString();
        line(cells);
    }
    out.flush();
}

int usage()
{
    std::fputs("usage: queltor_bench [--quick] [--only click,scan,startup,select] [--out FILE]\n"
               "                     [--queltor PATH] [--empty-window PATH]\n",
               stderr);
    return 2;
}

// The offscreen platform says so on every window that changes its size limits.
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QStringLiteral("This plugin does not support")))
        return;
    std::fputs(qPrintable(qFormatLogMessage(type, context, message) + QLatin1Char('\n')), stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietHandler);
    // The panel runs here on the offscreen platform; only the start-up figure
    // needs the X server named by DISPLAY, for the programs it starts.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QUELTOR"));
    QApplication::setOrganizationName(QStringLiteral("QUELTOR"));

    Options options;
    options.queltorBinary = QStringLiteral(QUELTOR_BENCH_PANEL_BINARY);
    options.emptyWindowBinary = QStringLiteral(QUELTOR_BENCH_EMPTY_WINDOW_BINARY);
    options.sameControlsBinary = QStringLiteral(QUELTOR_BENCH_SAME_CONTROLS_BINARY);
    options.selfBinary = QCoreApplication::applicationFilePath();
    QStringList only{QStringLiteral("click"), QStringLiteral("scan"), QStringLiteral("startup"),
                     QStringLiteral("select")};
    QString outPath = QStringLiteral("bench.json");

    const QStringList args = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QStringLiteral("--callgrind-child") && i + 2 < args.size())
            return callgrindChild(args[i + 1] == QStringLiteral("floor"), args[i + 2].toInt());
        if (a == QStringLiteral("--quick")) {
            options.clicks = 1000;
            options.scanShortTicks = 100;
            options.scanLongTicks = 20;
            options.startupRuns = 5;
            options.selections = 500;
            options.bankChanges = 20;
            options.callgrindSelections = 200;
        } else if (a == QStringLiteral("--only") && hasValue) {
            only = args[++i].split(QLatin1Char(','));
        } else if (a == QStringLiteral("--out") && hasValue) {
            outPath = args[++i];
        } else if (a == QStringLiteral("--queltor") && hasValue) {
            options.queltorBinary = args[++i];
        } else if (a == QStringLiteral("--empty-window") && hasValue) {
            options.emptyWindowBinary = args[++i];
        } else {
            return usage();
        }
    }

    QTextStream out(stdout);
    QJsonObject machineInfo = machine();
    machineInfo[QStringLiteral("os")] = firstMatch(QStringLiteral("/etc/os-release"), QStringLiteral("PRETTY_NAME"));
    out << "QUELTOR benchmarks, " << QDateTime::currentDateTime().toString(Qt::ISODate) << "\n"
        << "Machine: " << machineInfo[QStringLiteral("cpu")].toString() << ", "
        << machineInfo[QStringLiteral("cores_online")].toInt() << " cores, "
        << QString::number(machineInfo[QStringLiteral("memory_gib")].toDouble(), 'f', 1) << " GiB, "
        << machineInfo[QStringLiteral("kernel")].toString() << ", " << machineInfo[QStringLiteral("os")].toString()
        << ", Qt " << machineInfo[QStringLiteral("qt")].toString() << ", "
        << machineInfo[QStringLiteral("build_type")].toString() << "\n";
    out.flush();

    struct Figure
    {
        QString key;
        QJsonObject (*run)(const Options &);
    };
    const Figure figures[] = {{QStringLiteral("click"), clickToWire},
                              {QStringLiteral("scan"), scanTiming},
                              {QStringLiteral("startup"), startUp},
                              {QStringLiteral("select"), selectionCost}};

    QJsonObject results;
    QJsonArray table;
    bool allMet = true;
    for (const Figure &f : figures) {
        if (!only.contains(f.key))
            continue;
        const QString before = loadAverage();
        out << "measuring " << f.key << " (load average " << before << ") ...\n";
        out.flush();
        const std::int64_t t0 = wallNs();
        QJsonObject result = f.run(options);
        result[QStringLiteral("loadavg_before")] = before;
        result[QStringLiteral("loadavg_after")] = loadAverage();
        result[QStringLiteral("seconds")] = double(wallNs() - t0) / 1e9;
        allMet = allMet && result[QStringLiteral("goal_met")].toBool();
        for (const QJsonValue &r : result[QStringLiteral("rows")].toArray())
            table << r;
        result.remove(QStringLiteral("rows"));
        results[f.key] = result;
    }

    out << "\n";
    printTable(out, table);
    out << "\nFloors, measured in the same run: 1 write(2) of the same 5 bytes on a raw pty, read on its "
           "master (and a bare Qt button that write(2)s); 2 clock_nanosleep to the same absolute schedule, then "
           "write(2); 3 a bare Qt program showing the same menus, buttons, editable combo boxes, display font, status "
           "bar and icon (and one showing a window with one label); 4 a bare window with the same 100 buttons and "
           "display.\n"
        << "Indented callgrind rows: instructions of the functions doing each step, inclusive of what they call; "
           "a row is part of the less indented row above it.\n"
        << "Load average at the end: " << loadAverage() << " (this machine is shared: compare ratios).\n"
        << (allMet ? "Every goal met.\n" : "Not every goal met: see the rows marked NO.\n");

    const QJsonObject document{{QStringLiteral("generated"), QDateTime::currentDateTime().toString(Qt::ISODate)},
                               {QStringLiteral("machine"), machineInfo},
                               {QStringLiteral("table"), table},
                               {QStringLiteral("figures"), results},
                               {QStringLiteral("all_goals_met"), allMet}};
    QSaveFile file(outPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(document).toJson()) < 0 || !file.commit()) {
        out << "could not write " << outPath << "\n";
        return 1;
    }
    out << "Wrote " << outPath << "\n";
    return 0;
}
