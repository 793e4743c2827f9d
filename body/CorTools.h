#pragma once

#include <QObject>
#include <functional>
#include <optional>

class DataSaver;
class ImgDatas;
class ResultPanels;
class SetRunner;

namespace Ui {
class Body;
}

// The centre of rotation found for the user ("Find", ct_cor_auto, and after each
// set's load when seq_exec_cor_auto asks) and the CoR scan (ct_cor_scan), which
// reconstructs the current slice at a range of centres and saves each.
class CorTools : public QObject
{
    Q_OBJECT
public:
    struct Parts
    {
        Ui::Body *form = nullptr;
        const ImgDatas *stack = nullptr;
        DataSaver *saver = nullptr;
        ResultPanels *panels = nullptr;
        SetRunner *sets = nullptr;
        std::function<void()> passSubFolders;
        // The window's fixed colour scale.
        std::function<double()> colorMin;
        std::function<double()> colorMax;
    };

    explicit CorTools(Parts parts, QObject *parent = nullptr);

    // Estimates the CoR of the stack at the current slice within [from, to] (NaN:
    // no bound) and sets it; false, with the reason logged, when it can not.
    bool findCor(double from, double to);
    bool scanCor(double from, double to, double step);
    // After a set's load: 0 nothing, 1 an estimate per set, 2 one estimate on the
    // first set of a run kept for every energy.
    void setSeqCorAuto(int mode);
    void estimateCorOfSet();
    // The estimate of the set loaded last (none when not made), and the
    // confidence of the estimate that gave `cor` (none when it came from none).
    std::optional<double> corAutoOfSet() const { return setCor; }
    std::optional<double> confidenceOf(double cor) const;

private:
    Parts p;
    int seqCorAuto = 0;
    std::optional<double> setCor;
    // The last estimate set as the CoR, with its confidence, for the run record.
    struct Estimate
    {
        double cor;
        double confidence;
    };
    std::optional<Estimate> lastEstimate;
};
