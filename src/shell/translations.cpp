#include "shell/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace queltor {

QList<QTranslator *> loadTranslations(QCoreApplication &app, const QLocale &locale)
{
    QList<QTranslator *> installed;
    // The panel's own are built in (qt_add_translations); Qt's, for its dialogs' buttons, are the system's.
    const QList<std::pair<QString, QString>> catalogues{
        {QStringLiteral("queltor"), QStringLiteral(":/i18n")},
        {QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)},
    };
    for (const auto &[name, folder] : catalogues) {
        auto *translator = new QTranslator(&app);
        if (translator->load(locale, name, QStringLiteral("_"), folder)
            && QCoreApplication::installTranslator(translator)) {
            installed << translator;
        } else {
            delete translator;
        }
    }
    return installed;
}

} // namespace queltor
