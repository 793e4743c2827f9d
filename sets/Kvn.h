#pragma once

#include <QString>

// The KVN naming of CT-XAFS data files: "sample-energytext-rest", the fields counted
// from the end, the energy text a number with "_" for its decimal point followed by a
// unit ("7112_0eV", "7_112keV"). A name without hyphens stands for all three fields.

// The name up to its last hyphen; the whole name when it has none.
QString stemOf(const QString &fileName);
// The stem up to the stem's last hyphen; the whole stem when it has none.
QString sampleOf(const QString &fileName);
// The stem after the stem's last hyphen; the whole stem when it has none.
QString energyTextOf(const QString &fileName);
// The number at the front of an energy text (up to its last digit, "_" read as the
// decimal point); 0 when that is not a number.
double energyOf(const QString &energyText);
// What follows the last digit of an energy text; the whole text when it has no digit.
QString unitOf(const QString &energyText);
// eV per unit of the energy text: 1000 for keV (any case), 1 otherwise.
double unitFactorOf(const QString &energyText);
