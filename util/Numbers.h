#pragma once

#include <QString>

// Numbers read from text and conversions to int. QString::toDouble accepts
// "nan" and "inf"; a non-finite value would reach int conversions (undefined
// behaviour) and change detection that never settles, so it reads as 0 like any
// other text that is not a number.
namespace Numbers {

// The text as a finite double; 0 when it is not a number or not finite.
double toFiniteDouble(const QString &text, bool *ok = nullptr);
// The text as a decimal int; 0 when it is not one or is out of range.
int toInt(const QString &text, bool *ok = nullptr);
// Saturating conversion: NaN gives 0, values beyond the int range the nearest limit,
// anything else is truncated towards zero.
int saturateToInt(double value);
// The same after rounding down (floor) or to the nearest integer.
int floorToInt(double value);
int roundToInt(double value);
// Text of a number as fields show it: format 'g', 6 significant digits.
QString text(double value);

} // namespace Numbers
