// Starts the real program (application, document, main window) for one test, with the
// settings store in a folder of its own, every message box recorded and every dialog answered
// from a script, so nothing waits for a person. Runs on Qt's offscreen platform.
#pragma once

#include "dialog_requests.h"
#include "message_box.h"

#include <QImage>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class CKestroApp;
class CKestroDoc;
class CMainFrame;
class QAbstractButton;
class QComboBox;

class ShellFixture {
public:
    ShellFixture();
    ~ShellFixture();

    // InitInstance with these arguments; the window is shown and exposed afterwards.
    CKestroApp& start(const QStringList& arguments = {});
    // Ends the program as closing it would (the recent files are written) and starts it again
    // on the same settings store.
    CKestroApp& restart(const QStringList& arguments = {});

    CKestroApp& app() const { return *m_pApp; }
    CMainFrame& frame() const;
    CKestroDoc& doc() const;

    QAbstractButton& button(int nId) const;
    QComboBox& algorithmList() const;
    QStringList algorithmEntries() const;

    // Runs a command the way a menu item or key would.
    void command(int nId) const;
    // Lets the event loop run until the export started last has ended and the window is back
    // as before it; false if it has not after a minute (the export hangs).
    bool waitForExport() const;

    const std::vector<kestro::ui::Message>& messages() const { return m_messages.messages(); }
    void clearMessages() { m_messages.clear(); }
    kestro::shell::DialogScript& dialogs() { return m_dialogs; }

    // A capture made by the sample tool in this test's folder; extra tool arguments as given.
    QString sample(const QString& name, const QStringList& arguments = {}) const;
    // A capture written by ffmpeg in this test's folder: ffmpeg's arguments before the output.
    QString ffmpegCapture(const QString& name, const QStringList& arguments) const;
    // ffmpeg's own decode of the first frame of a file, for comparing with what is drawn.
    static QImage ffmpegPicture(const QString& path);
    // Frame n of a capture as a video source of its own shows it (Normal unless bRaw, RAW colour
    // with bRawColour, de-mosaiced for the BG pattern as the window starts), for telling which
    // frame the window shows.
    static QImage framePicture(const QString& path, int n, bool bRaw = false, bool bRawColour = false);
    // Damages an AVI file with one video stream and an idx1 index as a faulty recorder would:
    // the index gives frame n's sample nBytes instead of its real size.
    static void setIndexedSize(const QString& path, int n, quint32 nBytes);
    // What a widget shows once the events waiting have been handled (a queued render of the
    // frame view, say), in 32-bit pixels.
    static QImage grab(QWidget& widget);
    // A path in this test's folder that does not exist.
    QString missing(const QString& name) const;
    const QString& folder() const { return m_folderPath; }

private:
    QTemporaryDir m_folder;
    QString m_folderPath;
    kestro::ui::MessageRecorder m_messages;
    kestro::shell::DialogScript m_dialogs;
    std::unique_ptr<CKestroApp> m_pApp;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* pWidget);
    int nPaints = 0;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
};
