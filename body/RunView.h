#pragma once

#include "run/RunRequest.h"

#include <QObject>
#include <functional>

class CtCalc;
class ImgDatas;
class QWidget;
class RunController;

namespace Ui {
class Body;
}

// The window's side of a CT run: the run button and the choice of CT1 or CT2,
// the request read from the controls once, at the run's start, the run's times,
// progress and button colour on the form, the CT1 panel's part in a run, and the
// I0 and BG pickers' changes that wait for it.
class RunView : public QObject
{
    Q_OBJECT
public:
    // `start` starts a run from the form; `ended` runs when a run has ended and its
    // times are shown (its record is due).
    RunView(Ui::Body *form, QWidget *window, RunController *runs, const ImgDatas *stack,
            CtCalc *ct1, std::function<void()> start, std::function<void()> ended,
            QObject *parent = nullptr);

    // The run button and CT1's own start: stops a running run, else starts one once
    // the changes asked for before the click are done; nothing without images.
    void toggleRun();
    // The engine pool does multi-slice runs: choosing CT1 ends automatic execution,
    // and automatic execution chooses CT2.
    void ctSelectionChanged();
    void autoExecChanged();

    // The settings of a run as the controls hold them now; a headless run shows
    // no results.
    RunRequest request(bool headless) const;

    // The run buttons' colours while idle and while running.
    static const char *idleStyle();
    static const char *runningStyle();

private:
    // Why the I0 or BG image or the stack can not be used; empty when all can.
    QString inputFailure() const;
    void showStarting();
    void showEnded();

    Ui::Body *ui;
    QWidget *window;
    RunController *runs;
    const ImgDatas *stack;
    std::function<void()> start;
    std::function<void()> ended;
};
