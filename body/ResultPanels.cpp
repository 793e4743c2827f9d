#include "ResultPanels.h"

#include "ct/CtCalc.h"
#include "disp/CtCalc2Ui.h"
#include "disp/EngineLink.h"
#include "disp/PopDockBase.h"
#include "disp/SliceUnitLabel.h"
#include "run/CtEnginePool.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QTabWidget>

ResultPanels::ResultPanels(CtCalc *ct1, CtEnginePool *engines, QTabWidget *tabs, QObject *parent)
    : QObject(parent)
    , ct1(ct1)
{
    for (int i = 0; i < engines->count(); ++i) {
        auto *panel = new CtCalc2Ui;
        links << new EngineLink(engines->engine(i), panel, this);
        if (i == 0) {
            // The tab's texts keep the main window's translation context.
            auto *page = new QWidget;
            auto *layout = new QGridLayout(page);
            firstDock = new PopDockBase(page);
            firstDock->setContent(panel);
            firstDock->setPopTitle(QCoreApplication::translate("Body", "CT Calc2 %1").arg(i + 1));
            layout->addWidget(firstDock, 0, 0);
            layout->addWidget(new SliceUnitLabel, 1, 0);
            tabs->addTab(page, QCoreApplication::translate("Body", "CT2 %1").arg(i + 1));
        }
        engineUis << panel;
    }
    engines->regionOf = [this](int i) { return links.at(i)->calcRegion(); };
    engines->scaleOf = [this](int i) { return links.at(i)->scale(); };
}

ResultPanels::~ResultPanels()
{
    // Panels of the engines whose page is not in a tab have no parent.
    for (int i = 1; i < engineUis.size(); ++i)
        delete engineUis.at(i);
}

void ResultPanels::forward(const QObject *from, RegionSetter panelSetter,
                           CtCalcRegionSetter ct1Setter, const std::array<double, 4> &region)
{
    // Every panel shows and computes the same region; a panel that answers with
    // its own report must not start the forwarding again.
    if (forwarding)
        return;
    forwarding = true;
    const auto [x0, z0, x1, z1] = region;
    if (from != ct1)
        (ct1->*ct1Setter)(x0, z0, x1, z1);
    for (CtCalc2Ui *panel : qAsConst(engineUis))
        if (panel != from)
            (panel->*panelSetter)(x0, z0, x1, z1);
    forwarding = false;
}

void ResultPanels::forwardDisplayRegion(const QObject *from, const std::array<double, 4> &region)
{
    forward(from, &CtCalc2Ui::setDR, &CtCalc::setDR, region);
}

void ResultPanels::forwardCalcRegion(const QObject *from, const std::array<double, 4> &region)
{
    forward(from, &CtCalc2Ui::setCR, &CtCalc::setCR, region);
}

void ResultPanels::fixColorScale(bool fixed, double min, double max)
{
    ct1->setFixColorScale(fixed);
    if (fixed)
        ct1->setCBarMinMaxForced(min, max);
    for (CtCalc2Ui *panel : qAsConst(engineUis)) {
        panel->setFixColorScale(fixed);
        if (fixed)
            panel->setCBarMinMaxForced(min, max);
    }
}
