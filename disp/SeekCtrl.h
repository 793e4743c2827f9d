#pragma once

#include <QFrame>

namespace Ui {
class SeekCtrl;
}

// Picks an index (such as the projection shown) with a slider, a spin box and
// buttons that step by 10 items.
class SeekCtrl : public QFrame
{
    Q_OBJECT
public:
    explicit SeekCtrl(QWidget *parent = nullptr);
    ~SeekCtrl() override;

    int index() const;
    int maximum() const;
    // Sets the largest index of both the slider and the spin box.
    void setMaximum(int max);
    // Moves slider and spin box to the index, limited to 0 .. maximum.
    void setIndex(int idx);

signals:
    void newIndex(int idx);

public slots:
    void sliderMoved(int val);
    void indexChanged(int val);
    void inc();
    void dec();

private:
    void stepTo(int v);

    Ui::SeekCtrl *ui;
};
