#pragma once

#include "ct/CtCalc2.h"

#include <QObject>
#include <QPointer>

class CtCalc2Ui;

// Shows one reconstruction engine on its result panel: the engine's reports
// reach the panel through its event queue, a change of the panel's colour bar
// reaches the engine, and the panel's calculation region and scale are read
// here when a run starts. The engine itself knows no widget.
class EngineLink : public QObject
{
    Q_OBJECT
public:
    EngineLink(CtCalc2 *engine, CtCalc2Ui *panel, QObject *parent = nullptr);

    CtCalc2Ui *panel() const { return resultPanel; }
    // The panel's calculation region (unset until the user or a command set it)
    // and its colour scale, as a run starts with them.
    CtCalc2::Region calcRegion() const;
    CtCalc2::Scale scale() const;

private:
    CtCalc2 *engine;
    QPointer<CtCalc2Ui> resultPanel;
};
