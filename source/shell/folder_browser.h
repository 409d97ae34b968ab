// The folder picker: a file dialog that shows folders and returns one, with an optional status
// line under it. CFolderBrowser runs it and hands the open picker to two hooks, one when it has
// been set up and one on every change of the selected folder; CStartFolderBrowser uses them to
// open at a given folder and to show the selected folder's full path in the status line.
#pragma once

#include <QPointer>
#include <QString>

class QFileDialog;
class QLabel;
class QWidget;

class CFolderBrowser {
public:
    enum Flag : unsigned {
        OnlyFileSystemFolders = 0x0001, // folders only: files are not listed
        StatusText = 0x0004,            // a status line under the folders
    };

    explicit CFolderBrowser(QWidget* pOwner = nullptr, const QString& root = {}, const QString& title = {});
    virtual ~CFolderBrowser() = 0;
    CFolderBrowser(const CFolderBrowser&) = delete;
    CFolderBrowser& operator=(const CFolderBrowser&) = delete;

    // The picker's settings. While it is open they cannot change: false, nothing done.
    bool SetOwner(QWidget* pOwner);
    // The folder the picker shows when nothing else is selected; empty: the home folder.
    bool SetRoot(const QString& root);
    bool SetFlags(unsigned nFlags);
    bool SetTitle(const QString& title);

    // Runs the picker modally. True when a folder was chosen; m_strPath then holds its path,
    // without a trailing separator except for "/". After a cancel m_strPath is unchanged.
    bool Browse();

    bool IsOpen() const { return m_pBrowser != nullptr; }

    // While open: selects the folder, or, when it does not exist, the nearest folder above it
    // that does; the picker then shows its contents.
    void SetSelection(const QString& path);
    // While open and asked for with StatusText: the text of the status line.
    void SetStatusText(const QString& text);
    // While open: the folder that choosing now would return; empty when there is none.
    QString GetSelection() const;

    QString m_strPath;

protected:
    // Called once the picker is set up, before it is shown.
    virtual void OnInitialized() {}
    // Called whenever the selected folder changes; path is empty when the selection is not a
    // folder on disk.
    virtual void OnSelChanged([[maybe_unused]] const QString& path) {}

private:
    QWidget* m_pOwner;
    QString m_strRoot;
    QString m_strTitle;
    unsigned m_nFlags = 0;
    QPointer<QFileDialog> m_pBrowser; // the open picker; null while none is open
    QPointer<QLabel> m_pStatus;
};

class CStartFolderBrowser : public CFolderBrowser {
public:
    using CFolderBrowser::CFolderBrowser;
    ~CStartFolderBrowser() override = default;

    QString m_strStartFolder; // selected when the picker opens

protected:
    void OnInitialized() override;
    void OnSelChanged(const QString& path) override;
};
