#include "profile.h"

#include "figures.h"

#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

namespace queltor::bench {

namespace {

bool isIdentifierChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char(':'); }

// "QWidget::show" names "QWidget::show()" and "QWidget::show(bool)", not "QWidget::showEvent(...)".
bool names(const QString &key, const QString &function)
{
    return function.startsWith(key) && (function.size() == key.size() || !isIdentifierChar(function[key.size()]));
}

} // namespace

Profile Profile::read(const QString &callgrindFile)
{
    Profile profile;
    QProcess annotate;
    annotate.start(QStringLiteral("callgrind_annotate"),
                   {QStringLiteral("--inclusive=yes"), QStringLiteral("--threshold=100"), callgrindFile});
    if (!annotate.waitForFinished(120000) || annotate.exitStatus() != QProcess::NormalExit
        || annotate.exitCode() != 0) {
        profile.m_error = QStringLiteral("callgrind_annotate failed: ")
            + QString::fromLocal8Bit(annotate.readAllStandardError().right(300));
        return profile;
    }
    // "  1,234 (12.3%)  file:function [object]", or without the share on older versions.
    static const QRegularExpression line(
        QStringLiteral("^\\s*([\\d,]+)\\s+(?:\\([^)]*\\)\\s+)?(.*?)(?: \\[[^\\]]*\\])?$"));
    const QStringList lines = QString::fromUtf8(annotate.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &text : lines) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch())
            continue;
        const double count = match.captured(1).remove(QLatin1Char(',')).toDouble();
        const QString where = match.captured(2);
        if (where.startsWith(QStringLiteral("PROGRAM TOTALS"))) {
            profile.m_total = count;
            continue;
        }
        // The source file comes first; C++ names hold "::" but file names no ':'.
        const QString function = where.mid(where.indexOf(QLatin1Char(':')) + 1);
        if (!profile.m_inclusive.contains(function))
            profile.m_inclusive.insert(function, count);
    }
    if (profile.m_total <= 0)
        profile.m_error = QStringLiteral("no totals in the callgrind output");
    return profile;
}

Profile Profile::failure(const QString &why)
{
    Profile profile;
    profile.m_error = why;
    return profile;
}

double Profile::count(const QStringList &functions) const
{
    double sum = 0;
    for (auto it = m_inclusive.cbegin(); it != m_inclusive.cend(); ++it) {
        if (it.key().contains(QLatin1Char('\''))) // foo'2: a call within foo's own recursion
            continue;
        for (const QString &key : functions) {
            if (names(key, it.key())) {
                sum += it.value();
                break;
            }
        }
    }
    return sum;
}

QJsonArray stepRows(const std::vector<Step> &steps, const Profile &panel, const Profile &floor, double per,
                    QJsonArray *json)
{
    QJsonArray rows;
    for (const Step &step : steps) {
        const double mine = panel.count(step.functions) / per;
        const double theirs = floor.count(step.floorFunctions.isEmpty() ? step.functions : step.floorFunctions) / per;
        const bool floorTakesIt = theirs > 0;
        const bool comparable = floorTakesIt && mine > 0 && step.comparable;
        rows << row(step.label, instructions(mine), floorTakesIt ? instructions(theirs) : QString(),
                    comparable ? ratioText(mine / theirs) : QString(), QString(), QString());
        *json << QJsonObject{{QStringLiteral("step"), step.label.trimmed()},
                             {QStringLiteral("functions"), QJsonArray::fromStringList(step.functions)},
                             {QStringLiteral("panel_instructions"), mine},
                             {QStringLiteral("floor_instructions"), theirs}};
    }
    return rows;
}

QString instructions(double count)
{
    if (count >= 1e6)
        return QStringLiteral("%1 M instr").arg(count / 1e6, 0, 'f', 2);
    if (count >= 1e3)
        return QStringLiteral("%1 k instr").arg(count / 1e3, 0, 'f', 1);
    return QStringLiteral("%1 instr").arg(count, 0, 'f', 0);
}

} // namespace queltor::bench
