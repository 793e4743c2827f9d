#include "PopDockBase.h"

#include "ui_PopDockBase.h"

#include <QGridLayout>

PopDockBase::PopDockBase(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::PopDockBase)
    , popLayout(new QGridLayout(&popBase))
{
    ui->setupUi(this);
    popBase.resize(500, 500);
    popBase.hide();
    connect(ui->PopDock, &QPushButton::clicked, this, &PopDockBase::popDock);
    connect(&popBase, &ClosableBase::closed, this, &PopDockBase::moveToDockBase);
    connect(&popBase, &ClosableBase::closed, this, &PopDockBase::closed);
}

PopDockBase::~PopDockBase()
{
    // A popped-out content is a child of the window, which dies with this object;
    // hand it back to the dock first so that it lives as long as its owner expects.
    if (contentWidget && contentWidget->parentWidget() == &popBase)
        ui->Layout->addWidget(contentWidget);
    delete ui;
}

void PopDockBase::setContent(QWidget *content)
{
    contentWidget = content;
    if (contentWidget)
        ui->Layout->addWidget(contentWidget);
}

void PopDockBase::setPopTitle(const QString &title)
{
    popBase.setWindowTitle(title);
}

void PopDockBase::popDock()
{
    popBase.setVisible(!popBase.isVisible());
    if (popBase.isVisible())
        moveToPopBase();
    else
        moveToDockBase();
}

void PopDockBase::moveToDockBase()
{
    if (!contentWidget)
        return;
    ui->Layout->addWidget(contentWidget);
    contentWidget->show();
}

void PopDockBase::moveToPopBase()
{
    if (!contentWidget)
        return;
    popLayout->addWidget(contentWidget);
    contentWidget->show();
}
