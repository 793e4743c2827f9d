#pragma once

#include "run/SetSequence.h"

#include <QFileInfoList>
#include <QObject>
#include <QStringList>
#include <functional>
#include <optional>

class RunController;
struct RunRequest;
class XafsBatch;

namespace Ui {
class Body;
}

// The window's side of a sequential run over the sets of a data directory:
// loads each set with the I0 of its energy and the tag of its results, starts
// its reconstruction, and shows the sequencer's stages.
class SetRunner : public QObject
{
    Q_OBJECT
public:
    // What stays with the main window.
    struct Hooks
    {
        std::function<void()> startRun;
        // Replaces the stack by the files of a set.
        std::function<void(const QStringList &files)> loadStack;
        // Replaces the stack, the I0 and the BG by an HDF5 scan; false when refused.
        std::function<bool(const QString &file)> loadScanFile;
        std::function<void()> setLoaded;
        std::function<void()> passSubFolders;
        std::function<void(int index)> firstSet;
        std::function<void(int index)> nextSet;
        std::function<bool()> headless;
        // The sequence ended (a headless run may have waited for it).
        std::function<void()> ended;
    };

    SetRunner(Ui::Body *form, RunController *runs, XafsBatch *sequencer, Hooks hooks,
              QObject *parent = nullptr);

    const SetSequence &sequence() const { return sets; }
    // The centre estimated on the first set of the run, kept for the others
    // (seq_exec_cor_auto 2); cleared when a sequential run starts.
    std::optional<double> keptCor() const { return firstSetCor; }
    void keepCor(std::optional<double> cor) { firstSetCor = cor; }
    // seq_exec_i0_max_gap: a set whose nearest I0 lies farther (eV) is not loaded;
    // 0: no limit.
    void setMaxI0Gap(double eV) { maxI0Gap = eV; }
    // What stays the same for every set of a run over a data directory: the grid
    // (the first run on a set fixes the sinogram's half width, so N and the default
    // region, and the runs on the following sets keep it whatever their centres)
    // and ring removal's column corrections (estimated by the first run on a set,
    // slice by slice). Hand-loaded stacks are left as they are. A new sequence
    // begins when the directory's sets are listed anew and when a sequential run
    // starts.
    void fixGrid(RunRequest *request);

    void reportStage(const QString &msg);
    void seqCalcClicked();
    // The run button's colour while the sequencer runs.
    void sequenceStarted();
    void sequenceFinished();
    void startSetCalc();
    void setFirstImageSet();
    void setNextImageSet();
    void loadDataSet(const QStringList &files);
    void loadDataSetOf(const QFileInfoList &entries);
    void i0FilesSelected(const QStringList &files);
    void noticedStage(const QString &msg, qint64 dEt);
    // Empty when the I0 image of the current set's energy was loaded (or no I0 file
    // set is chosen), otherwise the file that failed.
    QString chooseI0ForSet();
    // The save tag of the current set, and of a set of the directory.
    QString tagForCurrentSet(bool *sharedEnergy) const;
    QString saveTagOf(const QString &energyText, const QString &sample, bool *sharedEnergy) const;
    // The -sets listing, on standard output.
    void printSetList();

private:
    QString currentSetText() const;
    SetSequence::I0Choice i0ChoiceForSet() const;
    void stopSequence(const QString &msg);
    void makeSaveFolders();
    void showSetProgress(const QString &stageMsg);

    Ui::Body *ui;
    RunController *runs;
    XafsBatch *sequencer;
    Hooks hooks;
    SetSequence sets;
    std::optional<double> firstSetCor;
    double maxI0Gap = 0.0;
    // The first file of the set loaded last, and the run's half width (0: none yet).
    QString setFirstFile;
    int gridHalfWidth = 0;
    int sequenceNumber = 1;
    void newSequence();
};
