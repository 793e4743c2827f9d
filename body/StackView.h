#pragma once

#include <QStringList>
#include <functional>

class ImgDatas;
class RawDisp;
class RunAccount;

namespace Ui {
class Body;
}

// The window's side of loading projections into the stack: the file list, the
// seek range, and on the first stack (or when the conditions are not kept) the
// slice range, the centre and the regions reset to the image, said in the log.
class StackView
{
public:
    struct Parts
    {
        Ui::Body *form = nullptr;
        ImgDatas *stack = nullptr;
        RawDisp *raw = nullptr;
        RunAccount *account = nullptr;
        std::function<void()> showRaw;
        std::function<void()> regenerateSinogram;
        std::function<void(double x0, double z0, double x1, double z1)> regionEverywhere;
    };

    explicit StackView(Parts parts);

    void load(const QStringList &files, bool clear);

private:
    Parts p;
    bool firstLoad = true;
};
