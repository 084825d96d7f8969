#pragma once

#include "harness.h"
#include "panel.h"

#include <QApplication>

namespace queltor::bench {

// The test kit's panel with the channel-count entry bankIndex chosen, shown on
// the offscreen platform as the tests run it, COM1 open. Its message catcher
// looks in only twice a second, so that its timer hardly counts in a figure; a
// box means the figure is void.
class BenchPanel : public Panel
{
public:
    explicit BenchPanel(int bankIndex = 1)
        : Panel(500)
    {
        config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QString::number(bankIndex));
        config.setValue(QStringLiteral("Settings"), QStringLiteral("ComPort"), QStringLiteral("1"));
        start();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qFatal("the window was never exposed");
        if (!window->port().portOpen())
            qFatal("the panel did not open %s", qPrintable(com1.slavePath()));
        QApplication::processEvents();
    }
    ~BenchPanel()
    {
        for (const QString &text : messages.texts())
            qWarning("queltor_bench: the panel showed a message: %s", qPrintable(text));
    }
};

} // namespace queltor::bench
