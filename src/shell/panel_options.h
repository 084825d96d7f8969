#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace queltor {

// What the panel is asked on its command line.
struct PanelOptions
{
    bool help = false;
    bool version = false;
    QString settingsFile; // --config: this file instead of the user's own
    QByteArray device;    // --device: the checked port's device for this run, never stored
    QString error;        // why the arguments were not understood; empty when they were
};

// The arguments as main() gets them, the program's name first. Qt's own
// options (-platform, -style, -display, ...) are let through for
// QApplication, which takes them out of argv itself.
PanelOptions parsePanelOptions(const QStringList &arguments);

QString panelHelpText();

} // namespace queltor
