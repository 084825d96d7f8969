#pragma once

#include <QString>

namespace queltor {

// How the panel names port n everywhere it shows one: "COM1", or with the
// device it leads to, as shown, "COM1 (/dev/ttyUSB0)".
QString portLabel(int port, const QString &device = {});

} // namespace queltor
