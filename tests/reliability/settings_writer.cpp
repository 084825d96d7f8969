// A second panel saving its settings: stores each VALUE in turn under KEY in
// group Settings through the panel's own store, PAUSE_MS apart as an
// operator's clicks would be, then prints the longest save in milliseconds.
// Exits 1 on the first save that fails, with its message on standard error.
// Usage: settings_writer KEY PAUSE_MS VALUE...
#include "link/failure.h"
#include "link/settings_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool pauseOk = false;
    const int pauseMs = args.size() >= 4 ? args.at(2).toInt(&pauseOk) : 0;
    if (!pauseOk || pauseMs < 0) {
        std::fprintf(stderr, "usage: settings_writer KEY PAUSE_MS VALUE...\n");
        return 2;
    }

    try {
        queltor::SettingsStore store;
        qint64 longest = 0;
        QElapsedTimer clock;
        for (const QString &value : args.mid(3)) {
            clock.start();
            store.write(args.at(1), value);
            longest = std::max(longest, clock.elapsed());
            QThread::msleep(static_cast<unsigned long>(pauseMs));
        }
        std::printf("%lld\n", static_cast<long long>(longest));
    } catch (const queltor::Failed &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
