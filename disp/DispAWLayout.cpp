#include "DispAWLayout.h"

#include "disp/DispA.h"
#include "ui_DispAWLayout.h"

DispAWLayout::DispAWLayout(QWidget *parent)
    : QFrame(parent)
    , layoutUi(new Ui::DispAWLayout)
{
    layoutUi->setupUi(this);
    DispA *area = layoutUi->dispA;
    connect(area, &DispA::drawImage0, this, &DispAWLayout::drawImage0);
    connect(area, &DispA::drawImage1, this, &DispAWLayout::drawImage1);
    connect(area, &DispA::drawImage2, this, &DispAWLayout::drawImage2);
    connect(area, &DispA::mouseMoved0, this, &DispAWLayout::mouseMoved0);
    connect(area, &DispA::mousePressed0, this, &DispAWLayout::mousePressed0);
    connect(area, &DispA::mouseReleased0, this, &DispAWLayout::mouseReleased0);
    connect(area, &DispA::mouseDoubleClicked0, this, &DispAWLayout::mouseDoubleClicked0);
    connect(area, &DispA::wheelMoved0, this, &DispAWLayout::wheelMoved0);
}

DispAWLayout::~DispAWLayout()
{
    delete layoutUi;
}

DispA *DispAWLayout::dispA() const
{
    return layoutUi->dispA;
}

QGridLayout *DispAWLayout::gridLayout() const
{
    return layoutUi->gridLayout;
}
