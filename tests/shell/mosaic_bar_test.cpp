// The Bayer-order bar above the picture: which advice a detector's answer gives, in which words,
// against the file's word and the display settings (a table of hand-made answers); the bar in the
// window with a detector that answers as told (what it shows, what its buttons set, that it is
// quiet for a capture the user silenced, in later runs too, and that an answer about a capture no
// longer on show is dropped); Swap red and blue from each pattern; and the real detector on
// generated GRBG captures whose headers say MONO, another diagonal, or red and blue swapped.
#include "shell_fixture.h"

#include "bayer_pattern.h"
#include "display_bar.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "left_view.h"
#include "main_frame.h"
#include "mosaic_advice.h"
#include "mosaic_bar.h"
#include "mosaic_detection.h"
#include "resource_ids.h"
#include "test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>

#include <atomic>
#include <map>
#include <mutex>

using kestro::bayer::Pattern;
using kestro::shell::DisplayMode;
using kestro::shell::MosaicAdviceInput;
using kestro::shell::MosaicCase;
using kestro::video::Certainty;
using kestro::video::MosaicGuess;

namespace {

namespace bayer = kestro::bayer;

const Pattern& RGGB = bayer::kGB;
const Pattern& GRBG = bayer::kBG;
const Pattern& GBRG = bayer::kGR;
const Pattern& BGGR = bayer::kRG;

MosaicGuess Guess(const Pattern& p, Certainty diagonal = Certainty::Sure, Certainty redBlue = Certainty::Likely)
{
    MosaicGuess g;
    g.mosaic = true;
    g.pattern = &p;
    g.diagonal = diagonal;
    g.redBlue = redBlue;
    return g;
}

// A detector that answers by the capture's file name, as a test sets it.
struct FakeDetector {
    std::mutex mutex;
    std::map<std::string, MosaicGuess> answers;
    int nCalls = 0;
    // Holds every call until the window stops it.
    std::atomic<bool> bHold{false};
    std::atomic<bool> bStopSeen{false};

    CMosaicDetection::Detector Function()
    {
        return [this](const std::string& path, std::optional<kestro::ser::ByteOrder>, const std::atomic<bool>* stop) {
            {
                std::lock_guard lock(mutex);
                ++nCalls;
            }
            while (bHold && !stop->load())
                std::this_thread::yield();
            if (stop->load())
                bStopSeen = true;
            std::lock_guard lock(mutex);
            const std::string name = path.substr(path.find_last_of('/') + 1);
            const auto it = answers.find(name);
            return it == answers.end() ? MosaicGuess{} : it->second;
        };
    }
    int Calls()
    {
        std::lock_guard lock(mutex);
        return nCalls;
    }
};

CMosaicBar& Bar(const ShellFixture& f) { return *f.frame().GetMosaicBar(); }

bool BarShown(const ShellFixture& f) { return Bar(f).isVisible(); }

// Lets the answer in flight arrive: the detection is over and its result handled.
bool DetectionOver(const ShellFixture& f)
{
    return QTest::qWaitFor([&] { return !Bar(f).GetDetection().IsRunning(); }, 60000);
}

QString Capture(ShellFixture& f, const QString& name)
{
    return f.sample(name, {"--width", "32", "--height", "16", "--frames", "2"});
}

int PushedPattern(const ShellFixture& f)
{
    for (int nId : {ids::IDC_PATTERN_BG, ids::IDC_PATTERN_GB, ids::IDC_PATTERN_GR, ids::IDC_PATTERN_RG})
        if (f.button(nId).isChecked())
            return nId;
    return 0;
}

} // namespace

class MosaicBarTest : public QObject {
    Q_OBJECT
private slots:
    void adviceForEachCase();
    void showInRawColourSetsModeAndPattern();
    void patternContradictedInRawColourIsToldOnce();
    void dontAskHoldsForTheCaptureInLaterRuns();
    void answersAboutAnotherCaptureAreDropped();
    void swapRedBlueFromEachPattern();
    void realDetectorOnHeadersTheDataDisagreeWith();
};

void MosaicBarTest::adviceForEachCase()
{
    struct Row {
        const char* name;
        MosaicGuess guess;
        const Pattern* header;
        const char* colorId;
        DisplayMode mode;
        const Pattern* inForce;
        bool bOpeningJudged;
        bool bPatternTold;
        MosaicCase which;
        const char* text;
        const Pattern* offer;
    };
    const Row rows[] = {
        {"AVI in Normal", Guess(RGGB), nullptr, "", DisplayMode::Normal, &GRBG, false, false, MosaicCase::ShowRaw,
         "This capture holds raw colour sensor data, Bayer RGGB (likely).", &RGGB},
        {"red and blue unsure", Guess(RGGB, Certainty::Sure, Certainty::Unsure), nullptr, "", DisplayMode::Normal,
         &GRBG, false, false, MosaicCase::ShowRaw,
         "This capture holds raw colour sensor data, Bayer RGGB or BGGR (red and blue unclear).", &RGGB},
        {"diagonal only likely", Guess(GBRG, Certainty::Likely), nullptr, "", DisplayMode::Normal, &GRBG, false, false,
         MosaicCase::ShowRaw, "This capture holds raw colour sensor data, Bayer GBRG (likely).", &GBRG},
        {"header agrees", Guess(RGGB), &RGGB, "RGGB", DisplayMode::Normal, &RGGB, false, false, MosaicCase::ShowRaw,
         "This capture holds raw colour sensor data, Bayer RGGB (as the file states).", &RGGB},
        // The data cannot tell red from blue for sure; the file can.
        {"header settles red and blue", Guess(RGGB, Certainty::Sure, Certainty::Unsure), &BGGR, "BGGR",
         DisplayMode::Normal, &BGGR, false, false, MosaicCase::ShowRaw,
         "This capture holds raw colour sensor data, Bayer BGGR (as the file states).", &BGGR},
        {"header contradicted", Guess(GRBG), &RGGB, "RGGB", DisplayMode::Normal, &RGGB, false, false,
         MosaicCase::HeaderContradicted, "The file says its Bayer order is RGGB, but its data show GRBG.", &GRBG},
        {"header contradicted in RAW colour", Guess(GRBG), &RGGB, "RGGB", DisplayMode::RawColour, &RGGB, false, false,
         MosaicCase::HeaderContradicted, "The file says its Bayer order is RGGB, but its data show GRBG.", &GRBG},
        {"header contradicted, red and blue unsure", Guess(GBRG, Certainty::Sure, Certainty::Unsure), &BGGR, "BGGR",
         DisplayMode::Normal, &BGGR, false, false, MosaicCase::HeaderContradicted,
         "The file says its Bayer order is BGGR, but its data show GBRG or GRBG (red and blue unclear).", &GBRG},
        // Only a contradiction the data prove counts against the file's word.
        {"header doubted, not contradicted", Guess(GRBG, Certainty::Likely), &RGGB, "RGGB", DisplayMode::Normal, &RGGB,
         false, false, MosaicCase::ShowRaw,
         "This capture holds raw colour sensor data, Bayer RGGB (as the file states).", &RGGB},
        {"MONO header", Guess(GRBG), nullptr, "MONO", DisplayMode::Normal, &RGGB, false, false, MosaicCase::MonoHeader,
         "The file says it holds monochrome data, but its data look like a raw Bayer mosaic, GRBG (likely).", &GRBG},
        {"MONO header in RAW Y", Guess(GRBG), nullptr, "MONO", DisplayMode::RawY, &GRBG, false, false,
         MosaicCase::MonoHeader,
         "The file says it holds monochrome data, but its data look like a raw Bayer mosaic, GRBG (likely).", &GRBG},
        {"MONO header, already shown right", Guess(GRBG), nullptr, "MONO", DisplayMode::RawColour, &GRBG, false, false,
         MosaicCase::None, "", nullptr},
        {"pattern contradicted", Guess(GRBG), nullptr, "", DisplayMode::RawColour, &RGGB, false, false,
         MosaicCase::PatternContradicted, "The data show Bayer GRBG: the green sites are not where RGGB puts them.",
         &GRBG},
        {"pattern contradicted later", Guess(GRBG), nullptr, "", DisplayMode::RawColour, &BGGR, true, false,
         MosaicCase::PatternContradicted, "The data show Bayer GRBG: the green sites are not where BGGR puts them.",
         &GRBG},
        {"pattern contradicted, told before", Guess(GRBG), nullptr, "", DisplayMode::RawColour, &RGGB, true, true,
         MosaicCase::None, "", nullptr},
        // The user pressed another pattern over a header the data agree with: the file's order.
        {"pattern contradicted, header right", Guess(RGGB), &RGGB, "RGGB", DisplayMode::RawColour, &GBRG, false, false,
         MosaicCase::PatternContradicted, "The data show Bayer RGGB: the green sites are not where GBRG puts them.",
         &RGGB},
        // Red and blue the other way round is a doubt, never a contradiction.
        {"red and blue swapped in RAW colour", Guess(RGGB), nullptr, "", DisplayMode::RawColour, &BGGR, false, false,
         MosaicCase::None, "", nullptr},
        {"RAW colour, right pattern", Guess(RGGB), nullptr, "", DisplayMode::RawColour, &RGGB, false, false,
         MosaicCase::None, "", nullptr},
        {"RAW Y", Guess(RGGB), nullptr, "", DisplayMode::RawY, &GRBG, false, false, MosaicCase::None, "", nullptr},
        {"opening judged", Guess(RGGB), nullptr, "", DisplayMode::Normal, &GRBG, true, false, MosaicCase::None, "",
         nullptr},
        {"no mosaic", MosaicGuess{}, nullptr, "", DisplayMode::Normal, &GRBG, false, false, MosaicCase::None, "",
         nullptr},
        {"mosaic without an order",
         [] {
             MosaicGuess g;
             g.mosaic = true;
             return g;
         }(),
         &RGGB, "RGGB", DisplayMode::Normal, &RGGB, false, false, MosaicCase::None, "", nullptr},
    };
    for (const Row& r : rows) {
        MosaicAdviceInput in;
        in.guess = r.guess;
        in.header = r.header;
        in.colorId = r.colorId;
        in.mode = r.mode;
        in.inForce = r.inForce;
        in.bOpeningJudged = r.bOpeningJudged;
        in.bPatternTold = r.bPatternTold;
        const kestro::shell::MosaicAdvice advice = kestro::shell::ChooseMosaicAdvice(in);
        QVERIFY2(advice.which == r.which, r.name);
        QVERIFY2(advice.text == r.text, (std::string(r.name) + ": " + advice.text).c_str());
        QVERIFY2(advice.offer == r.offer, r.name);
        if (advice.offer != nullptr) {
            const bool bShow = r.which == MosaicCase::ShowRaw || r.which == MosaicCase::MonoHeader;
            QVERIFY2(advice.bSwitchToRawColour == bShow, r.name);
            QVERIFY2(advice.buttonText ==
                         (bShow ? std::string("Show in RAW colour") : "Use " + std::string(r.offer->sensorName)),
                     r.name);
            // The tooltip names the button the user would press for the same order.
            QVERIFY2(advice.buttonToolTip.find(std::string("the ") + r.offer->button + " button") != std::string::npos,
                     advice.buttonToolTip.c_str());
        }
    }
}

void MosaicBarTest::showInRawColourSetsModeAndPattern()
{
    // Declared first: it outlives the window, whose detection threads call it.
    FakeDetector fake;
    ShellFixture f;
    fake.answers["raw.avi"] = Guess(RGGB);
    CMosaicDetection::SetDefaultDetector(fake.Function());
    f.start();
    const QString path = Capture(f, QStringLiteral("raw.avi"));
    QVERIFY(f.button(ids::IDC_PATTERN_BG).isChecked());
    CLeftView& list = *f.frame().GetFrameList();
    list.setFocus();
    f.doc().OpenVideoFile(path);
    QVERIFY(DetectionOver(f));
    QVERIFY(BarShown(f));
    QCOMPARE(Bar(f).GetText(), QStringLiteral("This capture holds raw colour sensor data, Bayer RGGB (likely)."));
    QCOMPARE(Bar(f).GetActionButton().text(), QStringLiteral("Show in RAW colour"));
    // Advice only: the capture is still shown as it opened.
    QVERIFY(f.button(ids::IDC_DISPLAY_NORMAL).isChecked());
    QVERIFY(!f.doc().m_videoSource.m_bRaw);
    QCOMPARE(PushedPattern(f), ids::IDC_PATTERN_BG);

    QTest::mouseClick(&Bar(f).GetActionButton(), Qt::LeftButton);
    QVERIFY(!BarShown(f));
    QVERIFY(f.doc().m_videoSource.m_bRaw && f.doc().m_videoSource.m_bRawColour);
    QVERIFY(f.button(ids::IDC_DISPLAY_RAW_COLOUR).isChecked());
    QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(), RGGB.code);
    QCOMPARE(PushedPattern(f), ids::IDC_PATTERN_GB);
    // The keyboard stays with the list: Space and the arrows go on working there.
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&list));
    QVERIFY(f.messages().empty());
}

void MosaicBarTest::patternContradictedInRawColourIsToldOnce()
{
    // Declared first: it outlives the window, whose detection threads call it.
    FakeDetector fake;
    ShellFixture f;
    fake.answers["raw.avi"] = Guess(GRBG);
    CMosaicDetection::SetDefaultDetector(fake.Function());
    f.start();
    f.doc().OpenVideoFile(Capture(f, QStringLiteral("raw.avi")));
    QVERIFY(DetectionOver(f));
    QVERIFY(BarShown(f));
    QCOMPARE(Bar(f).GetAdvice().which, MosaicCase::ShowRaw);
    // Choosing RAW colour by hand with GRBG in force leaves nothing to advise.
    f.button(ids::IDC_DISPLAY_RAW_COLOUR).click();
    QVERIFY(!BarShown(f));
    // A pattern the data contradict: told when it is chosen, fixed by one click, mode kept.
    f.button(ids::IDC_PATTERN_GB).click();
    QVERIFY(BarShown(f));
    QCOMPARE(Bar(f).GetText(),
             QStringLiteral("The data show Bayer GRBG: the green sites are not where RGGB puts them."));
    // Another wrong pattern updates the words of the same note.
    f.button(ids::IDC_PATTERN_RG).click();
    QCOMPARE(Bar(f).GetText(),
             QStringLiteral("The data show Bayer GRBG: the green sites are not where BGGR puts them."));
    QCOMPARE(Bar(f).GetActionButton().text(), QStringLiteral("Use GRBG"));
    Bar(f).GetActionButton().click();
    QVERIFY(!BarShown(f));
    QCOMPARE(PushedPattern(f), ids::IDC_PATTERN_BG);
    QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(), GRBG.code);
    QVERIFY(f.button(ids::IDC_DISPLAY_RAW_COLOUR).isChecked());
    // Once per capture: the user has heard it.
    f.button(ids::IDC_PATTERN_GB).click();
    QVERIFY(!BarShown(f));

    // Opened again, the capture is judged afresh; the close button hides the note for this
    // opening only.
    f.doc().OpenVideoFile(f.doc().m_videoSource.GetFileName().c_str());
    QVERIFY(DetectionOver(f));
    QCOMPARE(Bar(f).GetAdvice().which, MosaicCase::PatternContradicted);
    Bar(f).GetCloseButton().click();
    QVERIFY(!BarShown(f));
    f.button(ids::IDC_PATTERN_RG).click();
    QVERIFY(!BarShown(f));
    QVERIFY(f.messages().empty());
}

void MosaicBarTest::dontAskHoldsForTheCaptureInLaterRuns()
{
    // Declared first: it outlives the window, whose detection threads call it.
    FakeDetector fake;
    ShellFixture f;
    fake.answers["quiet.avi"] = Guess(RGGB);
    fake.answers["other.avi"] = Guess(RGGB);
    CMosaicDetection::SetDefaultDetector(fake.Function());
    f.start();
    const QString quiet = Capture(f, QStringLiteral("quiet.avi"));
    const QString other = Capture(f, QStringLiteral("other.avi"));
    // Silenced before, newest first: a full list gives up its oldest entry.
    QStringList earlier;
    for (int i = 0; i < CMosaicBar::kQuietCaptures; ++i)
        earlier << QStringLiteral("/night/capture-%1.ser").arg(i);
    QSettings().setValue(QStringLiteral("Bayer Order Advice/Quiet Captures"), earlier);
    f.doc().OpenVideoFile(quiet);
    QVERIFY(DetectionOver(f));
    QVERIFY(BarShown(f));
    Bar(f).GetQuietButton().click();
    QVERIFY(!BarShown(f));
    const QStringList stored = QSettings().value(QStringLiteral("Bayer Order Advice/Quiet Captures")).toStringList();
    QCOMPARE(stored.size(), CMosaicBar::kQuietCaptures);
    QCOMPARE(stored.front(), quiet);
    QCOMPARE(stored.back(), earlier[CMosaicBar::kQuietCaptures - 2]);
    // Nothing more for this opening either.
    f.button(ids::IDC_DISPLAY_RAW_COLOUR).click();
    f.button(ids::IDC_PATTERN_BG).click();
    QVERIFY(!BarShown(f));

    for (int nRun = 0; nRun < 2; ++nRun) {
        const int nCalls = fake.Calls();
        f.doc().OpenVideoFile(quiet);
        QVERIFY(DetectionOver(f));
        QVERIFY2(!BarShown(f), nRun == 0 ? "opened again" : "in the next run");
        QCOMPARE(fake.Calls(), nCalls);
        // Others are still advised.
        f.doc().OpenVideoFile(other);
        QVERIFY(DetectionOver(f));
        QVERIFY(BarShown(f));
        f.restart();
    }
}

void MosaicBarTest::answersAboutAnotherCaptureAreDropped()
{
    // Declared first: it outlives the window, whose detection threads call it.
    FakeDetector fake;
    ShellFixture f;
    fake.answers["first.avi"] = Guess(RGGB);
    fake.answers["second.avi"] = Guess(GRBG);
    CMosaicDetection::SetDefaultDetector(fake.Function());
    f.start();
    const QString first = Capture(f, QStringLiteral("first.avi"));
    const QString second = Capture(f, QStringLiteral("second.avi"));

    // A detection still at work is stopped when another capture opens, and its answer never
    // shows; the one that counts is the second capture's.
    fake.bHold = true;
    f.doc().OpenVideoFile(first);
    QVERIFY(QTest::qWaitFor([&] { return fake.Calls() == 1; }, 60000));
    f.doc().OpenVideoFile(second);
    QVERIFY(fake.bStopSeen);
    fake.bHold = false;
    QVERIFY(DetectionOver(f));
    QCOMPARE(Bar(f).GetText(), QStringLiteral("This capture holds raw colour sensor data, Bayer GRBG (likely)."));

    // An answer finished but not yet delivered when the next capture opens is dropped too.
    f.doc().OpenVideoFile(first);
    f.doc().OpenVideoFile(second);
    QVERIFY(DetectionOver(f));
    QCOMPARE(Bar(f).GetText(), QStringLiteral("This capture holds raw colour sensor data, Bayer GRBG (likely)."));

    // A capture that fails to open leaves the capture on show, and its note, as they were.
    f.doc().OpenVideoFile(f.missing(QStringLiteral("gone.avi")));
    QVERIFY(BarShown(f));
    f.clearMessages();

    // Closing the window does not wait for a detection that holds on.
    fake.bHold = true;
    fake.bStopSeen = false;
    f.doc().OpenVideoFile(first);
    QVERIFY(!BarShown(f));
    f.restart();
    QVERIFY(fake.bStopSeen);
}

void MosaicBarTest::swapRedBlueFromEachPattern()
{
    ShellFixture f;
    f.start();
    QAbstractButton& swap = f.button(ids::IDC_SWAP_RED_BLUE);
    QVERIFY(swap.toolTip().startsWith(QStringLiteral("Swap red and blue")));
    QCOMPARE(swap.accessibleName(), QStringLiteral("Swap red and blue"));
    QVERIFY(!swap.isCheckable());
    for (const Pattern& p : bayer::kPatterns) {
        f.button(PatternButtonId(p)).click();
        swap.click();
        const Pattern& swapped = bayer::withRedBlueSwapped(p);
        QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(), swapped.code);
        QCOMPARE(PushedPattern(f), PatternButtonId(swapped));
        // The green sites stay where they were.
        QCOMPARE(bayer::greenOnMainDiagonal(swapped), bayer::greenOnMainDiagonal(p));
        QVERIFY(swapped.code != p.code);
    }
    // The View menu's command by the same name does the same, and swapping twice is back.
    const QList<QAction*> actions = f.frame().GetCommandActions(ids::IDC_SWAP_RED_BLUE);
    QVERIFY(!actions.isEmpty());
    QCOMPARE(actions.front()->text().remove(QLatin1Char('&')), QStringLiteral("Swap red and blue"));
    const std::int32_t before = f.doc().m_videoSource.m_converter.GetPattern();
    actions.front()->trigger();
    QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(),
             bayer::withRedBlueSwapped(bayer::patternFromCode(before)).code);
    actions.front()->trigger();
    QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(), before);
}

void MosaicBarTest::realDetectorOnHeadersTheDataDisagreeWith()
{
    ShellFixture f;
    CMosaicDetection::SetDefaultDetector({});
    // GRBG planets whose headers say otherwise: MONO, the other diagonal, and red and blue the
    // other way round (which the data cannot prove wrong).
    const struct {
        const char* name;
        MosaicCase which;
        const char* text;
    } cases[] = {
        {"planet12-GRBG-said-MONO", MosaicCase::MonoHeader,
         "The file says it holds monochrome data, but its data look like a raw Bayer mosaic, GRBG (likely)."},
        {"planet12-GRBG-said-BGGR", MosaicCase::HeaderContradicted,
         "The file says its Bayer order is BGGR, but its data show GRBG."},
        {"planet12-GRBG-said-GBRG", MosaicCase::ShowRaw,
         "This capture holds raw colour sensor data, Bayer GBRG (as the file states)."},
    };
    std::string command = "/usr/bin/python3 " + kestro::test::quote(KESTRO_MAKE_SER_SCRIPT) + " " +
                          kestro::test::quote(f.folder().toStdString());
    for (const auto& c : cases)
        command += std::string(" ") + c.name;
    QVERIFY(kestro::test::run(command + " >/dev/null 2>&1") == 0);
    f.start();
    for (const auto& c : cases) {
        // The window shows the capture while the detector reads it on its own.
        f.doc().OpenVideoFile(f.folder() + u'/' + QString::fromLatin1(c.name) + QStringLiteral(".ser"));
        QCOMPARE(f.doc().GetCurrentRow(), 0);
        QVERIFY(DetectionOver(f));
        QVERIFY2(BarShown(f), c.name);
        QVERIFY2(Bar(f).GetAdvice().which == c.which, c.name);
        QCOMPARE(Bar(f).GetText(), QString::fromLatin1(c.text));
    }
    // The last opened Normal with the header's pattern: one click shows it in RAW colour.
    Bar(f).GetActionButton().click();
    QVERIFY(f.button(ids::IDC_DISPLAY_RAW_COLOUR).isChecked());
    QCOMPARE(PushedPattern(f), ids::IDC_PATTERN_GR);
    QVERIFY(f.messages().empty());
}

QTEST_MAIN(MosaicBarTest)
#include "mosaic_bar_test.moc"
