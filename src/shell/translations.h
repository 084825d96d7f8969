#pragma once

#include <QList>
#include <QLocale>

class QCoreApplication;
class QTranslator;

namespace queltor {

// Installs the panel's translation for the locale's languages, and Qt's own
// where the system has it; English, the source language, needs none. Returns
// the translators installed (children of app).
QList<QTranslator *> loadTranslations(QCoreApplication &app, const QLocale &locale = QLocale::system());

} // namespace queltor
