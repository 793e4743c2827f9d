#pragma once

#include "xafs/XafsBuilder.h"

#include <QObject>
#include <functional>

class DataSaver;
class QThread;
class RunController;
class XafsPanel;

namespace Ui {
class Body;
}

// The XAFS tab and the build of the energy stacks, which runs on a thread of its
// own; a script that asked for the build waits for its end.
class XafsView : public QObject
{
    Q_OBJECT
public:
    struct Parts
    {
        Ui::Body *form = nullptr;
        DataSaver *saver = nullptr;
        RunController *runs = nullptr;
        // Answers the script line that asked for a build.
        std::function<void(bool ok)> answerScript;
        // A build ended (a headless run may have waited for it).
        std::function<void()> ended;
    };

    explicit XafsView(Parts parts, QObject *parent = nullptr);

    XafsPanel *panel() const { return xafsPanel; }
    // A build or chemical maps in progress.
    bool isBuilding() const { return buildThread != nullptr || mapThread != nullptr; }
    // Where the results of the current data name are and how spectra are normalised.
    XafsLayout layout() const;
    XafsSettings settings() const;
    void refresh();
    void startBuild(bool fromScript);
    // At shut-down: a build or maps in progress are waited for.
    void waitForBuild();

private:
    enum class MapWork { Fit, Components, Clusters };
    // The chemical maps the tab's buttons ask for, made on a thread of their own.
    void startMaps(MapWork work, int clusters = 0);

    Parts p;
    XafsPanel *xafsPanel = nullptr;
    QThread *buildThread = nullptr;
    QThread *mapThread = nullptr;
};
