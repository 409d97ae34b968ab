// The command line and the window run one engine: for the same capture, display mode and ticks,
// kestro-convert writes the very bytes the window's commands write.
#include "shell_fixture.h"

#include "frame_list_model.h"
#include "kestro_doc.h"
#include "left_view.h"
#include "main_frame.h"
#include "resource_ids.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

class CliParityTest : public QObject {
    Q_OBJECT
private slots:
    void windowAndCommandLineWriteTheSameFiles();
};

void CliParityTest::windowAndCommandLineWriteTheSameFiles()
{
    struct Case {
        const char* name;
        int nCommand; // the window's export command
        int nMode;    // display bar button
        int nPattern; //
        std::int32_t nAlgorithm;
        QStringList cli;      // kestro-convert's options for the same
        const char* proposed; // the name the save dialog proposes, answered as it is
    };
    const Case cases[] = {
        {"AVI, RAW colour AHD, GR",
         ids::ID_FILE_SAVE,
         ids::IDC_DISPLAY_RAW_COLOUR,
         ids::IDC_PATTERN_GR,
         4,
         {"--to", "avi", "--mode", "raw-colour", "--pattern", "GR", "--algorithm", "AHD"},
         "m42_rcol04.avi"},
        {"BMP, Normal",
         ids::ID_FILE_SAVE_AS,
         ids::IDC_DISPLAY_NORMAL,
         ids::IDC_PATTERN_BG,
         11,
         {"--to", "bmp"},
         "m42_rgb.bmp"},
        {"RGB, RAW colour",
         ids::ID_SAVE_RGB_CHANNELS,
         ids::IDC_DISPLAY_RAW_COLOUR,
         ids::IDC_PATTERN_RG,
         11,
         {"--to", "rgb", "--mode", "raw-colour", "--pattern", "RG"},
         "m42_raw.avi"},
        {"FITS, RAW Y-channel",
         ids::ID_EXPORT_FITS,
         ids::IDC_DISPLAY_RAW_Y,
         ids::IDC_PATTERN_GB,
         11,
         {"--to", "fits", "--mode", "raw-y", "--pattern", "GB", "--block", "2"},
         nullptr},
        // Save As with a .ser name writes a SER file, whatever file type the dialog showed.
        {"SER, RAW Y-channel, GB",
         ids::ID_FILE_SAVE_AS,
         ids::IDC_DISPLAY_RAW_Y,
         ids::IDC_PATTERN_GB,
         11,
         {"--to", "ser", "--mode", "raw-y", "--pattern", "GB"},
         "m42_rlum.ser"},
        {"SER, Normal",
         ids::ID_FILE_SAVE,
         ids::IDC_DISPLAY_NORMAL,
         ids::IDC_PATTERN_BG,
         11,
         {"--to", "ser"},
         "m42_rgb.ser"},
    };
    // The FITS header's date is taken from here in both, so the files can match byte for byte.
    qputenv("SOURCE_DATE_EPOCH", "1765370096");
    for (const Case& c : cases) {
        ShellFixture f;
        const QString capture =
            f.sample(QStringLiteral("m42.avi"), {"--width", "48", "--height", "32", "--frames", "9", "--dropped", "2"});
        QVERIFY(QDir(f.folder()).mkdir("window") && QDir(f.folder()).mkdir("cli"));
        const QString window = f.folder() + "/window/", cli = f.folder() + "/cli/";
        f.start();
        f.doc().OpenVideoFile(capture);
        f.command(c.nMode);
        f.command(c.nPattern);
        f.doc().m_videoSource.m_converter.SetAlgorithm(c.nAlgorithm);
        // Ticked: 0, 1, 3, 5, 6, 8 (2 holds no data).
        CFrameListModel& rows = f.frame().GetFrameList()->GetModel();
        rows.SetTicked(4, false);
        rows.SetTicked(7, false);
        if (c.proposed) {
            f.dialogs().answer((window + c.proposed).toStdString());
        } else {
            kestro::shell::FitsExportRequest answer{2, "m42", window.toStdString()};
            f.dialogs().answerFits(answer);
        }
        f.command(c.nCommand);
        QVERIFY(f.waitForExport());
        QVERIFY2(f.messages().empty(), c.name);

        QProcess convert;
        convert.start(QStringLiteral(KESTRO_CONVERT),
                      c.cli + QStringList{"--frames", "0-3,5-6,8", "-o", cli, "--quiet", capture});
        QVERIFY(convert.waitForFinished(60000));
        QVERIFY2(convert.exitCode() == 0, convert.readAllStandardError().constData());

        const QStringList names = QDir(window).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        QVERIFY2(!names.isEmpty(), c.name);
        QCOMPARE(QDir(cli).entryList(QDir::Files | QDir::Hidden, QDir::Name), names);
        for (const QString& n : names) {
            QFile a(window + n), b(cli + n);
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            QVERIFY2(a.readAll() == b.readAll(), qPrintable(QStringLiteral("%1: %2 differs").arg(c.name, n)));
        }
    }
    qunsetenv("SOURCE_DATE_EPOCH");
}

QTEST_MAIN(CliParityTest)
#include "cli_parity_test.moc"
