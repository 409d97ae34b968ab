// Display levels: the table they make, the painted pixels following it in every kind of frame
// bitmap, Auto on a dim capture, the histogram of a known frame, levels kept while stepping and
// across modes but reset when a capture opens, and exports that never see them.
#include "shell_fixture.h"

#include "display_levels.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "levels_bar.h"
#include "main_frame.h"
#include "resource_ids.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>

#include <cmath>
#include <algorithm>
#include <limits>
#include <numeric>

using kestro::shell::DisplayLevels;
using kestro::shell::LevelsTable;

Q_DECLARE_METATYPE(DisplayLevels)

namespace {

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The part of the view the picture covers, as painted.
QImage PaintedPicture(CKestroView& view)
{
    return ShellFixture::grab(view).copy(QRect(QPoint(), view.GetPictureSize()));
}

// The first pixel where `after` is not `before` through the table, or an empty text.
QString FirstMismatch(const QImage& before, const QImage& after, const LevelsTable& table)
{
    if (before.size() != after.size())
        return QStringLiteral("sizes differ");
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            const QRgb b = before.pixel(x, y);
            const QRgb want = qRgb(table[qRed(b)], table[qGreen(b)], table[qBlue(b)]);
            if ((after.pixel(x, y) & 0xFFFFFF) != (want & 0xFFFFFF))
                return QStringLiteral("(%1, %2): %3 became %4, the table says %5")
                    .arg(x)
                    .arg(y)
                    .arg(b, 8, 16)
                    .arg(after.pixel(x, y), 8, 16)
                    .arg(want, 8, 16);
        }
    }
    return {};
}

} // namespace

class LevelsTest : public QObject {
    Q_OBJECT
private slots:
    void tableFollowsTheLevels_data();
    void tableFollowsTheLevels();
    void paintedPixelsFollowTheTable_data();
    void paintedPixelsFollowTheTable();
    void histogramCountsAKnownFrame();
    void autoStretchesADimCapture();
    void levelsStayWhileSteppingAndResetOnOpen();
    void exportsAreTheSameWithAndWithoutLevels();
};

void LevelsTest::tableFollowsTheLevels_data()
{
    QTest::addColumn<DisplayLevels>("levels");
    QTest::addColumn<QList<int>>("inputs");
    QTest::addColumn<QList<int>>("outputs");
    QTest::newRow("none") << DisplayLevels{} << QList<int>{0, 1, 128, 254, 255} << QList<int>{0, 1, 128, 254, 255};
    QTest::newRow("stretch") << DisplayLevels{50, 200, 1.0} << QList<int>{0, 50, 125, 200, 255}
                             << QList<int>{0, 0, 128, 255, 255};
    // (75/150)^(1/2) of 255 is 180.3.
    QTest::newRow("gamma lifts the middle")
        << DisplayLevels{50, 200, 2.0} << QList<int>{50, 125, 200} << QList<int>{0, 180, 255};
    // Out-of-range levels are brought inside rather than dividing by nothing or reading past
    // the table.
    QTest::newRow("black above white") << DisplayLevels{300, 100, 1.0} << QList<int>{0, 253, 254, 255}
                                       << QList<int>{0, 0, 0, 255};
    QTest::newRow("white below black") << DisplayLevels{100, 40, 1.0} << QList<int>{100, 101} << QList<int>{0, 255};
    QTest::newRow("no gamma") << DisplayLevels{0, 255, std::numeric_limits<double>::quiet_NaN()}
                              << QList<int>{0, 77, 255} << QList<int>{0, 77, 255};
}

void LevelsTest::tableFollowsTheLevels()
{
    QFETCH(DisplayLevels, levels);
    QFETCH(QList<int>, inputs);
    QFETCH(QList<int>, outputs);
    const LevelsTable table = kestro::shell::MakeLevelsTable(levels);
    for (qsizetype i = 0; i < inputs.size(); ++i)
        QCOMPARE(int(table[inputs[i]]), outputs[i]);
    QVERIFY(std::is_sorted(table.begin(), table.end()));
}

void LevelsTest::paintedPixelsFollowTheTable_data()
{
    QTest::addColumn<QString>("pixFmt");
    QTest::addColumn<int>("nMode");
    // 67 pixels wide: the byte table's 64-byte steps end with a remainder in every row.
    QTest::newRow("Normal, 24-bit") << "bgr24" << ids::IDC_DISPLAY_NORMAL;
    QTest::newRow("Normal, 32-bit") << "bgra" << ids::IDC_DISPLAY_NORMAL;
    QTest::newRow("Normal, 8-bit colour table") << "pal8" << ids::IDC_DISPLAY_NORMAL;
    // The RAW modes need a capture of the sample tool, 68 pixels wide (a multiple of 4).
    QTest::newRow("RAW Y-channel") << "sample" << ids::IDC_DISPLAY_RAW_Y;
    QTest::newRow("RAW colour") << "sample" << ids::IDC_DISPLAY_RAW_COLOUR;
}

void LevelsTest::paintedPixelsFollowTheTable()
{
    QFETCH(QString, pixFmt);
    QFETCH(int, nMode);
    ShellFixture f;
    const bool bSample = pixFmt == QStringLiteral("sample");
    const QString capture =
        bSample ? f.sample(QStringLiteral("raw.avi"), {"--width", "68", "--height", "40", "--frames", "2"})
                : f.ffmpegCapture(pixFmt + QStringLiteral(".avi"),
                                  {"-f", "lavfi", "-i", "testsrc=size=68x40:rate=1", "-frames:v", "2", "-vf",
                                   "crop=67:40:0:0", "-c:v", "rawvideo", "-pix_fmt", pixFmt});
    f.start();
    f.doc().OpenVideoFile(capture);
    f.command(nMode);
    CKestroView& view = *f.frame().GetFrameView();
    const QImage before = PaintedPicture(view);
    QCOMPARE(before.size(), QSize(bSample ? 68 : 67, 40));

    const DisplayLevels levels{40, 180, 1.6};
    view.SetLevels(levels);
    const QImage after = PaintedPicture(view);
    const QString mismatch = FirstMismatch(before, after, kestro::shell::MakeLevelsTable(levels));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY(after != before);

    // Reset shows the frame as it was.
    f.frame().GetLevelsBar().GetResetButton().click();
    QCOMPARE(PaintedPicture(view), before);
    QVERIFY(f.messages().empty());
}

void LevelsTest::histogramCountsAKnownFrame()
{
    ShellFixture f;
    // Two colours side by side: 16x8 blue-green-red (0x30, 0x20, 0x10), 16x8 (0x90, 0x80, 0x70).
    const QString capture = f.ffmpegCapture(
        QStringLiteral("two.avi"), {"-f", "lavfi", "-i", "color=c=0x102030:size=16x8:rate=1,format=bgr24", "-f",
                                    "lavfi", "-i", "color=c=0x708090:size=16x8:rate=1,format=bgr24", "-filter_complex",
                                    "hstack", "-frames:v", "1", "-c:v", "rawvideo", "-pix_fmt", "bgr24"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CKestroView& view = *f.frame().GetFrameView();
    // Counted only while the bar shows.
    QVERIFY(f.frame().GetLevelsBand().isHidden());
    f.command(ids::ID_VIEW_LEVELS);
    QTest::qWait(0);
    const kestro::shell::FrameHistogram& h = view.GetHistogram();
    QVERIFY(h.bValid);
    QVERIFY(h.bColour);
    const int expected[3][2] = {{0x30, 0x90}, {0x20, 0x80}, {0x10, 0x70}};
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(h.counts[c][expected[c][0]], 128u);
        QCOMPARE(h.counts[c][expected[c][1]], 128u);
        QCOMPARE(std::accumulate(h.counts[c].begin(), h.counts[c].end(), 0u), 256u);
    }
    // In RAW Y-channel the picture is grey: one curve, every pixel counted once.
    f.command(ids::IDC_DISPLAY_RAW_Y);
    QTRY_VERIFY(!view.GetHistogram().bColour);
    QCOMPARE(std::accumulate(h.counts[0].begin(), h.counts[0].end(), 0u), 256u);
}

void LevelsTest::autoStretchesADimCapture()
{
    ShellFixture f;
    // ffmpeg's test pattern at a quarter of its brightness: nothing above 63.
    const QString capture = f.ffmpegCapture(
        QStringLiteral("dim.avi"), {"-f", "lavfi", "-i", "testsrc=size=96x64:rate=1", "-frames:v", "1", "-vf",
                                    "lutrgb=r=val/4:g=val/4:b=val/4", "-c:v", "rawvideo", "-pix_fmt", "bgr24"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CKestroView& view = *f.frame().GetFrameView();
    const auto brightest = [&] {
        const QImage painted = PaintedPicture(view);
        int n = 0;
        for (int y = 0; y < painted.height(); ++y)
            for (int x = 0; x < painted.width(); ++x)
                n = std::max({n, qRed(painted.pixel(x, y)), qGreen(painted.pixel(x, y)), qBlue(painted.pixel(x, y))});
        return n;
    };
    QVERIFY(brightest() <= 64);
    // Auto works with the bar hidden too: it counts the frame it needs.
    CLevelsBar& bar = f.frame().GetLevelsBar();
    bar.GetAutoButton().click();
    QTRY_VERIFY(!view.GetLevels().IsIdentity());
    QVERIFY2(view.GetLevels().nWhite <= 64, qPrintable(QString::number(view.GetLevels().nWhite)));
    QVERIFY(brightest() >= 250);
    // The bar shows what is in force.
    QCOMPARE(bar.GetBlack().value(), view.GetLevels().nBlack);
    QCOMPARE(bar.GetWhite().value(), view.GetLevels().nWhite);
    QCOMPARE(bar.GetGamma().value(), 1.0);

    // A flat frame has nothing to stretch: Auto keeps a gap of one value.
    kestro::shell::FrameHistogram flat;
    flat.bValid = true;
    flat.counts[0][77] = 1000;
    const DisplayLevels l = kestro::shell::AutoLevels(flat);
    QCOMPARE(l.nBlack, 77);
    QCOMPARE(l.nWhite, 78);
    flat.counts[0][77] = 0;
    flat.counts[0][255] = 1000;
    QCOMPARE(kestro::shell::AutoLevels(flat).nWhite, 255);
    QVERIFY(kestro::shell::AutoLevels(flat).nBlack < 255);
}

void LevelsTest::levelsStayWhileSteppingAndResetOnOpen()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("steps.avi"), {"--width", "64", "--height", "48", "--frames", "4"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CKestroView& view = *f.frame().GetFrameView();
    CLevelsBar& bar = f.frame().GetLevelsBar();
    bar.GetBlack().setValue(20);
    bar.GetGamma().setValue(2.0);
    const DisplayLevels set = view.GetLevels();
    QCOMPARE(set, (DisplayLevels{20, 255, 2.0}));
    f.doc().SetCurrentFrame(2);
    f.command(ids::IDC_DISPLAY_RAW_COLOUR);
    f.command(ids::IDC_DISPLAY_RAW_Y);
    QTest::qWait(0);
    QCOMPARE(view.GetLevels(), set);

    // A black point past the white one moves the white one; the fields say so.
    bar.GetWhite().setValue(100);
    bar.GetBlack().setValue(150);
    QCOMPARE(view.GetLevels().nWhite, 151);
    QCOMPARE(bar.GetWhite().value(), 151);

    // The same capture opened again starts as it is, and so does another.
    f.doc().OpenVideoFile(capture);
    QVERIFY(view.GetLevels().IsIdentity());
    QCOMPARE(bar.GetBlack().value(), 0);
    QCOMPARE(bar.GetWhite().value(), 255);
    QCOMPARE(bar.GetGamma().value(), 1.0);
    view.SetLevels({10, 90, 1.0});
    const QString other = f.sample(QStringLiteral("other.avi"), {"--width", "32", "--height", "16", "--frames", "2"});
    f.doc().OpenVideoFile(other);
    QVERIFY(view.GetLevels().IsIdentity());
    // A file that fails to open leaves the capture on show, and its levels, alone.
    view.SetLevels({10, 90, 1.0});
    f.doc().OpenVideoFile(f.missing(QStringLiteral("gone.avi")));
    QCOMPARE(view.GetLevels(), (DisplayLevels{10, 90, 1.0}));
    f.clearMessages();
}

void LevelsTest::exportsAreTheSameWithAndWithoutLevels()
{
    ShellFixture f;
    const QString capture =
        f.sample(QStringLiteral("export.avi"), {"--width", "64", "--height", "48", "--frames", "3"});
    f.start();
    f.doc().OpenVideoFile(capture);
    f.command(ids::IDC_DISPLAY_RAW_COLOUR);
    CKestroView& view = *f.frame().GetFrameView();
    const auto exportAs = [&](const QString& tag) {
        f.dialogs().answer((f.folder() + "/" + tag + ".avi").toStdString());
        f.command(ids::ID_FILE_SAVE);
        if (!f.waitForExport())
            return false;
        f.dialogs().answer((f.folder() + "/" + tag + ".bmp").toStdString());
        f.command(ids::ID_FILE_SAVE_AS);
        return f.waitForExport();
    };
    QVERIFY(exportAs(QStringLiteral("plain")));
    view.SetLevels({30, 120, 2.5});
    QTest::qWait(0);
    QVERIFY(exportAs(QStringLiteral("levels")));
    QCOMPARE(view.GetLevels(), (DisplayLevels{30, 120, 2.5}));
    view.RequestAutoLevels();
    QTest::qWait(0);
    QVERIFY(exportAs(QStringLiteral("auto")));

    const QByteArray plain = FileBytes(f.folder() + "/plain.avi");
    QVERIFY(!plain.isEmpty());
    QCOMPARE(FileBytes(f.folder() + "/levels.avi"), plain);
    QCOMPARE(FileBytes(f.folder() + "/auto.avi"), plain);
    for (const char* n : {"_0000", "_0001", "_0002"}) {
        const QByteArray bmp = FileBytes(f.folder() + "/plain" + n + ".bmp");
        QVERIFY(!bmp.isEmpty());
        QCOMPARE(FileBytes(f.folder() + "/levels" + n + ".bmp"), bmp);
        QCOMPARE(FileBytes(f.folder() + "/auto" + n + ".bmp"), bmp);
    }
    QVERIFY(f.messages().empty());
}

QTEST_MAIN(LevelsTest)
#include "levels_test.moc"
