#include "shell/main_window.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QUELTOR"));
    QApplication::setOrganizationName(QStringLiteral("QUELTOR"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));

    queltor::frmMain window;
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
