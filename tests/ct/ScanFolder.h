#pragma once

#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

// A scan folder described by its geometry.json (the measured scans beside the
// project and the demo generator's flat layout): its first set loaded into a
// stack with its I0 and BG images.
struct ScanFolder
{
    ImgDatas stack;
    std::unique_ptr<ImgData> i0;
    std::unique_ptr<ImgData> bg;
    ImgData *i0Slot = nullptr;
    ImgData *bgSlot = nullptr;
    QJsonObject geometry;

    // `setIndex`: the set in the order of geometry.json's keys (energy texts).
    bool load(const QString &folder, int setIndex = 0)
    {
        const QDir dir(folder);
        QFile json(dir.filePath(QStringLiteral("geometry.json")));
        if (!json.open(QIODevice::ReadOnly))
            return false;
        geometry = QJsonDocument::fromJson(json.readAll()).object();
        const QJsonObject sets = geometry.value("sets").toObject();
        if (setIndex < 0 || setIndex >= sets.size())
            return false;
        const QJsonObject set = (sets.begin() + setIndex)->toObject();
        const QDir projDir(dir.filePath(geometry.value("proj_dir").toString()));
        const QStringList files =
            projDir.entryList({set.value("proj_pattern").toString()}, QDir::Files, QDir::Name);
        for (const QString &f : files)
            if (!stack.addFile(projDir.filePath(f)))
                return false;
        if (stack.count() != geometry.value("proj").toInt())
            return false;
        i0.reset(ImgData::newImgData(ImgData::ITEX));
        bg.reset(ImgData::newImgData(ImgData::ITEX));
        i0->fileName = dir.filePath(set.value("i0").toString());
        bg->fileName = dir.filePath(geometry.value("bg").toString());
        if (!(i0->isOk = i0->open()) || !(bg->isOk = bg->open()))
            return false;
        i0Slot = i0.get();
        bgSlot = bg.get();
        stack.setI0Slot(&i0Slot);
        stack.setBgSlot(&bgSlot);
        return true;
    }
    double cor() const { return geometry.value("cor").toDouble(); }
    bool rotAxIsV() const
    {
        return geometry.value("rot_axis").toString() == QLatin1String("vertical");
    }
};
