#include "qt_seams.h"

#include "best_frames_dlg.h"
#include "dialog_requests.h"
#include "export_fits_dlg.h"
#include "folder_browser.h"
#include "go_to_frame_dlg.h"
#include "kestro_app.h"
#include "main_frame.h"
#include "message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

namespace {

using namespace kestro::shell;
using namespace kestro::ui;

QMessageBox::Icon ToQt(Icon icon)
{
    switch (icon) {
    case Icon::Information: return QMessageBox::Information;
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Error: return QMessageBox::Critical;
    case Icon::Question: return QMessageBox::Question;
    case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok: return QMessageBox::Ok;
    case Buttons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case Buttons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case Buttons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

// The buttons in the order a message's own button texts name them.
QList<QMessageBox::StandardButton> InOrder(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok: return {QMessageBox::Ok};
    case Buttons::OkCancel: return {QMessageBox::Ok, QMessageBox::Cancel};
    case Buttons::YesNo: return {QMessageBox::Yes, QMessageBox::No};
    case Buttons::YesNoCancel: return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
    }
    return {};
}

Answer ShowMessageBox(const Message& m)
{
    QMessageBox box(ToQt(m.icon), QString::fromStdString(m.caption), QString::fromStdString(m.text), ToQt(m.buttons));
    const QList<QMessageBox::StandardButton> order = InOrder(m.buttons);
    for (qsizetype i = 0; i < order.size() && i < static_cast<qsizetype>(m.buttonTexts.size()); ++i) {
        if (QAbstractButton* pButton = box.button(order[i]))
            pButton->setText(QString::fromStdString(m.buttonTexts[static_cast<std::size_t>(i)]));
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return Answer::Ok;
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    default: return cautiousAnswer(m.buttons); // closed with Escape or the close box
    }
}

QWidget* MainWindow() { return CKestroApp::MainFrame(); }

// Qt's filter text from our pairs. On Linux "*.*" would hide files without an extension, so
// "All Files" matches everything; names are matched without regard to case, so capture.AVI
// shows under "AVI files".
QString ToQtFilter(const std::string& filter)
{
    QStringList parts;
    for (const FileFilter& f : parseFileFilter(filter)) {
        QStringList patterns;
        for (const std::string& p : f.patterns)
            patterns << (p == "*.*" ? QStringLiteral("*") : QString::fromStdString(p));
        QString description = QString::fromStdString(f.description);
        const qsizetype paren = description.lastIndexOf(QStringLiteral(" ("));
        if (paren >= 0)
            description.truncate(paren);
        parts << QStringLiteral("%1 (%2)").arg(description, patterns.join(u' '));
    }
    return parts.join(QStringLiteral(";;"));
}

// The extension a file type of the filter stands for ("ser" for "SER capture (*.ser)"), or
// fallback for one that matches many ("All Files (*)").
QString ExtensionOf(const QString& nameFilter, const QString& fallback)
{
    const qsizetype open = nameFilter.lastIndexOf(u'(');
    const QString pattern = nameFilter.mid(open + 1).section(u' ', 0, 0).remove(u')');
    const QString extension = pattern.startsWith(QStringLiteral("*.")) ? pattern.mid(2) : QString();
    return extension.isEmpty() || extension.contains(u'*') || extension.contains(u'?') ? fallback : extension;
}

} // namespace

std::optional<std::string> ShowFileDialog(const FileDialogRequest& r)
{
    const bool bOpen = r.mode == FileDialogMode::Open;
    QFileDialog dialog(MainWindow(), QString::fromStdString(r.title.empty() ? (bOpen ? "Open" : "Save As") : r.title),
                       QString(), ToQtFilter(r.filter));
    dialog.setAcceptMode(bOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(bOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    const QString defaultExtension = QString::fromStdString(r.defaultExtension);
    dialog.setDefaultSuffix(defaultExtension);
    // A name typed without an extension takes that of the file type shown, as the type chosen says
    // what is to be written: "m42" under "SER capture" is m42.ser, not an AVI file. The overwrite
    // question then asks about the file that will be written.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, defaultExtension](const QString& f) {
        dialog.setDefaultSuffix(ExtensionOf(f, defaultExtension));
    });
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !r.confirmOverwrite);
    if (!r.startFolder.empty())
        dialog.setDirectory(QString::fromStdString(r.startFolder));
    if (!r.fileName.empty())
        dialog.selectFile(QString::fromStdString(r.fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::int32_t> ShowGoToFrameDialog(const NumberRequest& r)
{
    CGoToFrameDlg dlg(r, MainWindow());
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg.GetFrame();
}

std::optional<std::string> ShowFolderBrowser(const FolderRequest& r)
{
    // Over the window that asked (the Export Fits Frames dialog, say), so it opens where the
    // user is looking rather than wherever the window manager puts a window of its own.
    CStartFolderBrowser browser(QApplication::activeWindow());
    browser.m_strStartFolder = QString::fromStdString(r.startFolder);
    browser.SetTitle(QString::fromStdString(r.title));
    browser.SetFlags(CFolderBrowser::OnlyFileSystemFolders | CFolderBrowser::StatusText);
    if (!browser.Browse())
        return std::nullopt;
    return browser.m_strPath.toStdString();
}

std::optional<FitsExportRequest> ShowExportFitsDialog(const FitsExportRequest& r)
{
    CExportFitsDlg dlg(MainWindow());
    dlg.m_nBlockSize = r.blockSize;
    dlg.m_strPrefix = QString::fromStdString(r.prefix);
    dlg.m_strFolder = QString::fromStdString(r.folder);
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return FitsExportRequest{dlg.m_nBlockSize, dlg.m_strPrefix.toStdString(), dlg.m_strFolder.toStdString()};
}

std::optional<BestFramesRequest> ShowBestFramesDialog(const BestFramesRequest& r)
{
    CBestFramesDlg dlg(r, MainWindow());
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg.GetAnswer();
}

void InstallQtSeams()
{
    messageSeam().replace(ShowMessageBox);
    fileDialogSeam().replace(ShowFileDialog);
    folderSeam().replace(ShowFolderBrowser);
    fitsExportSeam().replace(ShowExportFitsDialog);
    numberSeam().replace(ShowGoToFrameDialog);
    bestFramesSeam().replace(ShowBestFramesDialog);
}
