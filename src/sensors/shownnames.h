#pragma once

#include <QString>

// How the window names what the records carry: a channel's type and unit as
// a person reads them, in the window's language. The records, the files and
// every peer keep the drivers' own texts ("C", "DS18B20 Temperature sensor").
namespace ShownNames {

// The type in the window's language: the known types translated (the Pt100
// emulator's with the blank between chip and "Emulator"), any other text as
// it is, without surrounding blanks.
QString type(const QString &recordType);

// The unit as the drivers declare it shown ("°C" for "C", "%RH" for every
// humidity); a unit no driver declares as it is.
QString unit(const QString &recordUnit);

} // namespace ShownNames
