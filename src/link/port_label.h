#pragma once

#include <QString>

namespace queltor {

// Set > Serial Port offers COM1 up to this one; settings may map any port up to 255.
constexpr int kMenuPorts = 2;

// How the panel names port n everywhere it shows one: "COM1", or with the
// device it leads to, as shown, "COM1 (/dev/ttyUSB0)".
QString portLabel(int port, const QString &device = {});

// The ports the menu offers, as an English sentence names them: "COM1 or COM2".
QString menuPortsText();

} // namespace queltor
