// Export Fits Frames: how many ticked frames go into each FITS file, the start of the file
// names and the folder that receives them. The caller fills the members, runs the dialog
// modally and, after OK, reads them back; the folder then ends with a separator (unless it is
// empty) so that folder followed by prefix names files inside it.
#pragma once

#include <QDialog>
#include <QRect>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

// The block size of the last Export Fits Frames dialog closed with OK in this run (1 before the
// first one). It is not kept between runs.
extern std::uint32_t g_nLastBlockSize;

class CExportFitsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CExportFitsDlg(QWidget* pParent = nullptr);

    // The control with the given number (OK, Cancel and the boxes and button numbered in
    // resource_ids.h), or null.
    QWidget* GetDlgItem(int nId) const;

    // With bSaveAndValidate the boxes are read into the members in the order block size, folder,
    // prefix; a block size that is not a positive whole number is refused with a message, the
    // box gets the focus with its text selected and the reading stops there (false). Without it
    // the members are written into the boxes.
    bool UpdateData(bool bSaveAndValidate = true);

    // OK: closes only when the boxes read; the block size is remembered for the next dialog.
    void OnOK();
    // "...": picks the folder through the folder seam, then shows all three members again.
    void OnBrowseFolder();

    void accept() override { OnOK(); }

    std::uint32_t m_nBlockSize;
    QString m_strFolder;
    QString m_strPrefix;

protected:
    void showEvent(QShowEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    struct DialogUnits;

    void OnInitDialog();
    void LayoutControls();
    QRect PlaceTemplateControls(const DialogUnits& units);
    QRect PlaceBlockSizeInSentence(const DialogUnits& units);

    std::vector<QWidget*> m_template; // every control, texts and group box included, in template order
    std::map<int, QWidget*> m_controls;
};
