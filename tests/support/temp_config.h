#pragma once

#include <QString>
#include <QTemporaryDir>

// A private settings home for one test: QSettings reads and writes under it,
// so the user's real settings are never touched.
class TempConfig
{
public:
    TempConfig();

    QString path() const { return m_dir.path(); }
    QString fileName() const; // <home>/QUELTOR/QUELTOR.conf

    // Direct access to the file, as another program would have it.
    void setValue(const QString &group, const QString &key, const QString &text);
    QString value(const QString &group, const QString &key) const; // "" when absent
    bool contains(const QString &group, const QString &key) const;
    void mapPort(int port, const QString &device)
    {
        setValue(QStringLiteral("Ports"), QStringLiteral("COM%1").arg(port), device);
    }

private:
    QTemporaryDir m_dir;
};
