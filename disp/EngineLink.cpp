#include "EngineLink.h"

#include "disp/ColorBar.h"
#include "disp/CtCalc2Ui.h"
#include "disp/ImgDispWPV.h"

EngineLink::EngineLink(CtCalc2 *engine, CtCalc2Ui *panel, QObject *parent)
    : QObject(parent)
    , engine(engine)
    , resultPanel(panel)
{
    // The panel lives on the GUI thread: every update below reaches it through its
    // own event queue, in the order the engine emitted them.
    connect(engine, &CtCalc2::startedCt, panel, [panel](int slice) {
        panel->showStartTime();
        panel->showSliceNo(slice);
    });
    connect(engine, &CtCalc2::resultReady, panel, &CtCalc2Ui::showResult);
    connect(engine, &CtCalc2::autoRangeFound, panel, [panel](double min, double max) {
        // The user may have fixed the scale since the engine looked.
        if (panel->bar()->fixed())
            return;
        panel->setCBarMinMaxForced(min, max);
        panel->bar()->update();
    });
    connect(engine, &CtCalc2::endedCt, panel, [panel] {
        panel->showEndTime();
        panel->showSpentT();
    });
    connect(engine, &CtCalc2::calcRegionDefaulted, panel, &CtCalc2Ui::setCR);
    // A change of the colour bar is copied here, on the GUI thread where the bar
    // lives, and the engine redraws with the copy.
    connect(panel->display(), &ImgDispWCBar::newBar, this,
            [this] { this->engine->changeBar(scale()); });
}

CtCalc2::Region EngineLink::calcRegion() const
{
    if (!resultPanel)
        return {};
    const CtCalc2Ui *p = resultPanel;
    return {p->calcRegionChanged(), p->cRx0(), p->cRz0(), p->cRx1(), p->cRz1()};
}

CtCalc2::Scale EngineLink::scale() const
{
    if (!resultPanel)
        return {};
    return {resultPanel->bar()->fixed(), resultPanel->bar()->greyScale()};
}
