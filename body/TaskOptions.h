#pragma once

#include "config/RunOptions.h"

#include <QObject>
#include <QString>

class HeadlessSession;
class ImgDatas;
class SetRunner;

namespace Ui {
class Body;
}

// The command-line options that make a run one task of a larger one: -set K
// computes one set of a sequential run, -threads N uses the CPUs a task was
// given, -sets lists the sets a script selects without computing anything.
class TaskOptions : public QObject
{
    Q_OBJECT
public:
    TaskOptions(Ui::Body *form, const ImgDatas *stack, HeadlessSession *session, int engineCount,
                QObject *parent = nullptr);

    // The set runner lists the sets; it is made after the options.
    void setSetRunner(SetRunner *runner) { setRunner = runner; }
    // Reads the options and applies them to the form: the set list kept and the
    // number of engines.
    void apply();
    const RunOptions &options() const { return runOptions; }
    // -set named a set the data directory does not have: nothing more is run.
    bool onlySetFailed() const { return setMissing; }
    // The engines a script line asks for, unless -threads fixed them.
    int enginesAsked(int scriptValue) const;
    // The -sets listing, once.
    void printSetList();
    // After each load of -set's set: a set none of whose images could be read fails
    // the task.
    void checkOnlySetLoaded();

private:
    void onlySetMissing(int index, int count, const QString &dir);

    Ui::Body *ui;
    const ImgDatas *stack;
    HeadlessSession *session;
    SetRunner *setRunner = nullptr;
    int engineCount;
    RunOptions runOptions;
    bool setListPrinted = false;
    bool setMissing = false;
};
