#pragma once

#include <QString>

class QLineEdit;

// Read-outs and numeric fields are sized for the widest text they can hold, in
// the font they are drawn with (a Japanese font draws digits wider than a Latin
// one), so that a value is never shown cut: a field that scrolls "-0.542975" to
// "0.542975" shows another number. A fitted field also shows the start of a text
// that is longer after all, and carries the whole text as its tooltip.
namespace FieldFit {

// The widest number format 'g' with 6 significant digits writes.
QString numberSample();
// The widest int in decimal.
QString integerSample();
// Times as the main window ("yy/MM/dd hh:mm:ss.zzz") and the result panels show them.
QString dateTimeSample();
QString timeSample();

// The width the field needs to show `widest` without scrolling.
int widthFor(const QLineEdit *field, const QString &widest);
// Makes the field at least that wide (and lets it grow no further than it may
// already), then follows its text: start shown, tooltip with the whole text.
void fit(QLineEdit *field, const QString &widest);
// Only the following of the text, for fields whose width comes from the layout.
void showStart(QLineEdit *field);
} // namespace FieldFit
