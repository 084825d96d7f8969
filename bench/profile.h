#pragma once

#include <QHash>
#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace queltor::bench {

// The instructions a callgrind run counted, by function, each inclusive of
// everything it called (read through callgrind_annotate).
class Profile
{
public:
    static Profile read(const QString &callgrindFile);
    static Profile failure(const QString &why);

    QString error() const { return m_error; }
    double total() const { return m_total; }

    // The summed counts of the functions named. A name stands for all its
    // overloads ("QWidget::show" for "QWidget::show()"), never for the inner
    // calls of a recursion, which the outer one already counts.
    double count(const QStringList &functions) const;

private:
    QHash<QString, double> m_inclusive;
    double m_total = 0;
    QString m_error;
};

// One line of a breakdown: what a step costs, told by the functions that do it.
// The floor's own functions stand in where its way of doing the step differs;
// a step that holds different work in the floor shows no ratio.
struct Step
{
    QString label;
    QStringList functions;
    QStringList floorFunctions = {};
    bool comparable = true;
};

// Table rows for the steps, counts divided by per (1 for one run, the number of
// selections for one selection); the floor's cell stays empty where it never
// takes the step. Each step's counts also go to json.
QJsonArray stepRows(const std::vector<Step> &steps, const Profile &panel, const Profile &floor, double per,
                    QJsonArray *json);

QString instructions(double count); // "1.23 M instr", "45.6 k instr"

} // namespace queltor::bench
