#include "link/port_label.h"

namespace queltor {

QString portLabel(int port, const QString &device)
{
    const QString name = QStringLiteral("COM%1").arg(port);
    return device.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, device);
}

} // namespace queltor
