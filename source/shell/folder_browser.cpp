#include "folder_browser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

namespace {

// A folder's path as it is handed out: clean, without a trailing separator except for "/";
// empty for anything that is not a folder on disk.
QString FolderPath(const QString& path)
{
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return {};
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

CFolderBrowser::CFolderBrowser(QWidget* pOwner, const QString& root, const QString& title)
    : m_pOwner(pOwner), m_strRoot(root), m_strTitle(title)
{
}

CFolderBrowser::~CFolderBrowser() = default;

bool CFolderBrowser::SetOwner(QWidget* pOwner)
{
    if (IsOpen())
        return false;
    m_pOwner = pOwner;
    return true;
}

bool CFolderBrowser::SetRoot(const QString& root)
{
    if (IsOpen())
        return false;
    m_strRoot = root;
    return true;
}

bool CFolderBrowser::SetFlags(unsigned nFlags)
{
    if (IsOpen())
        return false;
    m_nFlags = nFlags;
    return true;
}

bool CFolderBrowser::SetTitle(const QString& title)
{
    if (IsOpen())
        return false;
    m_strTitle = title;
    return true;
}

bool CFolderBrowser::Browse()
{
    // Qt's own dialog, not the desktop's: only this one can carry the status line and tell us
    // each change of selection.
    QFileDialog dialog(m_pOwner);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, (m_nFlags & OnlyFileSystemFolders) != 0);
    if (!m_strTitle.isEmpty())
        dialog.setWindowTitle(m_strTitle);
    dialog.setDirectory(m_strRoot.isEmpty() ? QDir::homePath() : m_strRoot);
    if ((m_nFlags & StatusText) != 0) {
        if (auto* pGrid = qobject_cast<QGridLayout*>(dialog.layout())) {
            auto* pStatus = new QLabel(&dialog);
            pStatus->setObjectName(QStringLiteral("statusText"));
            pStatus->setTextFormat(Qt::PlainText);
            // A long path is cut off at the edge rather than widening the dialog.
            pStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            pGrid->addWidget(pStatus, pGrid->rowCount(), 0, 1, pGrid->columnCount());
            m_pStatus = pStatus;
        }
    }
    m_pBrowser = &dialog;

    // The view makes an entry current before it selects it, so the selection is taken from the
    // signals rather than asked for; with no current entry the folder shown is what Choose gives.
    const auto selectionChanged = [this](const QString& path) {
        OnSelChanged(FolderPath(path.isEmpty() ? m_pBrowser->directoryUrl().toLocalFile() : path));
    };
    QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog, selectionChanged);
    QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog, selectionChanged);
    OnInitialized();

    bool bChosen = false;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const QString path = FolderPath(dialog.selectedFiles().front());
        bChosen = !path.isEmpty();
        if (bChosen)
            m_strPath = path;
    }
    m_pBrowser = nullptr;
    m_pStatus = nullptr;
    return bChosen;
}

void CFolderBrowser::SetSelection(const QString& path)
{
    if (!IsOpen() || path.isEmpty())
        return;
    QString folder = QDir::cleanPath(QDir(path).absolutePath());
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return;
        folder = parent;
    }
    m_pBrowser->setDirectory(folder);
}

void CFolderBrowser::SetStatusText(const QString& text)
{
    if (IsOpen() && m_pStatus)
        m_pStatus->setText(text);
}

QString CFolderBrowser::GetSelection() const
{
    if (!IsOpen())
        return {};
    const QStringList selected = m_pBrowser->selectedFiles();
    return selected.isEmpty() ? QString() : FolderPath(selected.front());
}

void CStartFolderBrowser::OnInitialized()
{
    SetSelection(m_strStartFolder);
    SetStatusText(GetSelection());
}

void CStartFolderBrowser::OnSelChanged(const QString& path) { SetStatusText(path); }
