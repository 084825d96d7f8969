#include "shell/main_window.h"
#include "shell/translations.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QUELTOR"));
    QApplication::setOrganizationName(QStringLiteral("QUELTOR"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.queltor.queltor"));
    queltor::loadTranslations(app);

    queltor::frmMain window;
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
