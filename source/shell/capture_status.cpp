#include "capture_status.h"

#include "ser_format.h"

#include <QStringList>

namespace {

constexpr QChar kDot = u'\u00b7';

// The stream's four-character code as text; uncompressed frames often carry none.
QString FormatName(std::uint32_t fcc)
{
    QString name;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fcc >> (8 * i)) & 0xFF);
        if (c < 0x20 || c > 0x7E)
            return QStringLiteral("uncompressed");
        name += QLatin1Char(c);
    }
    name = name.trimmed();
    return name.isEmpty() ? QStringLiteral("uncompressed") : name;
}

QString Joined(const QStringList& parts) { return parts.join(QStringLiteral(" %1 ").arg(kDot)); }

} // namespace

QString DepthDescription(const CVideoSource& source)
{
    const int nReal = source.GetRealDepth(), nStored = source.GetStoredDepth();
    QString text =
        nReal == nStored ? QStringLiteral("%1-bit").arg(nReal) : QStringLiteral("%1-bit in %2").arg(nReal).arg(nStored);
    if (!source.HasByteOrder())
        return text;
    text += source.GetByteOrder() == kestro::ser::ByteOrder::Big ? QStringLiteral(", big-endian")
                                                                 : QStringLiteral(", little-endian");
    switch (source.GetOrderBasis()) {
    case kestro::ser::OrderBasis::Convention: text += QStringLiteral(", assumed"); break;
    case kestro::ser::OrderBasis::User: text += QStringLiteral(", as chosen"); break;
    case kestro::ser::OrderBasis::Data:
    case kestro::ser::OrderBasis::OneByteSamples: break;
    }
    return text;
}

QString CaptureDescription(const CVideoSource& source, std::int32_t nFrame)
{
    if (!source.IsOpen())
        return {};
    QStringList parts{QStringLiteral("%1\u00d7%2").arg(source.GetFrameWidth()).arg(source.GetFrameHeight())};
    if (source.GetCaptureFormat() == CaptureFormat::Ser) {
        parts << QString::fromLatin1(source.GetCaptureFormatName()) << DepthDescription(source)
              << QString::fromStdString(source.GetColorIdName());
        if (const std::optional<std::int64_t> ticks = source.GetFrameTimeUtc(nFrame))
            parts << QString::fromStdString(kestro::ser::formatIso8601(*ticks));
        return Joined(parts);
    }
    const AVISTREAMINFOA& info = source.GetStreamInfo();
    parts << FormatName(info.fccHandler);
    if (info.dwScale != 0 && info.dwRate != 0)
        parts << QStringLiteral("%1 fps").arg(QString::number(double(info.dwRate) / info.dwScale, 'g', 4));
    return Joined(parts);
}
