#include "link/port_label.h"

#include <QStringList>

namespace queltor {

QString portLabel(int port, const QString &device)
{
    const QString name = QStringLiteral("COM%1").arg(port);
    return device.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, device);
}

QString menuPortsText()
{
    QStringList names;
    for (int n = 1; n <= kMenuPorts; ++n)
        names << portLabel(n);
    const QString last = names.takeLast();
    return names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

} // namespace queltor
