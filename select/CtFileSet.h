#pragma once

#include <QFileInfo>
#include <QList>
#include <QObject>
#include <QString>

// One set of image files of one energy: a run of consecutive files whose KVN stems
// are equal. The energy fields are read from the first file's name.
class CtFileSet : public QObject
{
    Q_OBJECT

public:
    explicit CtFileSet(QObject *parent = nullptr);

    QString fileName;
    QString stem;
    QString sample;
    QString energyText;
    double energy = 0.0;
    double unitFactor = 1.0;
    QString unit;
    QList<QFileInfo> files;

    void setFirstFile(const QFileInfo &info);
    bool belongs(const QFileInfo &info) const;
    void addFile(const QFileInfo &info);
    // The energy of the set in eV.
    double energyInEv() const { return energy * unitFactor; }
};
