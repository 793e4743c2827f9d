#pragma once

#include "ct/CtRunParams.h"

#include <QString>

// Everything a CT run starts from, read from the controls once, when the run
// starts: later edits of the controls never change a run in progress.
struct RunRequest
{
    struct SaveTarget
    {
        bool on = false;
        QString path;
        QString name;
        QString tag;
    };

    CtRunParams params;
    SaveTarget image;
    SaveTarget data;
    // Sub folders of the results: per energy and/or per slice.
    bool subFolders = false;
    bool subOfEnergy = false;
    bool subOfSlice = false;
    // The main window's colour scale; when not fixed each result sets its own.
    bool fixScale = false;
    double colorMin = 0.0;
    double colorMax = 1.0;
    // Which files a saved result becomes: the ".dat" text, the float TIFF, or both.
    bool saveDat = true;
    bool saveTiff = false;
    // Or into one HDF5 file per set (auto_save_data_format h5).
    bool saveH5 = false;
    // Results shown while computing (a headless run shows nothing).
    bool showResults = true;
    // Why the I0 or BG image can not be used (empty when it can).
    QString inputFailure;
    // The stack the run reads.
    int projections = 0;
    int imageWidth = 0;
    int imageHeight = 0;

    // Samples of a projection row across the rotation axis, and the last slice.
    int cutWidth() const { return params.rotAxIsV ? imageWidth : imageHeight; }
    int lastSlice() const { return (params.rotAxIsV ? imageHeight : imageWidth) - 1; }
    // The width of the run's sinograms, and their FFT length (its even part).
    int sinogramWidth() const;
    int fftLength() const { return sinogramWidth() - sinogramWidth() % 2; }
    // At run start: reads the angle file into the geometry, checks the angle count
    // against the projections and widens the sinograms of a half acquisition
    // (ScanGeometry). The reason the run can not start, or empty.
    QString prepareGeometry();
    // The sinogram half width the geometry asks for: a half acquisition's, or 0
    // (from the centre).
    int geometryHalfWidth() const;
};
