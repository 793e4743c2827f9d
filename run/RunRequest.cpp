#include "RunRequest.h"

#include "ct/SgmGeom.h"

#include <QFileInfo>

int RunRequest::sinogramWidth() const
{
    return setGeom(params.rotAxIsV, cutWidth(), params.cor, params.fixedHalfWidth).width;
}

QString RunRequest::prepareGeometry()
{
    ScanGeometry &geometry = params.geometry;
    if (!params.anglesFile.isEmpty()) {
        QString error;
        if (!ScanGeometry::readAngleFile(params.anglesFile, &geometry.anglesDeg, &error))
            return error;
        geometry.source = QFileInfo(params.anglesFile).fileName();
    }
    if (!geometry.anglesDeg.empty() && geometry.anglesDeg.size() != size_t(projections))
        return QStringLiteral("Angle count %1 differs from projections %2")
            .arg(geometry.anglesDeg.size())
            .arg(projections);
    if (params.fixedHalfWidth == 0)
        params.fixedHalfWidth = geometryHalfWidth();
    return QString();
}

int RunRequest::geometryHalfWidth() const
{
    if (!ScanGeometry::isHalfAcquisition(params.geometry.rangeDegrees, cutWidth(), params.cor))
        return 0;
    return ScanGeometry::halfAcquisitionHalfWidth(cutWidth(), params.cor);
}
