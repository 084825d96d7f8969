#pragma once

#include "harness.h"

#include "shell/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QtTest>

#include <memory>

namespace queltor::bench {

// The real window on COM1, which is a pseudo-terminal, with its own settings
// home, shown on the offscreen platform as the tests run it.
class BenchPanel
{
public:
    explicit BenchPanel(int bankIndex = 1)
    {
        config.set(QStringLiteral("Settings/ChNum"), QString::number(bankIndex));
        config.set(QStringLiteral("Settings/ComPort"), QStringLiteral("1"));
        config.set(QStringLiteral("Ports/COM1"), pty.slavePath());
        config.makeCurrent();
        window = std::make_unique<frmMain>();
        window->Form_Load();
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qFatal("the window was never exposed");
        if (!window->port().portOpen())
            qFatal("the panel did not open %s", qPrintable(pty.slavePath()));
        QApplication::processEvents();
    }

    QAbstractButton *button(const QString &name) const
    {
        return qobject_cast<QAbstractButton *>(findNamed(window.get(), name));
    }
    QAbstractButton *channelButton(int i) const { return button(QStringLiteral("cmdCH(%1)").arg(i)); }

    ConfigHome config;
    Pty pty;
    ModalGuard guard;
    std::unique_ptr<frmMain> window;
};

} // namespace queltor::bench
