#pragma once

class QString;

namespace queltor {

// Teaches Qt's accessibility how to present the panel's own controls
// (controls.h) to screen readers. Idempotent; call before the first one is shown.
void installAccessibility();

// A caption as a name to be read: without its mnemonic marks, "(&T)" as a
// whole, and without a trailing colon ("S&tart CH:" reads "Start CH").
QString spokenCaption(const QString &caption);

} // namespace queltor
