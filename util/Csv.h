#pragma once

#include <QString>

namespace Csv {

// One field of a CSV row as RFC 4180 writes it: a text holding a comma, a quote or
// a line end is enclosed in quotes with its quotes doubled, so that a tag such as
// `7112,5eV` stays one column for every reader; any other text is left as it is.
QString field(const QString &text);

} // namespace Csv
