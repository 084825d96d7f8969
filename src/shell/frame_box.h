#pragma once

#include <QGroupBox>
#include <QPixmap>

namespace queltor {

// A group box that draws its frame once per size and look, then copies it.
// The frames lie behind the channel buttons and the display, so every repaint
// of one of those repaints the frame under it; drawing the style's frame afresh
// each time cost more than all the rest of a selection.
class FrameBox : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QPixmap m_frame;
};

} // namespace queltor
