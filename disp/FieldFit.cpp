#include "FieldFit.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace FieldFit {

namespace {

// QLineEdit keeps this many pixels between its contents rectangle and the text
// on either side.
constexpr int kLineEditMargin = 2;
// Room for the text cursor drawn after the last character.
constexpr int kCursorRoom = 2;

void followText(QLineEdit *field, const QString &text)
{
    field->setToolTip(text);
    // While the user types the cursor stays where it is (a typed text is marked
    // modified); a value written by the program is shown from its start, its sign
    // and leading digits.
    if (!field->isModified())
        field->setCursorPosition(0);
}

} // namespace

QString numberSample()
{
    return QStringLiteral("-0.000000e+00");
}

QString integerSample()
{
    return QStringLiteral("-2147483648");
}

QString dateTimeSample()
{
    return QStringLiteral("88/88/88 88:88:88.888");
}

QString timeSample()
{
    return QStringLiteral("88:88:88.888");
}

int widthFor(const QLineEdit *field, const QString &widest)
{
    const QMargins text = field->textMargins();
    const QMargins contents = field->contentsMargins();
    const int inner = field->fontMetrics().horizontalAdvance(widest) + 2 * kLineEditMargin +
                      kCursorRoom + text.left() + text.right() + contents.left() + contents.right();
    QStyleOptionFrame option;
    option.initFrom(field);
    option.rect = field->contentsRect();
    option.lineWidth = field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth,
                                                                       &option, field)
                                         : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    option.features = QStyleOptionFrame::None;
    const QSize size = field->style()->sizeFromContents(
        QStyle::CT_LineEdit, &option, QSize(inner, field->fontMetrics().height()), field);
    return std::max(size.width(), inner);
}

void fit(QLineEdit *field, const QString &widest)
{
    const int width = widthFor(field, widest);
    field->setMinimumWidth(width);
    field->setMaximumWidth(std::max(field->maximumWidth(), width));
    showStart(field);
}

void showStart(QLineEdit *field)
{
    QObject::connect(field, &QLineEdit::textChanged, field,
                     [field](const QString &text) { followText(field, text); });
    followText(field, field->text());
}

} // namespace FieldFit
