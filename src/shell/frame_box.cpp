#include "shell/frame_box.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyleOptionGroupBox>

namespace queltor {

void FrameBox::paintEvent(QPaintEvent *event)
{
    const qreal ratio = devicePixelRatioF();
    if (m_frame.isNull() || m_frame.devicePixelRatio() != ratio) {
        m_frame = QPixmap(size() * ratio);
        m_frame.setDevicePixelRatio(ratio);
        m_frame.fill(Qt::transparent);
        QPainter painter(&m_frame);
        QStyleOptionGroupBox option;
        initStyleOption(&option);
        style()->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, this);
    }
    QPainter painter(this);
    for (const QRect &dirty : event->region())
        painter.drawPixmap(dirty, m_frame, QRectF(dirty.topLeft() * ratio, dirty.size() * ratio));
}

void FrameBox::changeEvent(QEvent *event)
{
    // Enabled state, palette, font and style all change how the frame looks.
    m_frame = QPixmap();
    QGroupBox::changeEvent(event);
}

void FrameBox::resizeEvent(QResizeEvent *event)
{
    m_frame = QPixmap();
    QGroupBox::resizeEvent(event);
}

} // namespace queltor
