#pragma once

#include <QCoreApplication>

class QButtonGroup;
class QFrame;
class QWidget;

namespace Ui {
class Body;
}

// The main window's form as the designer file can not give it: fields sized for
// what they show, the pickers and save rows set up for their use here, the
// progress read-outs placed, and a window and control column that fit the screen.
class FormFit
{
    Q_DECLARE_TR_FUNCTIONS(FormFit)
public:
    // Returns the exclusive group of the sub folder choices, made child of the window.
    static QButtonGroup *setUp(Ui::Body *ui, QFrame *window);
    // The control column is as wide as its widest row and scrolls only vertically,
    // as long as the screen has room for it beside the images; on a narrower screen
    // it gives up the difference and scrolls sideways too, rather than pushing the
    // window past the screen's edge. A new list of data sets may widen a row.
    static void fitControlColumn(Ui::Body *ui, QFrame *window);
    static void fitToScreen(QWidget *window);
};
