#pragma once

#include <QObject>

class QComboBox;

namespace Ui {
class Body;
}

// The save rows tell which file the next slice goes to, so that a wrong folder,
// name or tag shows before a run rather than after it. Follows every control
// that changes the name.
class NextFileNames : public QObject
{
    Q_OBJECT
public:
    NextFileNames(Ui::Body *form, QObject *parent = nullptr);

    void show();

private:
    // The data format box of the window (dat, tiff, both), when it has one.
    const QComboBox *dataFormat() const;

    Ui::Body *ui;
};
