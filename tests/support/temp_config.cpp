#include "temp_config.h"

#include <QSettings>

TempConfig::TempConfig()
{
    qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

QString TempConfig::fileName() const { return m_dir.path() + QStringLiteral("/QUELTOR/QUELTOR.conf"); }

void TempConfig::setValue(const QString &group, const QString &key, const QString &text)
{
    QSettings s(fileName(), QSettings::IniFormat);
    s.setValue(group + QLatin1Char('/') + key, text);
    s.sync();
}

QString TempConfig::value(const QString &group, const QString &key) const
{
    QSettings s(fileName(), QSettings::IniFormat);
    return s.value(group + QLatin1Char('/') + key).toString();
}

bool TempConfig::contains(const QString &group, const QString &key) const
{
    QSettings s(fileName(), QSettings::IniFormat);
    return s.contains(group + QLatin1Char('/') + key);
}
