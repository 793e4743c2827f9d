#pragma once

#include "xafs/XafsMapSettings.h"

#include <QJsonObject>
#include <QString>

struct XafsPca;

// The chemical maps' part of the record <name>-xafs.json: every setting a map was made
// with, under the key "chemical_maps", kept beside the build's own keys.
namespace XafsMapRecord {

// References (names and files), the fit range, sum-to-one, the white-line window and the
// seed; `pca`, when given, adds the number of components chosen and of voxels used.
QJsonObject settingsOf(const XafsMapSettings &settings, const XafsPca *pca = nullptr,
                       int clusters = 0);

// Puts `settings` under "chemical_maps" into the record in `xafsFolder`; false with a
// diagnostic when there is no record to add to or it could not be written.
bool add(const QString &xafsFolder, const QString &name, const QJsonObject &settings);

} // namespace XafsMapRecord
