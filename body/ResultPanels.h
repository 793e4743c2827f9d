#pragma once

#include "ct/CtCalc2.h"

#include <QList>
#include <QObject>
#include <array>

class CtCalc;
class CtCalc2Ui;
class CtEnginePool;
class EngineLink;
class PopDockBase;
class QTabWidget;

// The result panels of the CT1 panel and of every engine, kept on one display
// region, one calculation region and one colour scale. The first engine's panel
// has a tab of its own; the others are built so that a run shows the same
// settings on every engine, and belong to this object.
class ResultPanels : public QObject
{
    Q_OBJECT
public:
    ResultPanels(CtCalc *ct1, CtEnginePool *engines, QTabWidget *tabs, QObject *parent = nullptr);
    ~ResultPanels() override;

    const QList<CtCalc2Ui *> &panels() const { return engineUis; }
    PopDockBase *dock() const { return firstDock; }

    // A region reported by one panel (or by nobody: `from` null) to every other.
    void forwardDisplayRegion(const QObject *from, const std::array<double, 4> &region);
    void forwardCalcRegion(const QObject *from, const std::array<double, 4> &region);
    // The fixed colour scale of the main window on every panel.
    void fixColorScale(bool fixed, double min, double max);

private:
    using RegionSetter = void (CtCalc2Ui::*)(double, double, double, double);
    using CtCalcRegionSetter = void (CtCalc::*)(double, double, double, double);
    void forward(const QObject *from, RegionSetter panelSetter, CtCalcRegionSetter ct1Setter,
                 const std::array<double, 4> &region);

    CtCalc *ct1;
    QList<CtCalc2Ui *> engineUis;
    QList<EngineLink *> links;
    PopDockBase *firstDock = nullptr;
    // Guards region forwarding between panels against feedback.
    bool forwarding = false;
};
