#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace queltor::bench {

struct Options
{
    int clicks = 10000;
    int scanShortTicks = 500; // at 0.01 s
    int scanLongTicks = 100;  // at 0.1 s
    int startupRuns = 20;
    int selections = 2000;
    int bankChanges = 100;
    int callgrindSelections = 1000;
    QString queltorBinary;
    QString emptyWindowBinary;
    QString sameControlsBinary;
    QString selfBinary;
};

// Each figure returns {"rows": [...table rows...], ...its raw numbers...}.
QJsonObject clickToWire(const Options &options);
QJsonObject scanTiming(const Options &options);
QJsonObject startUp(const Options &options);
QJsonObject selectionCost(const Options &options);

// Runs inside callgrind: `selections` clicks with repaint, collected and nothing else.
int callgrindChild(bool floor, int selections);

// One line of the printed table. met: "yes", "NO" or "" where there is no goal.
QJsonObject row(const QString &figure, const QString &measured, const QString &floor, const QString &ratio,
                const QString &goal, const QString &met);
QString yesNo(bool met);
QString micros(double us);   // "123.4 µs"
QString ratioText(double r); // "1.23×"

} // namespace queltor::bench
