// Choosing the sharpest frames in the window: the Quality column filled by the background
// scoring (one change of the list per batch), Esc stopping it, Check best ticking the sharpest
// frames of those ticked or of all, Undo putting the ticks back, and a capture opened while
// another is being scored getting only its own scores.
#include "shell_fixture.h"

#include "best_frames.h"
#include "best_frames_dlg.h"
#include "frame_list_model.h"
#include "frame_scoring.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "planet_scene.h"
#include "resource_ids.h"
#include "status_bar.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <set>

using kestro::quality::ScoreSource;

namespace {

constexpr int kWidth = 200, kHeight = 160, kFrames = 40;
const std::set<int> kEmpty{7, 23};

// A capture of a planet blurred by a known sigma per frame (0 to 3 px, shuffled), brighter or
// darker by up to 30 % and drifting by up to 20 px, stored as a raw RG mosaic; frames 7 and 23
// stored empty.
struct PlanetCapture {
    QString path;
    std::vector<kestro::scene::Seeing> seeings;
};

PlanetCapture MakePlanetCapture(const ShellFixture& f, const QString& name, int nFrames = kFrames,
                                std::uint64_t seed = 11)
{
    PlanetCapture c;
    c.path = f.folder() + u'/' + name;
    c.seeings = kestro::scene::MakeSeeings(nFrames, 3.0, 0.3, 20.0, seed);
    const bool bWritten = kestro::scene::WriteRawCapture(
        c.path.toStdString(), kWidth, kHeight, nFrames,
        [&](int i) {
            return kestro::scene::RenderMosaic(kWidth, kHeight, 40, kestro::bayer::kRG,
                                               c.seeings[static_cast<std::size_t>(i)], 100 + i);
        },
        kEmpty);
    if (!bWritten)
        qFatal("%s could not be written", qPrintable(c.path));
    return c;
}

CLeftView& List(const ShellFixture& f) { return *f.frame().GetFrameList(); }
CFrameScoring& Scoring(const ShellFixture& f) { return List(f).GetScoring(); }
CFrameListModel& Model(const ShellFixture& f) { return List(f).GetModel(); }

bool WaitForScores(const ShellFixture& f)
{
    return QTest::qWaitFor([&] { return !Scoring(f).IsRunning(); }, 30000);
}

std::vector<std::int32_t> Ticked(const ShellFixture& f) { return Model(f).TickedRows(); }

// The `n` best-scored of `rows`, by the scores the list shows, in frame order.
std::vector<std::int32_t> BestByScore(const ShellFixture& f, std::vector<std::int32_t> rows, std::size_t n)
{
    std::erase_if(rows, [&](std::int32_t r) { return !Model(f).ScoreOf(r); });
    std::stable_sort(rows.begin(), rows.end(),
                     [&](std::int32_t a, std::int32_t b) { return *Model(f).ScoreOf(a) > *Model(f).ScoreOf(b); });
    rows.resize(std::min(n, rows.size()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Frames with data whose sigma lies among the smallest `share` of them.
std::set<std::int32_t> SharpestBySigma(const PlanetCapture& c, double share)
{
    std::vector<std::int32_t> frames;
    for (int i = 0; i < static_cast<int>(c.seeings.size()); ++i) {
        if (!kEmpty.contains(i))
            frames.push_back(i);
    }
    std::stable_sort(frames.begin(), frames.end(), [&](std::int32_t a, std::int32_t b) {
        return c.seeings[static_cast<std::size_t>(a)].sigma < c.seeings[static_cast<std::size_t>(b)].sigma;
    });
    frames.resize(static_cast<std::size_t>(std::ceil(share * static_cast<double>(frames.size()))));
    return {frames.begin(), frames.end()};
}

kestro::shell::BestFramesRequest Best(const char* count, bool bTickedOnly)
{
    kestro::shell::BestFramesRequest answer;
    answer.count = count;
    answer.tickedOnly = bTickedOnly;
    return answer;
}

// Watches for the dialog Check best waits in: whether it showed, its title, the highest progress
// it showed and whether the picture painted while it was up; with a key, presses it at once.
class WaitDialog {
public:
    explicit WaitDialog(int nKey = 0, QWidget* pView = nullptr) : m_nKey(nKey), m_pView(pView) { Later(0); }
    bool bShown = false;
    QString title;
    int nHighest = 0;
    int nPaintsWhileShown = 0;

private:
    void Later(int nMs)
    {
        QTimer::singleShot(nMs, &m_context, [this] { Look(); });
    }
    void Look()
    {
        auto* pDlg = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (pDlg == nullptr) {
            if (!bShown)
                Later(5);
            return;
        }
        bShown = true;
        title = pDlg->windowTitle();
        if (m_nKey != 0) {
            QTest::keyClick(pDlg, static_cast<Qt::Key>(m_nKey));
            return;
        }
        if (m_pView != nullptr && !m_bWatching) {
            m_bWatching = true;
            m_pView->installEventFilter(&m_context);
            m_pView->update();
        }
        nHighest = std::max(nHighest, pDlg->value());
        Later(5);
    }
    // Paints of the view while the dialog is up.
    class Context : public QObject {
    public:
        explicit Context(WaitDialog& owner) : m_owner(owner) {}

    protected:
        bool eventFilter(QObject*, QEvent* pEvent) override
        {
            if (pEvent->type() == QEvent::Paint && qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
                ++m_owner.nPaintsWhileShown;
            return false;
        }

    private:
        WaitDialog& m_owner;
    };

    int m_nKey;
    QWidget* m_pView;
    bool m_bWatching = false;
    Context m_context{*this}; // last, so its timers and its watch go first
};

} // namespace

class BestFramesTest : public QObject {
    Q_OBJECT
private slots:
    void qualityColumnFillsOneChangePerBatch();
    void checkBestOfTickedOrAllAndUndo();
    void checkBestRefusesWhatItCannotDo();
    void escStopsScoringAndCheckBestResumesIt();
    void checkBestWaitsForTheScores();
    void anotherCaptureGetsOnlyItsOwnScores();
    void dialogSaysWhyACountIsNot();
};

void BestFramesTest::qualityColumnFillsOneChangePerBatch()
{
    ShellFixture f;
    const PlanetCapture c = MakePlanetCapture(f, QStringLiteral("planet.avi"));
    f.start();
    f.button(ids::IDC_DISPLAY_RAW_Y).click();
    Scoring(f).SetBatchFrames(5);
    QSignalSpy changes(&Model(f), &QAbstractItemModel::dataChanged);
    f.doc().OpenVideoFile(c.path);
    QCOMPARE(Scoring(f).GetSource(), ScoreSource::SensorPlane);
    QVERIFY(Scoring(f).IsRunning());
    QVERIFY(f.frame().GetStatusBar().GetScoringText().startsWith(QStringLiteral("Scoring frames\u2026")));
    QVERIFY(WaitForScores(f));

    // A number for every frame with data, nothing for the two stored empty; sharper (smaller
    // sigma) scores higher.
    const QAbstractItemModel& model = *List(f).model();
    std::vector<double> scores, sharpness;
    for (int i = 0; i < kFrames; ++i) {
        const QVariant v = model.index(i, CFrameListModel::kQualityColumn).data();
        if (kEmpty.contains(i)) {
            QVERIFY2(!v.isValid(), qPrintable(QString::number(i)));
            continue;
        }
        QVERIFY2(v.isValid(), qPrintable(QString::number(i)));
        scores.push_back(v.toDouble());
        sharpness.push_back(-c.seeings[static_cast<std::size_t>(i)].sigma);
        QCOMPARE(model.index(i, CFrameListModel::kQualityColumn).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("Quality ") + CFrameListModel::ScoreText(v.toDouble()));
    }
    QVERIFY2(kestro::scene::Spearman(scores, sharpness) >= 0.95,
             qPrintable(QString::number(kestro::scene::Spearman(scores, sharpness))));
    QCOMPARE(f.frame().GetStatusBar().GetScoringText(), QStringLiteral("38 frames scored"));

    // One change of the list per batch of 5, never one per frame; the ticks are not touched.
    int nQualityChanges = 0;
    for (const QList<QVariant>& change : changes) {
        const auto topLeft = change[0].value<QModelIndex>();
        const auto bottomRight = change[1].value<QModelIndex>();
        QCOMPARE(topLeft.column(), int(CFrameListModel::kQualityColumn));
        QCOMPARE(bottomRight.column(), int(CFrameListModel::kQualityColumn));
        ++nQualityChanges;
    }
    QCOMPARE(std::size_t(nQualityChanges), Scoring(f).GetBatchesShown());
    QVERIFY(nQualityChanges >= 8); // 38 frames in batches of at most 5
    QVERIFY(nQualityChanges < 38 / 2);

    // The bars are drawn: the sharpest frame's row has more bar colour than the blurriest's.
    const auto barPixels = [&](int nRow) {
        const QModelIndex index = model.index(nRow, CFrameListModel::kQualityColumn);
        List(f).scrollTo(index);
        const QImage image = ShellFixture::grab(*List(f).viewport()).copy(List(f).visualRect(index));
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixel(x, y) == qRgb(0x3d, 0x6f, 0xb8) ? 1 : 0;
        return n;
    };
    const int nSharpest = *BestByScore(f, Ticked(f), 1).begin();
    const auto worst = std::min_element(scores.begin(), scores.end()) - scores.begin();
    int nBlurriest = 0;
    for (int i = 0, k = 0; i < kFrames; ++i) {
        if (!kEmpty.contains(i) && k++ == worst)
            nBlurriest = i;
    }
    QVERIFY(barPixels(nSharpest) > 3 * barPixels(nBlurriest));
    QVERIFY(barPixels(nBlurriest) > 0);

    // Normal reads the decoded picture: the column is scored again from it.
    f.button(ids::IDC_DISPLAY_NORMAL).click();
    QCOMPARE(Scoring(f).GetSource(), ScoreSource::Decoded);
    QVERIFY(WaitForScores(f));
    QCOMPARE(Model(f).Scores().size(), std::size_t{38});
    // Between the two RAW modes the sensor plane stays what is scored: nothing starts again.
    f.button(ids::IDC_DISPLAY_RAW_Y).click();
    QVERIFY(WaitForScores(f));
    const std::size_t nBatches = Scoring(f).GetBatchesShown();
    f.button(ids::IDC_DISPLAY_RAW_COLOUR).click();
    QCOMPARE(Scoring(f).GetState(), CFrameScoring::State::Finished);
    QCOMPARE(Scoring(f).GetBatchesShown(), nBatches);
    QVERIFY(f.messages().empty());
}

void BestFramesTest::checkBestOfTickedOrAllAndUndo()
{
    ShellFixture f;
    const PlanetCapture c = MakePlanetCapture(f, QStringLiteral("planet.avi"));
    f.start();
    f.button(ids::IDC_DISPLAY_RAW_Y).click();
    f.doc().OpenVideoFile(c.path);
    QVERIFY(WaitForScores(f));
    QAction* pUndoItem = f.frame().GetCommandActions(ids::ID_EDIT_UNDO).front();
    QVERIFY(!pUndoItem->isEnabled());
    QVERIFY(f.frame().GetCommandActions(ids::ID_CHECK_BEST).front()->isEnabled());
    const std::vector<std::int32_t> opened = Ticked(f);
    QCOMPARE(opened.size(), std::size_t{38});

    // The user clears rows 0 to 19 with the pop-up's command: the first step Undo can take back.
    CLeftView& list = List(f);
    list.selectionModel()->select(QItemSelection(list.model()->index(0, 0), list.model()->index(19, 0)),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    f.command(ids::ID_UNCHECK_SELECTED);
    const std::vector<std::int32_t> afterUncheck = Ticked(f);
    QCOMPARE(afterUncheck.size(), std::size_t{19}); // 20..39 without 23
    QVERIFY(pUndoItem->isEnabled());

    // Best 10 % of those ticked now: 2 of 19, the two best scored among them.
    f.dialogs().answerBest(Best("10%", true));
    QSignalSpy changes(&Model(f), &QAbstractItemModel::dataChanged);
    f.command(ids::ID_CHECK_BEST);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(f.dialogs().bestRequests().back().ticked, 19);
    QCOMPARE(f.dialogs().bestRequests().back().scored, 38);
    QCOMPARE(f.dialogs().bestRequests().back().count, std::string("10%"));
    const std::vector<std::int32_t> bestOfTicked = Ticked(f);
    QCOMPARE(bestOfTicked, BestByScore(f, afterUncheck, 2));

    // Best 10 % of all: 4 of 38, the best scored of the capture, all among the truly sharpest.
    f.dialogs().answerBest(Best("10 %", false));
    f.command(ids::ID_CHECK_BEST);
    const std::vector<std::int32_t> bestOfAll = Ticked(f);
    QCOMPARE(bestOfAll, BestByScore(f, opened, 4));
    const std::set<std::int32_t> sharpest = SharpestBySigma(c, 0.2);
    for (const std::int32_t frame : bestOfAll)
        QVERIFY2(sharpest.contains(frame), qPrintable(QString::number(frame)));
    // The dialog proposes what was confirmed last, as kestro-convert --best reads it.
    f.dialogs().answerBest(std::nullopt);
    f.command(ids::ID_CHECK_BEST);
    QCOMPARE(f.dialogs().bestRequests().back().count, std::string("10%"));
    QCOMPARE(f.dialogs().bestRequests().back().tickedOnly, false);
    QCOMPARE(Ticked(f), bestOfAll);

    // Ctrl+Z, in either pane, steps back through the three changes; then nothing is left.
    QTest::keyClick(&list, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Ticked(f), bestOfTicked);
    QTest::keyClick(f.frame().GetFrameView(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Ticked(f), afterUncheck);
    pUndoItem->trigger();
    QCOMPARE(Ticked(f), opened);
    QVERIFY(!pUndoItem->isEnabled());
    QTest::keyClick(&list, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Ticked(f), opened);

    // A box the user clears in the list (the view hands it to the model so) is a step too;
    // opening a capture forgets every step.
    QVERIFY(list.model()->setData(list.model()->index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(!Model(f).IsTicked(0));
    QVERIFY(pUndoItem->isEnabled());
    f.doc().OpenVideoFile(c.path);
    QVERIFY(!pUndoItem->isEnabled());
    QVERIFY(WaitForScores(f));
    QVERIFY(f.messages().empty());
}

void BestFramesTest::checkBestRefusesWhatItCannotDo()
{
    ShellFixture f;
    const PlanetCapture c = MakePlanetCapture(f, QStringLiteral("planet.avi"));
    f.start();
    QVERIFY(!f.frame().GetCommandActions(ids::ID_CHECK_BEST).front()->isEnabled());
    f.doc().OpenVideoFile(c.path);
    QVERIFY(WaitForScores(f));
    const std::vector<std::int32_t> opened = Ticked(f);

    struct Case {
        const char* name;
        kestro::shell::BestFramesRequest answer;
        const char* said; // nullptr: no message, the ticks change
        std::size_t nKept;
    };
    const Case cases[] = {
        {"not a count", Best("sharp", false), "\"sharp\" says neither", 0},
        {"zero percent", Best("0%", false), "says neither", 0},
        {"more than there are", Best("500", false), nullptr, 38},
    };
    for (const Case& k : cases) {
        f.clearMessages();
        f.dialogs().answerBest(k.answer);
        f.command(ids::ID_CHECK_BEST);
        if (k.said != nullptr) {
            QCOMPARE(f.messages().size(), std::size_t{1});
            QVERIFY2(QString::fromStdString(f.messages()[0].text).contains(QString::fromLatin1(k.said)), k.name);
            QCOMPARE(f.messages()[0].caption, std::string("Check best"));
            QCOMPARE(Ticked(f), opened);
        } else {
            QVERIFY2(f.messages().empty(), k.name);
            QCOMPARE(Ticked(f).size(), k.nKept);
        }
    }

    // Nothing ticked to choose from: said, and nothing changes.
    Model(f).SetTicked(0, kFrames - 1, false);
    f.clearMessages();
    f.dialogs().answerBest(Best("10%", true));
    f.command(ids::ID_CHECK_BEST);
    QCOMPARE(f.messages().size(), std::size_t{1});
    QVERIFY(QString::fromStdString(f.messages()[0].text).contains(QStringLiteral("No frame with a score is ticked")));
    QVERIFY(Ticked(f).empty());
}

void BestFramesTest::escStopsScoringAndCheckBestResumesIt()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("long.avi"), {"--frames", "400", "--dropped", "none"});
    f.start();
    f.button(ids::IDC_DISPLAY_RAW_Y).click();
    f.doc().OpenVideoFile(capture);
    CLeftView& list = List(f);
    list.setFocus();
    QVERIFY(Scoring(f).IsRunning());
    QTest::keyClick(&list, Qt::Key_Escape);
    QVERIFY(WaitForScores(f));
    QCOMPARE(Scoring(f).GetState(), CFrameScoring::State::Stopped);
    const QString said = f.frame().GetStatusBar().GetScoringText();
    QVERIFY2(said.startsWith(QStringLiteral("Scoring stopped: ")) && said.endsWith(QStringLiteral(" frames scored")),
             qPrintable(said));
    const std::size_t nScored = Model(f).Scores().size();
    QVERIFY(nScored < 400);
    QCOMPARE(said, QStringLiteral("Scoring stopped: %1 of 400 frames scored").arg(Scoring(f).GetDone()));

    // With nothing running, Esc is the list's again (and the picture stays where it was).
    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Escape);
    QCOMPARE(f.doc().GetCurrentRow(), 1);
    QCOMPARE(Scoring(f).GetState(), CFrameScoring::State::Stopped);

    // Check best carries the scoring on from where it stopped, waits for it, and then asks.
    f.clearMessages();
    WaitDialog wait;
    f.dialogs().answerBest(Best("10%", false));
    f.command(ids::ID_CHECK_BEST);
    QVERIFY(wait.bShown);
    QCOMPARE(wait.title, QStringLiteral("Check best"));
    QVERIFY(f.messages().empty());
    QCOMPARE(Scoring(f).GetState(), CFrameScoring::State::Finished);
    QCOMPARE(Model(f).Scores().size(), std::size_t{400});
    QCOMPARE(f.dialogs().bestRequests().size(), std::size_t{1});
    QCOMPARE(f.dialogs().bestRequests().front().scored, 400);
    QCOMPARE(Ticked(f).size(), std::size_t{40});
    QCOMPARE(f.frame().GetStatusBar().GetScoringText(), QStringLiteral("400 frames scored"));
}

// While the frames are still being scored, Check best shows how far the scoring has got and
// waits, the window painting meanwhile; Esc gives up the wait (not the scoring), and otherwise
// the choice is asked for and applied once the last frame has its score.
void BestFramesTest::checkBestWaitsForTheScores()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("long.avi"), {"--frames", "400", "--dropped", "none"});
    f.start();
    f.button(ids::IDC_DISPLAY_RAW_Y).click();

    // Given up: nothing is asked or changed, and the scoring goes on.
    f.doc().OpenVideoFile(capture);
    QVERIFY(Scoring(f).IsRunning());
    const std::vector<std::int32_t> opened = Ticked(f);
    {
        WaitDialog wait(Qt::Key_Escape);
        f.dialogs().answerBest(Best("10%", false));
        f.command(ids::ID_CHECK_BEST);
        QVERIFY(wait.bShown);
    }
    QVERIFY(f.dialogs().bestRequests().empty());
    QCOMPARE(Ticked(f), opened);
    QVERIFY(Scoring(f).IsRunning());
    QVERIFY(f.messages().empty());

    // Waited for, from the start of a run: the progress follows the scoring, the picture
    // repaints, and the choice is applied to the finished scores.
    f.doc().OpenVideoFile(capture);
    QVERIFY(Scoring(f).IsRunning());
    WaitDialog wait(0, f.frame().GetFrameView());
    f.command(ids::ID_CHECK_BEST);
    QVERIFY(wait.bShown);
    QVERIFY(wait.nPaintsWhileShown > 0);
    QVERIFY(wait.nHighest > 0);
    QCOMPARE(Scoring(f).GetState(), CFrameScoring::State::Finished);
    QCOMPARE(f.dialogs().bestRequests().size(), std::size_t{1});
    QCOMPARE(f.dialogs().bestRequests().front().scored, 400);
    QCOMPARE(Ticked(f), BestByScore(f, opened, 40));
    QVERIFY(f.messages().empty());
}

void BestFramesTest::anotherCaptureGetsOnlyItsOwnScores()
{
    ShellFixture f;
    const QString first = f.sample(QStringLiteral("long.avi"), {"--frames", "400", "--dropped", "none"});
    const PlanetCapture second = MakePlanetCapture(f, QStringLiteral("planet.avi"), 12, 3);
    f.start();
    f.button(ids::IDC_DISPLAY_RAW_Y).click();

    // The long capture's batches are under way when the other one opens; what they still carry
    // is dropped, and the second capture's rows hold its own scores, as a run of their own finds.
    f.doc().OpenVideoFile(first);
    QTest::qWait(20);
    f.doc().OpenVideoFile(second.path);
    QVERIFY(WaitForScores(f));
    QTest::qWait(50);
    kestro::quality::ScoreRequest request;
    request.path = second.path.toStdString();
    const kestro::quality::ScoreOutcome alone = kestro::quality::ScoreFrames(request);
    QCOMPARE(alone.scores.size(), std::size_t{11}); // frame 7 is stored empty
    const std::vector<kestro::quality::FrameScore> shown = Model(f).Scores();
    QCOMPARE(shown.size(), alone.scores.size());
    for (std::size_t k = 0; k < shown.size(); ++k) {
        QCOMPARE(shown[k].frame, alone.scores[k].frame);
        QCOMPARE(shown[k].score, alone.scores[k].score);
    }
    QCOMPARE(f.frame().GetStatusBar().GetScoringText(), QStringLiteral("11 frames scored"));

    // Closing the window while a capture is being scored stops the threads before anything goes.
    f.doc().OpenVideoFile(first);
    QVERIFY(Scoring(f).IsRunning());
    f.restart();
    QVERIFY(f.messages().empty());
}

void BestFramesTest::dialogSaysWhyACountIsNot()
{
    ShellFixture f;
    f.start();
    kestro::shell::BestFramesRequest request = Best("10%", true);
    request.ticked = 120;
    request.scored = 300;
    CBestFramesDlg dlg(request, &f.frame());
    QPushButton* pOk = dlg.GetButtons().button(QDialogButtonBox::Ok);
    QVERIFY(pOk->isEnabled());
    QVERIFY(dlg.GetTickedChoice().isChecked());
    QVERIFY(dlg.GetTickedChoice().text().contains(QStringLiteral("(120)")));
    QVERIFY(dlg.GetAllChoice().text().contains(QStringLiteral("(300)")));

    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.GetCountEdit().setText(QStringLiteral("many"));
    QVERIFY(!pOk->isEnabled());
    std::string error;
    QVERIFY(!kestro::quality::BestCount::Parse("many", &error));
    QLabel& label = dlg.GetErrorLabel();
    QCOMPARE(label.text(), QString::fromStdString(error));
    QVERIFY(!label.text().isEmpty());
    // Shown whole: as tall as its wrapped lines need, and inside the dialog.
    QTRY_VERIFY2(label.height() >= label.heightForWidth(label.width()),
                 qPrintable(QStringLiteral("%1 < %2").arg(label.height()).arg(label.heightForWidth(label.width()))));
    QVERIFY(dlg.rect().contains(QRect(label.mapTo(&dlg, QPoint()), label.size())));

    dlg.GetCountEdit().setText(QStringLiteral(" 500 "));
    dlg.GetAllChoice().setChecked(true);
    QVERIFY(pOk->isEnabled());
    QVERIFY(dlg.GetErrorLabel().text().isEmpty());
    QCOMPARE(dlg.GetAnswer().count, std::string("500"));
    QCOMPARE(dlg.GetAnswer().tickedOnly, false);
}

QTEST_MAIN(BestFramesTest)
#include "best_frames_test.moc"
