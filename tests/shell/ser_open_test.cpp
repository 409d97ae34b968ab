// SER captures in the window, written by the independent numpy script: opened by the file
// dialog's filter, a drop and the recent files; the status bar's format, depth, colour id and
// frame time; the header's pattern pressed on open and the user's press kept for the capture;
// the byte-order choice for 16-bit captures only, reset by the next capture; the reader's note
// told once, and a refused file leaving the capture on show as it was.
#include "shell_fixture.h"

#include "frame_list_model.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "resource_ids.h"
#include "status_bar.h"
#include "test_support.h"

#include <QAbstractButton>
#include <QAction>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>

namespace {

// The captures named, written by make_ser.py into the test's folder.
bool MakeSer(const QString& folder, const QStringList& names)
{
    std::string command = "/usr/bin/python3 " + kestro::test::quote(KESTRO_MAKE_SER_SCRIPT) + " " +
                          kestro::test::quote(folder.toStdString());
    for (const QString& n : names)
        command += " " + kestro::test::quote(n.toStdString());
    return kestro::test::run(command + " >/dev/null 2>&1") == 0;
}

QString CheckedOrder(const CMainFrame& frame)
{
    for (const auto& [nId, name] :
         {std::pair{ids::ID_BYTE_ORDER_AUTO, "auto"}, std::pair{ids::ID_BYTE_ORDER_LITTLE, "little"},
          std::pair{ids::ID_BYTE_ORDER_BIG, "big"}})
        if (frame.GetCommandActions(nId).front()->isChecked())
            return QString::fromLatin1(name);
    return QStringLiteral("none");
}

bool OrderEnabled(const CMainFrame& frame)
{
    return frame.GetCommandActions(ids::ID_BYTE_ORDER_AUTO).front()->isEnabled();
}

} // namespace

class SerOpenTest : public QObject {
    Q_OBJECT
private slots:
    void statusPatternAndByteOrder();
    void notesOnceAndRefusalsKeepTheCaptureOnShow();
    void dropsAndRecentFilesOpenSer();
    void exportsReadInTheByteOrderChosen();
};

void SerOpenTest::statusPatternAndByteOrder()
{
    ShellFixture f;
    QVERIFY(MakeSer(f.folder(), {"colour8-BGGR", "be12-flag0", "mono8"}));
    f.start();
    QVERIFY(!OrderEnabled(f.frame()));
    f.button(ids::IDC_PATTERN_GR).click();

    // BGGR is the RG button; the status bar names the format, depth, colour id and frame time.
    f.doc().OpenVideoFile(f.folder() + QStringLiteral("/colour8-BGGR.ser"));
    QVERIFY(f.messages().empty());
    QVERIFY(f.button(ids::IDC_PATTERN_RG).isChecked());
    QVERIFY(!f.button(ids::IDC_PATTERN_GR).isChecked());
    QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(), 3);
    QCOMPARE(f.frame().GetStatusBar().GetFrameText(),
             QStringLiteral("Frame 0 of 2 \u00b7 16\u00d712 \u00b7 SER \u00b7 8-bit \u00b7 BGGR \u00b7 "
                            "2024-05-01T21:13:07.123Z"));
    f.doc().SetCurrentFrame(1);
    QVERIFY(f.frame().GetStatusBar().GetFrameText().endsWith(QStringLiteral("2024-05-01T21:13:07.170Z")));
    QVERIFY2(!OrderEnabled(f.frame()), "8-bit samples have no byte order");
    QCOMPARE(CheckedOrder(f.frame()), QStringLiteral("auto"));

    // The user's press holds for the capture.
    f.button(ids::IDC_PATTERN_GB).click();
    f.doc().SetCurrentFrame(0);
    QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(), 1);
    QVERIFY(f.button(ids::IDC_PATTERN_GB).isChecked());

    // 16-bit samples: the order found in the data, then the user's, said in the status bar.
    f.doc().OpenVideoFile(f.folder() + QStringLiteral("/be12-flag0.ser"));
    QVERIFY2(f.button(ids::IDC_PATTERN_GB).isChecked(), "RGGB is the GB button");
    QVERIFY(OrderEnabled(f.frame()));
    QVERIFY2(f.frame().GetStatusBar().GetFrameText().contains(
                 QStringLiteral("SER \u00b7 12-bit in 16, big-endian \u00b7 RGGB")),
             qPrintable(f.frame().GetStatusBar().GetFrameText()));
    const QImage before = ShellFixture::grab(*f.frame().GetFrameView());
    f.command(ids::ID_BYTE_ORDER_LITTLE);
    QCOMPARE(CheckedOrder(f.frame()), QStringLiteral("little"));
    QVERIFY2(f.frame().GetStatusBar().GetFrameText().contains(QStringLiteral("16-bit, little-endian, as chosen")),
             qPrintable(f.frame().GetStatusBar().GetFrameText()));
    QVERIFY(ShellFixture::grab(*f.frame().GetFrameView()) != before);
    f.command(ids::ID_BYTE_ORDER_AUTO);
    QCOMPARE(ShellFixture::grab(*f.frame().GetFrameView()), before);

    // The next capture starts on Auto; an AVI file has neither order nor SER's words.
    f.command(ids::ID_BYTE_ORDER_BIG);
    QCOMPARE(CheckedOrder(f.frame()), QStringLiteral("big"));
    f.doc().OpenVideoFile(f.sample(QStringLiteral("avi.avi"), {"--width", "32", "--height", "16", "--frames", "2"}));
    QCOMPARE(CheckedOrder(f.frame()), QStringLiteral("auto"));
    QVERIFY(!OrderEnabled(f.frame()));
    QVERIFY2(f.frame().GetStatusBar().GetFrameText().endsWith(QStringLiteral("dropped")),
             qPrintable(f.frame().GetStatusBar().GetFrameText()));
    QVERIFY(f.messages().empty());
}

void SerOpenTest::notesOnceAndRefusalsKeepTheCaptureOnShow()
{
    ShellFixture f;
    QVERIFY(MakeSer(f.folder(), {"count0", "width0", "cut-header"}));
    f.start();
    f.doc().OpenVideoFile(f.sample(QStringLiteral("first.avi"), {"--width", "32", "--height", "16", "--frames", "3"}));
    // With a capture on show the file is tried first; its note is told by the opening that
    // counts, once.
    const QString count0 = f.folder() + QStringLiteral("/count0.ser");
    f.doc().OpenVideoFile(count0);
    QCOMPARE(f.messages().size(), std::size_t(1));
    QCOMPARE(f.messages().front().caption, std::string("SER capture"));
    QCOMPARE(
        f.messages().front().text,
        std::string("count0.ser does not say how many frames it holds (its count is 0); it holds 4 whole frames."));
    CLeftView& list = *f.frame().GetFrameList();
    QCOMPARE(list.model()->rowCount(), 4);
    list.GoToRow(2);
    list.GetModel().SetTicked(1, false);

    for (const QString& name : {QStringLiteral("width0.ser"), QStringLiteral("cut-header.ser")}) {
        f.clearMessages();
        f.doc().OpenVideoFile(f.folder() + u'/' + name);
        QCOMPARE(f.messages().size(), std::size_t(1));
        QCOMPARE(f.messages().front().caption, std::string("SER capture"));
        QVERIFY2(f.messages().front().text.find(name.toStdString()) != std::string::npos,
                 f.messages().front().text.c_str());
        QCOMPARE(f.doc().m_videoSource.GetFileName(), count0.toStdString());
        QCOMPARE(f.doc().GetCurrentRow(), 2);
        QVERIFY(!list.GetModel().IsTicked(1));
        QCOMPARE(list.model()->rowCount(), 4);
    }
}

void SerOpenTest::dropsAndRecentFilesOpenSer()
{
    ShellFixture f;
    QVERIFY(MakeSer(f.folder(), {"mono8", "rgb8"}));
    const QString mono = f.folder() + QStringLiteral("/mono8.ser");
    const QString rgb = f.folder() + QStringLiteral("/rgb8.ser");
    f.start();

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(rgb)});
    QWidget* pTarget = f.frame().GetFrameView();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pTarget, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pTarget, &dropped);
    QTRY_COMPARE(f.doc().GetTitle(), rgb);
    QCOMPARE(f.doc().m_videoSource.GetCaptureFormat(), CaptureFormat::Ser);

    f.doc().OpenVideoFile(mono);
    QCOMPARE(f.app().GetRecentFile(1), mono);
    QCOMPARE(f.app().GetRecentFile(2), rgb);
    f.command(ids::ID_FILE_MRU_FIRST + 1);
    QCOMPARE(f.doc().GetTitle(), rgb);
    QCOMPARE(f.frame().GetFrameList()->model()->rowCount(), 3);
    QVERIFY(f.messages().empty());
}

// The export runs on a video source of its own: the byte order chosen in the window reaches it,
// so the file holds what the window shows.
void SerOpenTest::exportsReadInTheByteOrderChosen()
{
    ShellFixture f;
    QVERIFY(MakeSer(f.folder(), {"be12-flag0"}));
    f.start();
    f.doc().OpenVideoFile(f.folder() + QStringLiteral("/be12-flag0.ser"));
    f.command(ids::IDC_DISPLAY_RAW_Y);
    for (const auto& [nOrder, name] :
         {std::pair{ids::ID_BYTE_ORDER_LITTLE, "little"}, std::pair{ids::ID_BYTE_ORDER_AUTO, "auto"}}) {
        f.command(nOrder);
        f.doc().SetCurrentFrame(0);
        const BITMAPINFOHEADER* pShown = f.doc().m_videoSource.GetFrameBitmap();
        QVERIFY(pShown != nullptr && pShown->biBitCount == 8);
        const std::vector<std::uint8_t> shown(kestro::dib::pixels(*pShown),
                                              kestro::dib::pixels(*pShown) + pShown->biSizeImage);
        const std::string path = (f.folder() + QStringLiteral("/%1.bmp").arg(QLatin1String(name))).toStdString();
        f.dialogs().answer(path);
        f.command(ids::ID_FILE_SAVE);
        QVERIFY(f.waitForExport());
        const std::vector<std::uint8_t> file = kestro::test::readFile(
            (f.folder() + QStringLiteral("/%1_0000.bmp").arg(QLatin1String(name))).toStdString());
        const std::size_t at = kestro::dib::kFileHeaderBytes + kestro::dib::kHeaderBytes + kestro::dib::kGreyTableBytes;
        QVERIFY(file.size() == at + shown.size());
        QVERIFY2(std::equal(shown.begin(), shown.end(), file.begin() + static_cast<std::ptrdiff_t>(at)), name);
    }
    QVERIFY(f.messages().empty());
}

QTEST_MAIN(SerOpenTest)
#include "ser_open_test.moc"
