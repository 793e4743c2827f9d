#include "TiffSupport.h"

#include <QDebug>
#include <QFile>

#include <cstdarg>
#include <cstdio>

namespace {

int toDebug(TIFF *, void *, const char *module, const char *fmt, va_list ap)
{
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    qDebug() << "TIFF:" << (module ? module : "") << text;
    return 1;
}

int ignoreWarning(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

} // namespace

namespace TiffSupport {

TIFFOpenOptions *newOptions()
{
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, &toDebug, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, &ignoreWarning, nullptr);
    return options;
}

Handle openFile(const QString &path, const char *mode, qint64 maxSingleAlloc)
{
    TIFFOpenOptions *options = newOptions();
    if (maxSingleAlloc > 0)
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(maxSingleAlloc));
    TIFF *tif = TIFFOpenExt(QFile::encodeName(path).constData(), mode, options);
    TIFFOpenOptionsFree(options);
    return Handle(tif);
}

} // namespace TiffSupport
