// The XAFS tab and the build of the energy stacks, which runs on a thread of its own.

#include "Body.h"

#include "batch/Batch.h"
#include "ct/DataSaver.h"
#include "disp/XafsPanel.h"
#include "run/RunController.h"
#include "select/SelectAFile.h"
#include "ui_Body.h"
#include "xafs/XafsChemicalMaps.h"
#include "xafs/XafsMapRecord.h"

#include <QDebug>

#include <memory>
#include <new>
#include <system_error>

void Body::setupXafs()
{
    // After the engines' tabs, so that the tab numbers of the batch commands stay.
    xafsPanel = new XafsPanel;
    ui->ImgsTab->addTab(xafsPanel, tr("XAFS"));
    connect(xafsPanel, &XafsPanel::refreshRequested, this, &Body::refreshXafsPanel);
    connect(xafsPanel, &XafsPanel::buildRequested, this, [this] { startXafsBuild(false); });
    connect(ui->ImgsTab, &QTabWidget::currentChanged, this, [this](int index) {
        if (ui->ImgsTab->widget(index) == xafsPanel)
            refreshXafsPanel();
    });
}

XafsLayout Body::xafsLayout() const
{
    return {ui->SelectDataSaveDir->path(), ui->SelectDataSaveDir->name(),
            ui->SaveInSubFolders->isChecked(), ui->SubOfEnergy->isChecked(),
            ui->SubOfSlice->isChecked()};
}

XafsSettings Body::xafsSettings() const
{
    return xafsPanel->settings();
}

void Body::refreshXafsPanel()
{
    const XafsLayout layout = xafsLayout();
    xafsPanel->setSource(XafsBuilder(layout, xafsSettings()).outputFolder(), layout.name);
}

void Body::startXafsBuild(bool fromScript)
{
    if (xafsBuildThread) {
        qDebug() << "XAFS: a build is already running";
        if (fromScript) {
            batch->setOk(false);
            emit callBatchCheckEnd();
        }
        return;
    }
    // Results still queued for the saver are written before they are looked for.
    QMetaObject::invokeMethod(
        dataSaver, [] {}, Qt::BlockingQueuedConnection);
    const XafsLayout layout = xafsLayout();
    const XafsSettings settings = xafsSettings();
    const XafsMapSettings maps = xafsPanel->mapSettings();
    auto built = std::make_shared<int>(0);
    xafsBuildThread = QThread::create([layout, settings, maps, built] {
        // A buffer beyond the memory there is, or a helper thread the system refuses,
        // fails this build alone: the script gets its ng and the run goes on.
        try {
            XafsBuilder builder(layout, settings);
            builder.setRecordExtra({{"chemical_maps", XafsMapRecord::settingsOf(maps)}});
            *built = builder.build();
            // The edge position and white line of every voxel come with the stacks.
            if (*built > 0)
                XafsChemicalMaps(builder.outputFolder(), layout.name, maps).edgeMaps();
        } catch (const std::bad_alloc &) {
            qDebug() << "XAFS: No memory for the build of" << layout.name;
            *built = 0;
        } catch (const std::system_error &e) {
            qDebug() << "XAFS: a thread of the build could not start" << e.what();
            *built = 0;
        }
    });
    xafsBuildThread->setParent(this);
    xafsPanel->setBuilding(true);
    connect(xafsBuildThread, &QThread::finished, this, [this, built, fromScript, layout] {
        xafsBuildThread->deleteLater();
        xafsBuildThread = nullptr;
        xafsPanel->setBuilding(false);
        if (*built == 0)
            qDebug() << "XAFS: nothing could be built for" << layout.name;
        refreshXafsPanel();
        if (fromScript && *built == 0)
            runs->account().addFailures(1);
        if (fromScript) {
            batch->setOk(*built > 0);
            emit callBatchCheckEnd();
        }
        finishIfHeadlessDone();
    });
    xafsBuildThread->start();
    if (xafsBuildThread->isRunning() || xafsBuildThread->isFinished())
        return;
    // No thread could be made: the script must not wait for an end that never comes.
    qDebug() << "XAFS: the build thread could not start";
    delete xafsBuildThread;
    xafsBuildThread = nullptr;
    xafsPanel->setBuilding(false);
    if (fromScript) {
        runs->account().addFailures(1);
        batch->setOk(false);
        emit callBatchCheckEnd();
    }
    finishIfHeadlessDone();
}
