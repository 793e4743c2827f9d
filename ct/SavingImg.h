#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// A result picture on its way from a reconstruction engine to the DataSaver; like
// SavingData it is created with new by the engine and deleted by the saver.
class SavingImg
{
public:
    SavingImg(const QString &path, const QString &name, const QString &tag, int sliceNo,
              const QImage &img = QImage());

    QString path;
    QString name;
    QString tag;
    QString no;
    QImage img;
    // The picture's file, when the sender has encoded it already (the engines do,
    // on their own threads, so that the one saver thread only writes).
    QByteArray png;
};
