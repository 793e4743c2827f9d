#pragma once

#include "disp/ClosableBase.h"

#include <QFrame>
#include <QPointer>

class QGridLayout;

namespace Ui {
class PopDockBase;
}

// A dock place whose content can be popped out into a window of its own and
// docked back. The window is only hidden when closed, never destroyed.
class PopDockBase : public QFrame
{
    Q_OBJECT
public:
    explicit PopDockBase(QWidget *parent = nullptr);
    ~PopDockBase() override;

    // The widget that moves between dock and window; not owned here (the widget
    // belongs to whichever of the two holds it).
    void setContent(QWidget *content);
    QWidget *content() const { return contentWidget; }
    void setPopTitle(const QString &title);
    ClosableBase *popWindow() { return &popBase; }

signals:
    void closed();

public slots:
    void popDock();
    void moveToDockBase();
    void moveToPopBase();

private:
    Ui::PopDockBase *ui;
    ClosableBase popBase;
    QGridLayout *popLayout;
    QPointer<QWidget> contentWidget;
};
