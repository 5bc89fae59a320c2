#include "platform/qtstrings.h"

#include "base/textencoding.h"
#include "surfaces/rastercanvas.h"

namespace quillard {

QString FromBytes(const std::string& Bytes)
{
    TUtf8Validator utf8;
    utf8.Feed(Bytes.data(), Bytes.size());
    if (utf8.Complete())
        return QString::fromUtf8(Bytes.data(), static_cast<qsizetype>(Bytes.size()));
    return Cp1252ToQString(Bytes);
}

QString MessageText(const std::string& Bytes)
{
    QString s = FromBytes(Bytes);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

QString PathToQ(const std::string& Path) { return QString::fromLocal8Bit(Path.data(), static_cast<qsizetype>(Path.size())); }

std::string PathFromQ(const QString& Path) { return Path.toLocal8Bit().toStdString(); }

}  // namespace quillard
