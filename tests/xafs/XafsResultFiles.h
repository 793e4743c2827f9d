#pragma once

// Results of a small phantom whose spectra are known in closed form, saved as a
// sequential run saves them: each slice's float TIFF and each energy's run record go
// through the program's own writer, which lays them out under the chosen folder.

#include "ct/AttenuationScale.h"
#include "ct/DataSaver.h"
#include "ct/FloatTiff.h"
#include "ct/ResultLayout.h"
#include "ct/RunRecord.h"
#include "ct/SavingData.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <functional>

namespace XafsResultFiles {

// µ of a phantom slice at an energy: a background B plus, in a disc, an absorber whose
// µ steps by A(x, z) between 7115 and 7120 eV (flat before and after).
struct Phantom
{
    static double step(double e) { return e >= 7120.0 ? 1.0 : 0.0; }
    static double absorber(int x, int z) { return 0.01 + 0.001 * x + 0.0005 * z; }
    static double background(int x, int z) { return 0.02 + 0.0002 * (x + z); }
    static double mu(int x, int z, double e) { return background(x, z) + absorber(x, z) * step(e); }
};

struct ResultWriter
{
    QString folder;
    QString name = QStringLiteral("smp");
    ResultLayout layout;
    int projections = 90;
    int n = 64;
    double cor = 31.5;

    static QString tagOf(double e) { return QStringLiteral("%1_0eV").arg(int(e)); }

    // µ at a pixel of the slice.
    using Mu = std::function<double(int x, int z)>;

    // Saves the slices of energy e over the region x0, z0, w x h, and the set's run
    // record; µ is the phantom's unless given. Values are stored as the reconstruction
    // stores them, µ times 2P.
    bool write(double e, const QList<int> &slices, int x0 = 4, int z0 = 6, int w = 20, int h = 12,
               const Mu &mu = {}) const
    {
        // The base folder is made by the window before a run; the saver makes sub folders.
        QDir().mkpath(folder);
        DataSaver saver;
        saver.setSubFolders(layout.inSubFolders, layout.ofEnergy, layout.ofSlice);
        const QString tag = tagOf(e);
        for (int slice : slices) {
            SliceInfo info;
            info.x0 = x0;
            info.z0 = z0;
            info.x1 = x0 + w;
            info.z1 = z0 + h;
            info.n = n;
            info.projections = projections;
            info.slice = slice;
            info.tag = tag;
            info.cor = cor;
            FloatTiff tiff;
            tiff.width = w;
            tiff.height = h;
            tiff.xPosition = x0;
            tiff.yPosition = z0;
            tiff.description = info.description();
            for (int z = z0; z < z0 + h; ++z)
                for (int x = x0; x < x0 + w; ++x)
                    tiff.values.push_back(
                        float((mu ? mu(x, z) : Phantom::mu(x, z, e)) * 2 * projections));
            auto *data = new SavingData(folder, name, tag, slice);
            data->writeDat = false;
            data->tiff = tiff.encode();
            saver.saveDataWDiscard(data);
        }
        auto *record = new RunRecord;
        record->folder = folder;
        record->name = name;
        record->tag = tag;
        QJsonObject o = RunRecord::programKeys();
        o["data_name"] = name;
        o["tag"] = tag;
        o["energy_text"] = tag;
        o["energy_eV"] = e;
        o["cor"] = cor;
        o["n"] = n;
        o["projections"] = projections;
        o["region"] = QJsonArray{x0, z0, x0 + w, z0 + h};
        o["filter"] = "ramp";
        o["padded"] = 0;
        o["ring_removal"] = 0;
        o["scale"] = attenuationScaleRule();
        record->settings = o;
        saver.writeRunRecordWDiscard(record, {DataSaver::sourceKey(folder, name, tag)});
        return saver.filesFailed == 0 && QFile::exists(layout.recordPath(folder, name, tag));
    }
};

} // namespace XafsResultFiles
