#include "SavingImg.h"

#include "SavingData.h"

SavingImg::SavingImg(const QString &path, const QString &name, const QString &tag, int sliceNo,
                     const QImage &img)
    : path(path)
    , name(name)
    , tag(tag)
    , no(sliceNumberText(sliceNo))
    , img(img)
{
}
