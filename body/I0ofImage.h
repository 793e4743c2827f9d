#pragma once

#include <QFrame>

namespace Ui {
class I0ofImage;
}

// CT-XAFS I0 settings of an image kind: energy pattern, XAFS file and I0 value.
// A passive panel: batch commands set its fields and no calculation reads them.
class I0ofImage : public QFrame
{
    Q_OBJECT
public:
    explicit I0ofImage(QWidget *parent = nullptr);
    ~I0ofImage() override;

    void setTitle(const QString &title);
    Ui::I0ofImage *form() const { return ui; }

private:
    Ui::I0ofImage *ui;
};
