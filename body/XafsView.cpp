#include "XafsView.h"

#include "ct/DataSaver.h"
#include "disp/XafsPanel.h"
#include "run/RunController.h"
#include "select/SelectAFile.h"
#include "ui_Body.h"
#include "util/ThreadStart.h"
#include "xafs/XafsChemicalMaps.h"
#include "xafs/XafsMapRecord.h"

#include <QCoreApplication>
#include <QDebug>
#include <QThread>

#include <memory>
#include <new>
#include <system_error>

XafsView::XafsView(Parts parts, QObject *parent)
    : QObject(parent)
    , p(std::move(parts))
{
    Ui::Body *ui = p.form;
    // After the engines' tabs, so that the tab numbers of the batch commands stay.
    // The tab's title keeps the main window's translation context.
    xafsPanel = new XafsPanel;
    ui->ImgsTab->addTab(xafsPanel, QCoreApplication::translate("Body", "XAFS"));
    connect(xafsPanel, &XafsPanel::refreshRequested, this, &XafsView::refresh);
    connect(xafsPanel, &XafsPanel::buildRequested, this, [this] { startBuild(false); });
    connect(xafsPanel, &XafsPanel::fitRequested, this, [this] { startMaps(MapWork::Fit); });
    connect(xafsPanel, &XafsPanel::componentsRequested, this,
            [this] { startMaps(MapWork::Components); });
    connect(xafsPanel, &XafsPanel::clustersRequested, this,
            [this](int k) { startMaps(MapWork::Clusters, k); });
    // The tab opens on the slice the engines were given last.
    connect(p.runs, &RunController::handedOut, this,
            [this](int, bool, double, int slice, bool) { xafsPanel->preferSlice(slice); });
    connect(ui->ImgsTab, &QTabWidget::currentChanged, this, [this, ui](int index) {
        if (ui->ImgsTab->widget(index) == xafsPanel)
            refresh();
    });
}

void XafsView::waitForBuild()
{
    if (buildThread)
        buildThread->wait();
    if (mapThread)
        mapThread->wait();
}

void XafsView::startMaps(MapWork work, int clusters)
{
    if (isBuilding()) {
        qDebug() << "XAFS: a build or maps are already being made";
        return;
    }
    const XafsLayout layout = this->layout();
    const QString folder = XafsBuilder(layout, settings()).outputFolder();
    const XafsMapSettings maps = xafsPanel->mapSettings();
    auto done = std::make_shared<bool>(false);
    mapThread = QThread::create([work, clusters, folder, layout, maps, done] {
        try {
            const XafsChemicalMaps chemistry(folder, layout.name, maps);
            XafsPca pca;
            if (work == MapWork::Fit) {
                *done = chemistry.linearCombinationFit() > 0;
                if (*done)
                    XafsMapRecord::add(folder, layout.name, XafsMapRecord::settingsOf(maps));
                return;
            }
            *done = chemistry.principalComponents(&pca);
            if (*done && work == MapWork::Clusters)
                *done = chemistry.clusters(pca, clusters);
            if (*done)
                XafsMapRecord::add(folder, layout.name,
                                   XafsMapRecord::settingsOf(maps, &pca, clusters));
        } catch (const std::bad_alloc &) {
            qDebug() << "XAFS: No memory for the chemical maps of" << layout.name;
            *done = false;
        } catch (const std::system_error &e) {
            qDebug() << "XAFS: a thread of the chemical maps could not start" << e.what();
            *done = false;
        }
    });
    mapThread->setParent(this);
    xafsPanel->setMapsBusy(true, tr("Making the maps..."));
    connect(mapThread, &QThread::finished, this, [this, done] {
        mapThread->deleteLater();
        mapThread = nullptr;
        refresh();
        xafsPanel->setMapsBusy(false, *done ? tr("The maps are made: choose them under Show.")
                                            : tr("The maps could not be made: see the log."));
        p.ended();
    });
    if (ThreadStart::start(*mapThread, QStringLiteral("XAFS maps")))
        return;
    delete mapThread;
    mapThread = nullptr;
    xafsPanel->setMapsBusy(false, tr("The maps could not be made: see the log."));
}

XafsLayout XafsView::layout() const
{
    const Ui::Body *ui = p.form;
    return {ui->SelectDataSaveDir->path(), ui->SelectDataSaveDir->name(),
            ui->SaveInSubFolders->isChecked(), ui->SubOfEnergy->isChecked(),
            ui->SubOfSlice->isChecked()};
}

XafsSettings XafsView::settings() const
{
    return xafsPanel->settings();
}

void XafsView::refresh()
{
    const XafsLayout here = layout();
    xafsPanel->setSource(XafsBuilder(here, settings()).outputFolder(), here.name);
}

void XafsView::startBuild(bool fromScript)
{
    if (isBuilding()) {
        qDebug() << "XAFS: a build is already running";
        if (fromScript)
            p.answerScript(false);
        return;
    }
    // Results still queued for the saver are written before they are looked for.
    QMetaObject::invokeMethod(
        p.saver, [] {}, Qt::BlockingQueuedConnection);
    const XafsLayout layout = this->layout();
    const XafsSettings settings = this->settings();
    const XafsMapSettings maps = xafsPanel->mapSettings();
    auto built = std::make_shared<int>(0);
    auto incomplete = std::make_shared<bool>(false);
    buildThread = QThread::create([layout, settings, maps, built, incomplete] {
        // A buffer beyond the memory there is, or a helper thread the system refuses,
        // fails this build alone: the script gets its ng and the run goes on.
        try {
            XafsBuilder builder(layout, settings);
            builder.setRecordExtra({{"chemical_maps", XafsMapRecord::settingsOf(maps)}});
            // The edge position and white line of every voxel come with the stacks.
            builder.setEdgeMaps(maps);
            *built = builder.build();
            // A slice left out is a failure even when the others were built.
            if (!builder.failedSlices().isEmpty())
                *incomplete = true;
        } catch (const std::bad_alloc &) {
            qDebug() << "XAFS: No memory for the build of" << layout.name;
            *built = 0;
        } catch (const std::system_error &e) {
            qDebug() << "XAFS: a thread of the build could not start" << e.what();
            *built = 0;
        }
    });
    buildThread->setParent(this);
    xafsPanel->setBuilding(true);
    connect(buildThread, &QThread::finished, this, [this, built, incomplete, fromScript, layout] {
        buildThread->deleteLater();
        buildThread = nullptr;
        xafsPanel->setBuilding(false);
        if (*built == 0)
            qDebug() << "XAFS: nothing could be built for" << layout.name;
        refresh();
        const bool ok = *built > 0 && !*incomplete;
        if (fromScript && !ok)
            p.runs->account().addFailures(1);
        if (fromScript)
            p.answerScript(ok);
        p.ended();
    });
    if (ThreadStart::start(*buildThread, QStringLiteral("XAFS build")))
        return;
    // No thread could be made: the script must not wait for an end that never comes.
    delete buildThread;
    buildThread = nullptr;
    xafsPanel->setBuilding(false);
    if (fromScript) {
        p.runs->account().addFailures(1);
        p.answerScript(false);
    }
    p.ended();
}
