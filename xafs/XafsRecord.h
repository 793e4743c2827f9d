#pragma once

#include "xafs/XafsNormaliser.h"

#include <QJsonObject>
#include <QString>

// The record <name>-xafs.json that xafs_build leaves beside the stacks: the numbers a
// build actually used, so that whoever reads the stacks never has to know a default.
// Later steps (maps, components) add their own settings as objects of their own.
namespace XafsRecord {

QString fileName(const QString &name);

// The normalisation settings as resolved for these energies: which kind of ranges,
// their ends (absolute) or offsets (relative) or the rule, nnorm, flattening, the E0
// method, the minimum jump, the registration, the energy shift and the unit.
QJsonObject settingsOf(const XafsNormaliser &normaliser);

// Writes `record` with every key of `extra` added (extra's keys win), completely or
// not at all; false with a diagnostic when the file could not be written.
bool write(const QString &path, const QJsonObject &record, const QJsonObject &extra = {});

// Reads a record back (an empty object when there is none or it is not JSON).
QJsonObject read(const QString &path);

} // namespace XafsRecord
