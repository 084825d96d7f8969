#include "shell/placement.h"

#include "shell/twips.h"

#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace queltor::placement {

namespace {

const QScreen *screenOf(const QWidget *window)
{
    return window->screen() ? window->screen() : QGuiApplication::primaryScreen();
}

// Watches the window until it is centred with the frame it was given.
class FirstPlacement : public QObject
{
public:
    explicit FirstPlacement(QWidget *window)
        : QObject(window)
        , m_window(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool shown = event->type() == QEvent::Show;
        if (watched == m_window && (shown || (event->type() == QEvent::Move && m_window->isVisible()))) {
            const bool framed = m_window->frameGeometry().size() != m_window->size();
            if (shown || framed)
                centreOnScreen(m_window, Qt::Horizontal | Qt::Vertical);
            if (framed)
                deleteLater();
        }
        return false;
    }

private:
    QWidget *m_window;
};

} // namespace

void centreOnScreen(QWidget *window, Qt::Orientations directions)
{
    const QScreen *screen = screenOf(window);
    if (!screen)
        return;
    // move() places the frame, so the outer size is what must fit.
    const QSize outer = window->frameGeometry().size();
    const QRect area = screen->availableGeometry();
    const int left = directions & Qt::Horizontal ? area.x() + qMax(0, (area.width() - outer.width()) / 2) : window->x();
    const int top = directions & Qt::Vertical ? area.y() + qMax(0, (area.height() - outer.height()) / 2) : window->y();
    window->move(left, top);
}

void centreWhenShown(QWidget *window) { new FirstPlacement(window); }

void fitScreen(const QWidget *window, QSizeF clientTwips, QSize bars)
{
    const QScreen *screen = screenOf(window);
    if (!screen)
        return;
    // The frame comes from the window manager once shown: a title bar and borders as the style draws them.
    const int border = window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    const QSize frame(2 * border, window->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * border);
    twips::fitWithin(clientTwips, frame + bars, screen->availableGeometry().size());
}

} // namespace queltor::placement
