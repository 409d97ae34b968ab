#include "shell_fixture.h"

#include "display_bar.h"
#include "bayer_pattern.h"
#include "draw_dib.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "main_frame.h"
#include "mosaic_detection.h"
#include "video_source.h"
#include "resource_ids.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QSettings>
#include <QTest>

ShellFixture::ShellFixture() : m_folderPath(m_folder.path())
{
    QDir(m_folderPath).mkpath(QStringLiteral("settings"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_folderPath + QStringLiteral("/settings"));
    // The Bayer-order bar would otherwise come, at a moment of the detector's choosing, above
    // the picture a test grabs; the tests of the bar choose their detector themselves.
    CMosaicDetection::SetDefaultDetector([](const std::string&, std::optional<kestro::ser::ByteOrder>,
                                            const std::atomic<bool>*) { return kestro::video::MosaicGuess{}; });
}

ShellFixture::~ShellFixture()
{
    m_pApp.reset();
    CMosaicDetection::SetDefaultDetector({});
}

CKestroApp& ShellFixture::start(const QStringList& arguments)
{
    m_pApp = std::make_unique<CKestroApp>();
    if (!m_pApp->InitInstance(arguments))
        qFatal("the program did not start");
    if (!QTest::qWaitForWindowExposed(m_pApp->GetMainFrame()))
        qFatal("the main window was not shown");
    return *m_pApp;
}

CKestroApp& ShellFixture::restart(const QStringList& arguments)
{
    m_pApp.reset();
    return start(arguments);
}

CMainFrame& ShellFixture::frame() const { return *m_pApp->GetMainFrame(); }

CKestroDoc& ShellFixture::doc() const { return *m_pApp->GetDocument(); }

QAbstractButton& ShellFixture::button(int nId) const
{
    return *static_cast<QAbstractButton*>(frame().GetDisplayBar().GetDlgItem(nId));
}

QComboBox& ShellFixture::algorithmList() const
{
    return *static_cast<QComboBox*>(frame().GetDisplayBar().GetDlgItem(ids::IDC_ALGORITHM));
}

QStringList ShellFixture::algorithmEntries() const
{
    QStringList entries;
    for (int i = 0; i < algorithmList().count(); ++i)
        entries << algorithmList().itemText(i);
    return entries;
}

void ShellFixture::command(int nId) const { frame().OnCommand(nId); }

bool ShellFixture::waitForExport() const
{
    const QDeadlineTimer deadline(60000);
    while (doc().IsExporting()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

QString ShellFixture::sample(const QString& name, const QStringList& arguments) const
{
    const QString path = m_folderPath + u'/' + name;
    QProcess tool;
    tool.start(QStringLiteral(KESTRO_SAMPLE_TOOL), QStringList{QStringLiteral("--output"), path} + arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        qFatal("the sample tool failed: %s", tool.readAllStandardError().constData());
    return path;
}

namespace {

QByteArray RunFfmpeg(const QStringList& arguments)
{
    QProcess tool;
    tool.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-nostdin", "-y"} + arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        qFatal("ffmpeg failed: %s", tool.readAllStandardError().constData());
    return tool.readAllStandardOutput();
}

} // namespace

QString ShellFixture::ffmpegCapture(const QString& name, const QStringList& arguments) const
{
    const QString path = m_folderPath + u'/' + name;
    RunFfmpeg(arguments + QStringList{path});
    return path;
}

QImage ShellFixture::ffmpegPicture(const QString& path)
{
    const QStringList size =
        QString::fromLatin1([&] {
            QProcess probe;
            probe.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                    "stream=width,height", "-of", "csv=p=0", path});
            probe.waitForFinished(60000);
            return probe.readAllStandardOutput().trimmed();
        }())
            .split(u',');
    if (size.size() != 2)
        qFatal("ffprobe could not read %s", qPrintable(path));
    const int nWidth = size[0].toInt();
    const int nHeight = size[1].toInt();
    const QByteArray rgb = RunFfmpeg({"-i", path, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    if (rgb.size() != qsizetype(nWidth) * nHeight * 3)
        qFatal("ffmpeg gave %lld bytes for a %dx%d frame", static_cast<long long>(rgb.size()), nWidth, nHeight);
    return QImage(reinterpret_cast<const uchar*>(rgb.constData()), nWidth, nHeight, nWidth * 3, QImage::Format_RGB888)
        .copy();
}

QImage ShellFixture::framePicture(const QString& path, int n, bool bRaw, bool bRawColour)
{
    CVideoSource source;
    if (!source.Open(path.toStdString()) || source.GoToFrame(n) != n)
        qFatal("frame %d of %s cannot be read", n, qPrintable(path));
    source.m_bRaw = bRaw;
    source.m_bRawColour = bRawColour;
    source.m_converter.SetPattern(kestro::bayer::kBG.code);
    const BITMAPINFOHEADER* pBitmap = source.GetFrameBitmap();
    if (pBitmap == nullptr)
        qFatal("frame %d of %s gives no picture", n, qPrintable(path));
    QImage image(pBitmap->biWidth, static_cast<int>(kestro::dib::rows(*pBitmap)), QImage::Format_RGB32);
    QPainter painter(&image);
    CDrawDib dib;
    if (!dib.Draw(painter, 0, 0, pBitmap))
        qFatal("frame %d of %s cannot be drawn", n, qPrintable(path));
    return image;
}

void ShellFixture::setIndexedSize(const QString& path, int n, quint32 nBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        qFatal("%s cannot be opened", qPrintable(path));
    QByteArray bytes = file.readAll();
    // idx1 comes last; its entries are chunk id, flags, offset and size, 4 bytes each.
    const qsizetype idx1 = bytes.lastIndexOf("idx1");
    const qsizetype entry = idx1 + 8 + 16 * qsizetype(n);
    if (idx1 < 0 || entry + 16 > bytes.size() || bytes.mid(entry + 2, 2) != "dc")
        qFatal("%s has no idx1 entry for frame %d", qPrintable(path), n);
    for (int i = 0; i < 4; ++i)
        bytes[entry + 12 + i] = static_cast<char>((nBytes >> (8 * i)) & 0xFF);
    if (!file.seek(0) || file.write(bytes) != bytes.size())
        qFatal("%s cannot be written", qPrintable(path));
}

QImage ShellFixture::grab(QWidget& widget)
{
    // A frame is rendered in a queued call; the picture a user would see is the one after it.
    QCoreApplication::processEvents();
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QString ShellFixture::missing(const QString& name) const { return m_folderPath + u'/' + name; }

PaintCounter::PaintCounter(QWidget* pWidget) { pWidget->installEventFilter(this); }

bool PaintCounter::eventFilter(QObject*, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::Paint)
        ++nPaints;
    return false;
}
