#pragma once

#include <QString>
#include <optional>

class CorTools;
class DataSaver;
class ImgDatas;
class QWidget;
class ResultPanels;
class RunController;
class XafsBatch;

namespace Ui {
class Body;
}

// The run record of a run that saved: what the run read, how it computed and
// what failed, taken from the form as the run ends and handed to the saver to be
// written beside the results; and the result format box whose choice it records.
class RunRecordSender
{
public:
    struct Parts
    {
        Ui::Body *form = nullptr;
        QWidget *window = nullptr;
        const ImgDatas *stack = nullptr;
        const RunController *runs = nullptr;
        const XafsBatch *sequencer = nullptr;
        const ResultPanels *resultPanels = nullptr;
        const CorTools *corTools = nullptr;
        DataSaver *saver = nullptr;
    };

    explicit RunRecordSender(Parts parts);

    // The data format box ("DataFormat") under the data folder picker, whose format
    // it chooses.
    static void addDataFormatBox(Ui::Body *form, QWidget *window);

    // The beam energy an HDF5 scan gave (0: none) and its file: the record takes it
    // while that file is the one loaded.
    void noteScanEnergy(const QString &fileName, double energyEV);

    // At the end of a run that saved: the run record to the saver.
    void send() const;

private:
    Parts parts;
    QString scanEnergyFile;
    std::optional<double> scanEnergyEV;
};
