// A second panel saving its settings: stores one channel-count text again and
// again through the panel's own store, PAUSE_MS apart as an operator's clicks
// would be, then records under Saved<NAME> how many saves it made and prints
// the longest save in milliseconds. Exits 1, saying why, on the first save
// that fails.
// Usage: settings_writer NAME VALUE COUNT PAUSE_MS
#include "link/link_error.h"
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
    bool countOk = false;
    bool pauseOk = false;
    const int count = args.size() == 5 ? args.at(3).toInt(&countOk) : 0;
    const int pauseMs = args.size() == 5 ? args.at(4).toInt(&pauseOk) : 0;
    if (!countOk || count < 1 || !pauseOk || pauseMs < 0) {
        std::fprintf(stderr, "usage: settings_writer NAME VALUE COUNT PAUSE_MS\n");
        return 2;
    }

    try {
        queltor::SettingsStore store;
        qint64 longest = 0;
        QElapsedTimer clock;
        for (int i = 0; i < count; ++i) {
            clock.start();
            store.write(queltor::SettingsStore::kChNum, args.at(2));
            longest = std::max(longest, clock.elapsed());
            QThread::msleep(static_cast<unsigned long>(pauseMs));
        }
        store.write(QStringLiteral("Saved") + args.at(1), QString::number(count));
        std::printf("%lld\n", static_cast<long long>(longest));
    } catch (const queltor::LinkError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
