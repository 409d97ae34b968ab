// The frame view: the frame drawn 1:1 at the top-left corner as ffmpeg decodes it, in 8, 24
// and 32 bits; a note on how to open a capture while none is; one paint per step; and files
// dropped on either pane.
#include "shell_fixture.h"

#include "draw_dib.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "resource_ids.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWheelEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

#include <cstring>

namespace {

// The first pixel of `area` where the view differs from ffmpeg's picture, or an empty text.
QString FirstDifference(const QImage& view, const QImage& expected, const QRect& area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (view.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("(%1, %2): drawn %3, ffmpeg %4")
                    .arg(x)
                    .arg(y)
                    .arg(view.pixel(x, y), 8, 16)
                    .arg(expected.pixel(x, y), 8, 16);
        }
    }
    return {};
}

QImage Grab(QWidget& widget) { return ShellFixture::grab(widget); }

bool IsBlank(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != image.pixel(0, 0))
                return false;
        }
    }
    return true;
}

// A test pattern ffmpeg writes as uncompressed frames of the pixel format given.
QString PatternCapture(const ShellFixture& f, const QString& pixFmt, const QSize& size)
{
    return f.ffmpegCapture(pixFmt + QStringLiteral(".avi"),
                           {"-f", "lavfi", "-i",
                            QStringLiteral("testsrc=size=%1x%2:rate=1").arg(size.width()).arg(size.height()),
                            "-frames:v", "2", "-c:v", "rawvideo", "-pix_fmt", pixFmt});
}

// ffmpeg's 640 x 480 test pattern, open in a main window of the size given; ffmpeg's own picture
// of its first frame, to compare what is drawn with.
QImage OpenPattern(ShellFixture& f, const QSize& window)
{
    const QString capture = PatternCapture(f, QStringLiteral("bgr24"), {640, 480});
    f.start();
    f.frame().resize(window);
    f.doc().OpenVideoFile(capture);
    QTest::qWait(0); // the frame's queued render
    return ShellFixture::ffmpegPicture(capture);
}

} // namespace

class FrameViewTest : public QObject {
    Q_OBJECT
private slots:
    void noCaptureSaysHowToOpenOne();
    void drawsTheFrameAsFfmpegDecodesIt_data();
    void drawsTheFrameAsFfmpegDecodesIt();
    void drawsOnlyThePartAskedFor();
    void largeFrameScrollsFromTheTopLeft();
    void zoomSteps();
    void fitToWindow();
    void wheelWithCtrlZoomsAtThePointer();
    void rowsWithoutDataShowNoPicture();
    void damagedFramesAreToldAfterTheRender_data();
    void damagedFramesAreToldAfterTheRender();
    void eachStepPaintsTheViewOnce();
    void shortColourTableAndTopDownRows_data();
    void shortColourTableAndTopDownRows();
    void trueColourRowsFollowTheTableTheyList();
    void droppedFilesOpenOnlyTheFirst_data();
    void droppedFilesOpenOnlyTheFirst();
};

void FrameViewTest::noCaptureSaysHowToOpenOne()
{
    ShellFixture f;
    f.start();
    CKestroView& view = *f.frame().GetFrameView();
    // The note at the top, drawn like the one of a frame without data; below it the pane is empty,
    // in every display mode, and nobody is told anything.
    const auto showsOnlyTheNote = [&] {
        const QImage drawn = Grab(view);
        return view.GetNote() == CKestroView::NoCaptureNote() && !view.HasPicture() &&
               !IsBlank(drawn.copy(0, 0, drawn.width(), 40)) &&
               IsBlank(drawn.copy(0, 40, drawn.width(), drawn.height() - 40));
    };
    QVERIFY(showsOnlyTheNote());
    QVERIFY(CKestroView::NoCaptureNote().contains(QStringLiteral("File \u25b8 Open (Ctrl+O)")));
    QVERIFY(CKestroView::NoCaptureNote().contains(QStringLiteral("drop a capture here")));
    for (int id : {ids::IDC_DISPLAY_RAW_Y, ids::IDC_DISPLAY_RAW_COLOUR, ids::IDC_GRAYSCALE, ids::IDC_DISPLAY_NORMAL}) {
        QTest::mouseClick(&f.button(id), Qt::LeftButton);
        QVERIFY2(showsOnlyTheNote(), qPrintable(QString::number(id)));
    }
    QVERIFY(f.messages().empty());

    // A capture takes its place.
    f.doc().OpenVideoFile(PatternCapture(f, QStringLiteral("bgr24"), {13, 7}));
    Grab(view);
    QVERIFY(view.HasPicture());
    QVERIFY(view.GetNote().isEmpty());
}

void FrameViewTest::drawsTheFrameAsFfmpegDecodesIt_data()
{
    QTest::addColumn<QString>("pixFmt");
    QTest::addColumn<int>("nBits");
    // 13 pixels leave 8- and 24-bit rows short of a multiple of 4 bytes.
    QTest::newRow("8-bit through its colour table") << "pal8" << 8;
    QTest::newRow("24-bit") << "bgr24" << 24;
    QTest::newRow("32-bit") << "bgra" << 32;
}

void FrameViewTest::drawsTheFrameAsFfmpegDecodesIt()
{
    QFETCH(QString, pixFmt);
    QFETCH(int, nBits);
    ShellFixture f;
    const QString capture = PatternCapture(f, pixFmt, {13, 7});
    f.start();
    f.doc().OpenVideoFile(capture);
    QVERIFY(f.messages().empty());
    QCOMPARE(int(f.doc().m_videoSource.GetFrameBitmap()->biBitCount), nBits);

    const QImage expected = ShellFixture::ffmpegPicture(capture);
    const QImage drawn = Grab(*f.frame().GetFrameView());
    QVERIFY(drawn.width() > 13 && drawn.height() > 7);
    const QString difference = FirstDifference(drawn, expected, expected.rect());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    // The rest of the pane is background, right of and below the frame.
    const QRgb background = drawn.pixel(drawn.width() - 1, drawn.height() - 1);
    QCOMPARE(drawn.pixel(13, 0), background);
    QCOMPARE(drawn.pixel(0, 7), background);
}

void FrameViewTest::drawsOnlyThePartAskedFor()
{
    // A paint of part of the pane converts and draws only that part, in the right place.
    ShellFixture f;
    const QString capture = PatternCapture(f, QStringLiteral("bgr24"), {13, 7});
    f.start();
    f.doc().OpenVideoFile(capture);
    const QImage expected = ShellFixture::ffmpegPicture(capture);
    const QPoint origin(3, 2);
    const QRect area(5, 4, 20, 3); // reaches past the frame's right edge
    QImage canvas(30, 12, QImage::Format_RGB32);
    const QRgb untouched = qRgb(255, 0, 255);
    canvas.fill(untouched);
    {
        QPainter painter(&canvas);
        QVERIFY(
            f.doc().m_hDrawDib->Draw(painter, origin.x(), origin.y(), f.doc().m_videoSource.GetFrameBitmap(), area));
    }
    const QRect frame(origin, expected.size());
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const QPoint p(x, y);
            const QRgb want = area.contains(p) && frame.contains(p) ? expected.pixel(p - origin) : untouched;
            QVERIFY2(canvas.pixel(p) == want, qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
        }
    }
}

void FrameViewTest::largeFrameScrollsFromTheTopLeft()
{
    ShellFixture f;
    const QImage expected = OpenPattern(f, {500, 400});
    CKestroView& view = *f.frame().GetFrameView();
    QTRY_VERIFY(view.width() < 640 && view.height() < 480);
    QScrollBar& across = view.GetHorizontalScrollBar();
    QScrollBar& down = view.GetVerticalScrollBar();

    // Actual size from the top-left corner, with scroll bars for the rest.
    QImage drawn = Grab(view);
    QTRY_VERIFY(across.isVisible() && down.isVisible());
    const QRect area(0, 0, view.width() - down.width(), view.height() - across.height());
    QString difference = FirstDifference(drawn, expected, area);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(across.maximum(), 640 - area.width());
    QCOMPARE(down.maximum(), 480 - area.height());

    // Scrolled to the far corner: the frame's bottom-right pixels at the area's bottom-right.
    across.setValue(across.maximum());
    down.setValue(down.maximum());
    drawn = Grab(view);
    difference = FirstDifference(drawn.copy(area), expected.copy(area.translated(across.value(), down.value())),
                                 QRect(QPoint(), area.size()));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    // A window large enough shows the whole frame, unscaled, without bars.
    f.frame().resize(1000, 700);
    QTRY_VERIFY(view.width() > 640 && view.height() > 480);
    QTRY_VERIFY(!across.isVisible() && !down.isVisible());
    QCOMPARE(view.GetScrollPosition(), QPoint(0, 0));
    drawn = Grab(view);
    difference = FirstDifference(drawn, expected, expected.rect());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void FrameViewTest::zoomSteps()
{
    ShellFixture f;
    const QString capture = PatternCapture(f, QStringLiteral("bgr24"), {64, 48});
    f.start();
    f.doc().OpenVideoFile(capture);
    CKestroView& view = *f.frame().GetFrameView();
    const QImage expected = ShellFixture::ffmpegPicture(capture);
    QCOMPARE(view.GetZoom(), 1.0);

    struct Step {
        int nCommand;
        double dZoom;
    };
    const Step steps[] = {
        {ids::ID_VIEW_ZOOM_IN, 2.0},     {ids::ID_VIEW_ZOOM_IN, 3.0},      {ids::ID_VIEW_ZOOM_OUT, 2.0},
        {ids::ID_VIEW_ACTUAL_SIZE, 1.0}, {ids::ID_VIEW_ZOOM_OUT, 2.0 / 3}, {ids::ID_VIEW_ZOOM_OUT, 0.5},
        {ids::ID_VIEW_ZOOM_IN, 2.0 / 3}, {ids::ID_VIEW_ACTUAL_SIZE, 1.0},  {ids::ID_VIEW_ZOOM_IN, 2.0},
        {ids::ID_VIEW_ZOOM_IN, 3.0},
    };
    for (const Step& step : steps) {
        f.command(step.nCommand);
        QVERIFY2(std::abs(view.GetZoom() - step.dZoom) < 1e-9, qPrintable(QString::number(view.GetZoom())));
    }

    // At 3x every sensor pixel is a sharp 3 x 3 square of its own colour, from the top-left.
    const QImage drawn = Grab(view);
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            for (int k = 0; k < 9; ++k) {
                const QPoint p(3 * x + k % 3, 3 * y + k / 3);
                QVERIFY2(drawn.pixel(p) == expected.pixel(x, y),
                         qPrintable(QStringLiteral("(%1, %2) of pixel (%3, %4)").arg(p.x()).arg(p.y()).arg(x).arg(y)));
            }
        }
    }
    // Beyond the picture: the pane's background.
    QCOMPARE(drawn.pixel(3 * 64 + 2, 10), drawn.pixel(view.width() - 1, view.height() - 1));
    QVERIFY(!view.GetHorizontalScrollBar().isVisible());

    // The keys of the View menu.
    const std::pair<int, QKeySequence> keys[] = {
        {ids::ID_VIEW_ZOOM_IN, QKeySequence(Qt::CTRL | Qt::Key_Plus)},
        {ids::ID_VIEW_ZOOM_OUT, QKeySequence(Qt::CTRL | Qt::Key_Minus)},
        {ids::ID_VIEW_ACTUAL_SIZE, QKeySequence(Qt::CTRL | Qt::Key_0)},
        {ids::ID_VIEW_FIT, QKeySequence(Qt::CTRL | Qt::Key_9)},
    };
    for (const auto& [nId, key] : keys)
        QVERIFY(f.frame().GetCommandActions(nId).front()->shortcuts().contains(key));
    f.frame().GetFrameList()->setFocus();
    QTest::keyClick(f.frame().GetFrameList(), Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(view.GetZoom(), 1.0);
    QTest::keyClick(f.frame().GetFrameList(), Qt::Key_Plus, Qt::ControlModifier);
    QCOMPARE(view.GetZoom(), 2.0);
}

void FrameViewTest::fitToWindow()
{
    ShellFixture f;
    const QImage expected = OpenPattern(f, {700, 500});
    CKestroView& view = *f.frame().GetFrameView();
    f.command(ids::ID_VIEW_FIT);
    QVERIFY(view.IsFitToWindow());
    const double dZoom = std::min(view.width() / 640.0, view.height() / 480.0);
    QCOMPARE(view.GetZoom(), dZoom);
    QVERIFY(dZoom < 1.0);
    QTRY_VERIFY(!view.GetHorizontalScrollBar().isVisible() && !view.GetVerticalScrollBar().isVisible());

    // The whole frame in sight: a pixel in the middle of a flat patch lands where the scale
    // puts it, whatever the smoothing does at the patch's edges.
    const QImage drawn = Grab(view);
    int nChecked = 0;
    for (int y = 8; y < 480 - 8; y += 37) {
        for (int x = 8; x < 640 - 8; x += 41) {
            bool bFlat = true;
            for (int k = -6; k <= 6 && bFlat; ++k)
                bFlat = expected.pixel(x + k, y) == expected.pixel(x, y) &&
                        expected.pixel(x, y + k) == expected.pixel(x, y);
            if (!bFlat)
                continue;
            const QPoint p(static_cast<int>((x + 0.5) * dZoom), static_cast<int>((y + 0.5) * dZoom));
            const QColor want(expected.pixel(x, y)), got(drawn.pixel(p));
            QVERIFY2(std::abs(want.red() - got.red()) <= 8 && std::abs(want.green() - got.green()) <= 8 &&
                         std::abs(want.blue() - got.blue()) <= 8,
                     qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
            ++nChecked;
        }
    }
    QVERIFY(nChecked > 20);

    // It keeps fitting as the window changes, and Actual Size goes back to the top-left 1:1.
    f.frame().resize(900, 650);
    QTRY_COMPARE(view.GetZoom(), std::min(view.width() / 640.0, view.height() / 480.0));
    f.command(ids::ID_VIEW_ACTUAL_SIZE);
    QVERIFY(!view.IsFitToWindow());
    QCOMPARE(view.GetZoom(), 1.0);
    QCOMPARE(Grab(view).pixel(0, 0), expected.pixel(0, 0));
}

void FrameViewTest::wheelWithCtrlZoomsAtThePointer()
{
    ShellFixture f;
    const QImage expected = OpenPattern(f, {700, 500});
    CKestroView& view = *f.frame().GetFrameView();

    // The picture's pixel under the pointer stays under it.
    const QPoint pointer(120, 90);
    QWheelEvent wheel(pointer, view.mapToGlobal(pointer), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    QCOMPARE(view.GetZoom(), 2.0);
    QCOMPARE(view.GetScrollPosition(), pointer);
    QCOMPARE(Grab(view).pixel(pointer), expected.pixel(pointer));

    // Without Ctrl the wheel scrolls; dragging moves the picture with the pointer.
    const QPoint before = view.GetScrollPosition();
    QWheelEvent scroll(pointer, view.mapToGlobal(pointer), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &scroll);
    QCOMPARE(view.GetZoom(), 2.0);
    QVERIFY(view.GetScrollPosition().y() > before.y());
    const QPoint scrolled = view.GetScrollPosition();
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(200, 200));
    QTest::mouseMove(&view, QPoint(170, 180));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(170, 180));
    QCOMPARE(view.GetScrollPosition(), scrolled + QPoint(30, 20));
}

// A capture whose first frames were dropped: those rows have no earlier picture to fall back
// on, and show none rather than whatever was on screen.
void FrameViewTest::rowsWithoutDataShowNoPicture()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("lead.avi"),
                                     {"--width", "160", "--height", "120", "--frames", "8", "--dropped", "0,1"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CKestroView& view = *f.frame().GetFrameView();
    CLeftView& list = *f.frame().GetFrameList();
    const auto showsNoPicture = [&](int nRow) {
        const QImage drawn = Grab(view);
        // The note stands at the top; below it the pane is empty.
        return f.doc().IsFrameMissing() && f.doc().GetCurrentRow() == nRow &&
               IsBlank(drawn.copy(0, 40, drawn.width(), drawn.height() - 40)) &&
               !IsBlank(drawn.copy(0, 0, drawn.width(), 40));
    };
    QVERIFY(showsNoPicture(0));
    QCOMPARE(CKestroView::MissingFrameNote(0), QStringLiteral("no data stored for frame 0"));

    for (int nRow : {5, 1, 2, 0}) {
        list.GoToRow(nRow);
        if (nRow < 2) {
            QVERIFY2(showsNoPicture(nRow), qPrintable(QString::number(nRow)));
        } else {
            const QImage expected = ShellFixture::framePicture(capture, nRow);
            QCOMPARE(Grab(view).copy(expected.rect()), expected);
        }
    }
    QVERIFY(f.messages().empty());
}

void FrameViewTest::damagedFramesAreToldAfterTheRender_data()
{
    QTest::addColumn<int>("nMode");
    QTest::addColumn<bool>("bTold"); // the RAW modes say why; Normal only shows the note
    QTest::newRow("RAW colour") << int(ids::IDC_DISPLAY_RAW_COLOUR) << true;
    QTest::newRow("RAW Y-channel") << int(ids::IDC_DISPLAY_RAW_Y) << true;
    QTest::newRow("Normal") << int(ids::IDC_DISPLAY_NORMAL) << false;
}

// Frames 10 and 11 of a capture whose index gives each 1,000 bytes instead of a frame's worth:
// stepping onto them tells why once per frame, after the render and never inside a paint, one
// box at a time although the boxes run event loops of their own in which more is rendered; the
// pane says the frame could not be read, and the frames either side show as ever.
void FrameViewTest::damagedFramesAreToldAfterTheRender()
{
    QFETCH(int, nMode);
    QFETCH(bool, bTold);
    ShellFixture f;
    const QString capture =
        f.ffmpegCapture(QStringLiteral("cut.avi"), {"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25", "-frames:v",
                                                    "20", "-c:v", "rawvideo", "-pix_fmt", "yuv420p"});
    ShellFixture::setIndexedSize(capture, 10, 1000);
    ShellFixture::setIndexedSize(capture, 11, 1000);
    f.start();
    // Room for the whole frame beside the list, also once the window has shrunk below.
    f.frame().resize(1300, 900);
    f.doc().OpenVideoFile(capture);
    CKestroView& view = *f.frame().GetFrameView();
    CLeftView& list = *f.frame().GetFrameList();
    list.GoToRow(9);
    QTest::mouseClick(&f.button(nMode), Qt::LeftButton);
    list.setFocus();
    QTest::qWait(0);
    QVERIFY(f.messages().empty());

    // A box as a person sees it: an event loop of its own until it is closed. While the first is
    // up, the next frame is chosen, the window repaints and changes size.
    struct Box {
        std::string text;
        bool bInPaint;
    };
    std::vector<Box> boxes;
    int nDepth = 0, nDeepest = 0;
    const kestro::ui::MessageHandler previous = kestro::ui::setMessageHandler([&](const kestro::ui::Message& m) {
        boxes.push_back({m.text, view.testAttribute(Qt::WA_WState_InPaintEvent)});
        nDeepest = std::max(nDeepest, ++nDepth);
        if (boxes.size() == 1) {
            QTest::keyClick(&list, Qt::Key_Down);
            view.repaint();
            f.frame().resize(f.frame().width() - 40, f.frame().height());
        }
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
        --nDepth;
        return kestro::ui::Answer::Ok;
    });

    QTest::keyClick(&list, Qt::Key_Down);
    QTest::qWait(400);
    if (!bTold)
        QTest::keyClick(&list, Qt::Key_Down);
    QTRY_COMPARE(f.doc().GetCurrentRow(), 11);
    QTest::qWait(200);
    kestro::ui::setMessageHandler(previous);

    if (bTold) {
        QCOMPARE(boxes.size(), std::size_t{2});
        QCOMPARE(QString::fromStdString(boxes[0].text),
                 QStringLiteral("Frame 10 is stored in 1000 bytes, too few for its 307200 sensor values."));
        QCOMPARE(QString::fromStdString(boxes[1].text),
                 QStringLiteral("Frame 11 is stored in 1000 bytes, too few for its 307200 sensor values."));
        QCOMPARE(nDeepest, 1);
        for (const Box& box : boxes)
            QVERIFY(!box.bInPaint);
    } else {
        QVERIFY(boxes.empty());
    }
    QVERIFY(f.button(nMode).isChecked());

    // The pane says so in place of a picture.
    QImage drawn = Grab(view);
    QVERIFY(!view.HasPicture());
    QCOMPARE(view.GetNote(), QStringLiteral("frame 11 could not be read"));
    QVERIFY(!IsBlank(drawn.copy(0, 0, drawn.width(), 40)));
    QVERIFY(IsBlank(drawn.copy(0, 40, drawn.width(), drawn.height() - 40)));

    // Told once: back on frame 10 the pane says so again, without a box.
    QTest::keyClick(&list, Qt::Key_Up);
    Grab(view);
    QCOMPARE(view.GetNote(), QStringLiteral("frame 10 could not be read"));

    // The frames either side show as ever.
    const bool bRaw = nMode != ids::IDC_DISPLAY_NORMAL;
    for (int nRow : {12, 9}) {
        list.GoToRow(nRow);
        drawn = Grab(view);
        QVERIFY(view.HasPicture());
        QVERIFY(view.GetNote().isEmpty());
        const QImage expected = ShellFixture::framePicture(capture, nRow, bRaw, nMode == ids::IDC_DISPLAY_RAW_COLOUR);
        QCOMPARE(drawn.copy(expected.rect()), expected);
    }
    QVERIFY(f.messages().empty());
}

void FrameViewTest::eachStepPaintsTheViewOnce()
{
    ShellFixture f;
    const QString capture =
        f.sample(QStringLiteral("five.avi"), {"--width", "64", "--height", "48", "--frames", "5", "--dropped", "none"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CLeftView& list = *f.frame().GetFrameList();
    CKestroView& view = *f.frame().GetFrameView();
    list.setFocus();
    QTest::qWait(0);

    PaintCounter paints(&view);
    QImage before = Grab(view);
    paints.nPaints = 0;
    for (int nStep = 1; nStep <= 3; ++nStep) {
        QTest::keyClick(&list, Qt::Key_Down);
        QTRY_COMPARE(paints.nPaints, 1);
        QTest::qWait(20);
        QCOMPARE(paints.nPaints, 1);
        // The first Down steps from frame 0, shown at open, to frame 1.
        QCOMPARE(f.doc().m_videoSource.GetCurrentPosition(), nStep);
        // The planet drifts, so each frame looks different.
        const QImage after = Grab(view);
        QVERIFY(after != before);
        before = after;
        paints.nPaints = 0;
    }
}

void FrameViewTest::shortColourTableAndTopDownRows_data()
{
    QTest::addColumn<int>("nHeight");
    QTest::newRow("bottom-up") << 2;
    QTest::newRow("top-down") << -2;
}

// A 4x2 8-bit bitmap with a table of two colours: values past the table draw black, and the
// sign of the height says which stored row is the top one.
void FrameViewTest::shortColourTableAndTopDownRows()
{
    QFETCH(int, nHeight);
    struct Bitmap {
        BITMAPINFOHEADER header;
        std::uint8_t table[2][4];
        std::uint8_t rows[2][4];
    } bitmap{};
    bitmap.header = kestro::dib::header(4, nHeight, 8);
    bitmap.header.biClrUsed = 2;
    std::memcpy(bitmap.table, "\x30\x20\x10\x00\x03\x02\x01\x00", 8); // blue, green, red, unused
    std::memcpy(bitmap.rows, "\x00\x01\x02\xff\x01\x01\x01\x01", 8);

    QImage drawn(4, 2, QImage::Format_RGB32);
    drawn.fill(Qt::white);
    {
        QPainter painter(&drawn);
        CDrawDib dib;
        QVERIFY(dib.Draw(painter, 0, 0, &bitmap.header));
    }
    const int nFirstStored = nHeight < 0 ? 0 : 1;
    QCOMPARE(drawn.pixel(0, nFirstStored), qRgb(0x10, 0x20, 0x30));
    QCOMPARE(drawn.pixel(1, nFirstStored), qRgb(0x01, 0x02, 0x03));
    QCOMPARE(drawn.pixel(2, nFirstStored), qRgb(0, 0, 0));
    QCOMPARE(drawn.pixel(3, nFirstStored), qRgb(0, 0, 0));
    QCOMPARE(drawn.pixel(0, 1 - nFirstStored), qRgb(0x01, 0x02, 0x03));
}

// A 24-bit bitmap may list a colour table (a hint for screens of few colours): its rows start
// after it, as everything else that reads frame bitmaps has them, and a copy of the bitmap takes
// the table along.
void FrameViewTest::trueColourRowsFollowTheTableTheyList()
{
    struct Bitmap {
        BITMAPINFOHEADER header;
        std::uint8_t table[4];
        std::uint8_t row[8];
    } bitmap{};
    bitmap.header = kestro::dib::header(2, 1, 24);
    bitmap.header.biClrUsed = 1;
    std::memcpy(bitmap.table, "\x7f\x7f\x7f\x00", 4);
    std::memcpy(bitmap.row, "\x30\x20\x10\x03\x02\x01\x00\x00", 8); // blue, green, red; padding
    QCOMPARE(CDrawDib::PackedSize(&bitmap.header), sizeof bitmap);

    QImage drawn(2, 1, QImage::Format_RGB32);
    drawn.fill(Qt::white);
    {
        QPainter painter(&drawn);
        CDrawDib dib;
        QVERIFY(dib.Draw(painter, 0, 0, &bitmap.header));
    }
    QCOMPARE(drawn.pixel(0, 0), qRgb(0x10, 0x20, 0x30));
    QCOMPARE(drawn.pixel(1, 0), qRgb(0x01, 0x02, 0x03));
}

void FrameViewTest::droppedFilesOpenOnlyTheFirst_data()
{
    QTest::addColumn<bool>("bOnList");
    QTest::newRow("on the frame list") << true;
    QTest::newRow("on the frame view") << false;
}

void FrameViewTest::droppedFilesOpenOnlyTheFirst()
{
    QFETCH(bool, bOnList);
    ShellFixture f;
    const QString first = f.sample(QStringLiteral("first.avi"), {"--width", "32", "--height", "32", "--frames", "4"});
    const QString second = f.sample(QStringLiteral("second.avi"), {"--width", "32", "--height", "32", "--frames", "7"});
    f.start();
    QWidget* pTarget = bOnList ? f.frame().GetFrameList()->viewport() : static_cast<QWidget*>(f.frame().GetFrameView());

    // Shift asks for a move; the file is only read, so the drop must report a copy or the
    // program it came from may delete it. What the drop reported, and the title right then:
    Qt::DropAction enterAction = Qt::IgnoreAction;
    Qt::DropAction dropAction = Qt::IgnoreAction;
    QString titleAtDrop;
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::ShiftModifier);
        enter.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(pTarget, &enter);
        const bool bAccepted = enter.isAccepted();
        if (bAccepted) {
            enterAction = enter.dropAction();
            QDropEvent dropped(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::ShiftModifier);
            dropped.setDropAction(Qt::MoveAction);
            QApplication::sendEvent(pTarget, &dropped);
            dropAction = dropped.dropAction();
            titleAtDrop = f.doc().GetTitle();
            QTest::qWait(0);
        }
        return bAccepted;
    };

    // A web address first: the drag is refused.
    QVERIFY(!drop({QUrl(QStringLiteral("https://example.org/a.avi")), QUrl::fromLocalFile(first)}));
    QCOMPARE(f.doc().m_videoSource.GetFrameCount(), 0);

    const QString untitled = f.doc().GetTitle();
    QVERIFY(drop({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second), QUrl::fromLocalFile(f.missing("x.avi"))}));
    QCOMPARE(enterAction, Qt::CopyAction);
    QCOMPARE(dropAction, Qt::CopyAction);
    // Opened only once the drop has returned: the dragging program is not kept waiting.
    QCOMPARE(titleAtDrop, untitled);
    QTRY_COMPARE(f.doc().GetTitle(), first);
    QCOMPARE(f.frame().GetFrameList()->model()->rowCount(), 4);
    QVERIFY(f.messages().empty());
}

QTEST_MAIN(FrameViewTest)
#include "frame_view_test.moc"
