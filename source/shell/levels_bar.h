// The levels bar: black point, white point and gamma for the picture on screen, Auto (a stretch
// from the frame's histogram), Reset, and a small histogram of the frame on show (one curve for
// grey pictures, blue, green and red for colour ones). It changes how the frame view shows a
// frame and nothing else: the video source and the exports never see the levels.
//
// The bar shows the levels in force: whatever sets them (Auto, Reset, a capture opening) shows
// in its fields.
#pragma once

#include <QWidget>

class CKestroView;
class QDoubleSpinBox;
class QPushButton;
class QSpinBox;

class CHistogramView : public QWidget {
    Q_OBJECT
public:
    explicit CHistogramView(const CKestroView& view, QWidget* pParent = nullptr);
    QSize sizeHint() const override { return {200, 30}; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    const CKestroView& m_view;
};

class CLevelsBar : public QWidget {
    Q_OBJECT
public:
    explicit CLevelsBar(CKestroView& view, QWidget* pParent = nullptr);

    QSpinBox& GetBlack() const { return *m_pBlack; }
    QSpinBox& GetWhite() const { return *m_pWhite; }
    QDoubleSpinBox& GetGamma() const { return *m_pGamma; }
    QPushButton& GetAutoButton() const { return *m_pAuto; }
    QPushButton& GetResetButton() const { return *m_pReset; }
    CHistogramView& GetHistogram() const { return *m_pHistogram; }

private:
    // The fields' values to the view, then the view's levels (brought inside their ranges) back.
    void Apply();
    void ShowLevels();

    CKestroView& m_view;
    QSpinBox* m_pBlack;
    QSpinBox* m_pWhite;
    QDoubleSpinBox* m_pGamma;
    QPushButton* m_pAuto;
    QPushButton* m_pReset;
    CHistogramView* m_pHistogram;
};
