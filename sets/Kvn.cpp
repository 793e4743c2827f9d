#include "Kvn.h"

#include "util/Numbers.h"

namespace {

int lastDigitIndex(const QString &text)
{
    for (int i = text.size() - 1; i >= 0; --i) {
        // Only ASCII digits: a number text can only be made of those.
        const QChar c = text.at(i);
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            return i;
    }
    return -1;
}

} // namespace

QString stemOf(const QString &fileName)
{
    const int hyphen = fileName.lastIndexOf(QLatin1Char('-'));
    return hyphen < 0 ? fileName : fileName.left(hyphen);
}

QString sampleOf(const QString &fileName)
{
    return stemOf(stemOf(fileName));
}

QString energyTextOf(const QString &fileName)
{
    const QString stem = stemOf(fileName);
    const int hyphen = stem.lastIndexOf(QLatin1Char('-'));
    return hyphen < 0 ? stem : stem.mid(hyphen + 1);
}

double energyOf(const QString &energyText)
{
    const int last = lastDigitIndex(energyText);
    if (last < 0)
        return 0.0;
    QString number = energyText.left(last + 1);
    number.replace(QLatin1Char('_'), QLatin1Char('.'));
    return Numbers::toFiniteDouble(number);
}

QString unitOf(const QString &energyText)
{
    const int last = lastDigitIndex(energyText);
    return last < 0 ? energyText : energyText.mid(last + 1);
}

double unitFactorOf(const QString &energyText)
{
    return unitOf(energyText).toUpper() == QLatin1String("KEV") ? 1000.0 : 1.0;
}
