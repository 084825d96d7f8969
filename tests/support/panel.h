#pragma once

#include "message_catcher.h"
#include "pseudo_tty.h"
#include "temp_config.h"

#include "shell/main_window.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <memory>

// The panel as an operator meets it: a private settings home, COM1 and COM2
// mapped to pseudo-terminals standing in for the device, the real window, and
// someone to answer its message boxes.
class Panel
{
public:
    explicit Panel(int messagePollMs = 5)
        : messages(messagePollMs)
    {
        config.mapPort(1, com1.slavePath());
        config.mapPort(2, com2.slavePath());
    }

    // As main() starts it: loaded, shown, and the event loop's first turn,
    // which opens the boxes of what start-up could not use.
    queltor::frmMain &start(const queltor::SettingsStore &store = queltor::SettingsStore())
    {
        window = std::make_unique<queltor::frmMain>(store);
        window->Form_Load();
        window->show();
        QCoreApplication::processEvents();
        return *window;
    }

    template <typename T = QWidget>
    T *child(const QString &name) const
    {
        T *found = window->findChild<T *>(name);
        if (!found)
            qFatal("no control named %s", qPrintable(name));
        return found;
    }

    QPushButton *button(int i) const { return child<QPushButton>(QStringLiteral("cmdCH(%1)").arg(i)); }
    QAction *action(const QString &name) const { return child<QAction>(name); }
    QLabel *display() const { return child<QLabel>(QStringLiteral("lblCH")); }

    void click(int channel) const { QTest::mouseClick(button(channel), Qt::LeftButton); }
    void choose(const QString &menuEntry) const { action(menuEntry)->trigger(); }

    // The scan controls, worked the way an operator works them.
    QComboBox *startList() const { return child<QComboBox>(QStringLiteral("cboStart")); }
    QComboBox *endList() const { return child<QComboBox>(QStringLiteral("cboEnd")); }
    QLineEdit *term() const { return child<QLineEdit>(QStringLiteral("txtTerm")); }
    QPushButton *startStop() const { return child<QPushButton>(QStringLiteral("cmdAuto")); }
    QTimer *timer() const { return child<QTimer>(QStringLiteral("tmrScan")); }

    void chooseAuto() const { QTest::mouseClick(child<QRadioButton>(QStringLiteral("optAuto")), Qt::LeftButton); }
    void chooseManual() const { QTest::mouseClick(child<QRadioButton>(QStringLiteral("optMan")), Qt::LeftButton); }
    void pressStartStop() const { QTest::mouseClick(startStop(), Qt::LeftButton); }

    void setUp(int from, int to, const QString &seconds) const
    {
        startList()->setCurrentIndex(from);
        endList()->setCurrentIndex(to);
        term()->setText(seconds);
    }

    QList<int> boldButtons() const
    {
        QList<int> bold;
        for (int i = 0; i < 100; ++i)
            if (button(i)->font().bold())
                bold << i;
        return bold;
    }

    TempConfig config;
    Pty com1;
    Pty com2;
    MessageCatcher messages;
    std::unique_ptr<queltor::frmMain> window;
};
