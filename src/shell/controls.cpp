#include "shell/controls.h"

#include "shell/colours.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>

namespace queltor {

void PushButton::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // A held key would otherwise send the command over and over.
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void ChannelButton::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    QAccessible::State changed;
    changed.selected = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

bool ChannelButton::event(QEvent *event)
{
    // Seen here, before Tab and the arrows move the focus, so that they break a two-digit entry too.
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers chords = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
        if (!key->isAutoRepeat())
            emit typed(key->modifiers() & chords ? QString() : key->text());
    }
    return PushButton::event(event);
}

void ChannelButton::keyPressEvent(QKeyEvent *event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Up:
            emit stepped(-1, 0);
            return;
        case Qt::Key_Down:
            emit stepped(1, 0);
            return;
        case Qt::Key_Left:
            emit stepped(0, -1);
            return;
        case Qt::Key_Right:
            emit stepped(0, 1);
            return;
        default:
            break;
        }
    }
    PushButton::keyPressEvent(event);
}

ChannelGrid::ChannelGrid(const Buttons &buttons, QObject *parent)
    : QObject(parent)
    , m_buttons(buttons)
{
    for (int i = 0; i < bank::kButtonCount; ++i) {
        connect(m_buttons[static_cast<std::size_t>(i)], &ChannelButton::stepped, this,
                [this, i](int rows, int columns) { step(i, rows, columns); });
    }
}

void ChannelGrid::step(int from, int rows, int columns)
{
    const std::optional<int> to = bank::neighbour(from, rows, columns);
    if (!to)
        return;
    ChannelButton *button = m_buttons[static_cast<std::size_t>(*to)];
    if (button->isVisibleTo(button->parentWidget()) && button->isEnabled())
        button->setFocus(Qt::TabFocusReason);
}

ChannelDisplay::ChannelDisplay(const QString &digits, QWidget *parent)
    : QLabel(digits, parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QSize ChannelDisplay::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const QFontMetrics metrics = fontMetrics();
    // Down to the lowest ink of any digit, measured in the font that draws them:
    // some fonts set their digits a little below the baseline.
    const int below = qMax(0, metrics.tightBoundingRect(QStringLiteral("0123456789")).bottom());
    return {QLabel::sizeHint().width(), metrics.ascent() + below + 1 + margins.top() + margins.bottom()};
}

void ChannelDisplay::showValue(const QString &digits)
{
    const QString before = text();
    setText(digits);
    if (before != digits) {
        // Its digits are its text for screen readers (accessibility.cpp).
        QAccessibleTextUpdateEvent event(this, 0, before, digits);
        QAccessible::updateAccessibility(&event);
    }
}

void ChannelDisplay::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !m_inking)
        followPalette();
}

void ChannelDisplay::followPalette()
{
    // Setting the palette sends another PaletteChange; that one is ours.
    m_inking = true;
    // The desktop's text colour, not the green set here, tells a dark palette.
    const QColor ink = displayInk(parentWidget() ? parentWidget()->palette() : QApplication::palette(this));
    // Only the ink is the display's own: the rest goes on following the desktop.
    QPalette colours;
    colours.setColor(QPalette::WindowText, ink);
    setPalette(colours);
    m_inking = false;
}

namespace {
const QString kSeparator = QStringLiteral(" · ");
} // namespace

LinkStatusLabel::LinkStatusLabel(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

void LinkStatusLabel::setParts(const QString &port, const QString &device, const QString &condition)
{
    m_port = port;
    m_device = device;
    m_condition = condition;
    const QString full = fullText();
    setToolTip(full);
    setAccessibleDescription(full);
    fit();
}

QString LinkStatusLabel::fullText() const
{
    QStringList parts{m_port};
    if (!m_device.isEmpty())
        parts << m_device;
    parts << m_condition;
    return parts.join(kSeparator);
}

QSize LinkStatusLabel::sizeHint() const { return {0, QLabel::sizeHint().height()}; }

void LinkStatusLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    fit();
}

void LinkStatusLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fit();
}

void LinkStatusLabel::fit()
{
    const QFontMetrics metrics = fontMetrics();
    const int room = contentsRect().width() - 2 * margin();
    QString line = fullText();
    if (!m_device.isEmpty() && metrics.horizontalAdvance(line) > room) {
        const int rest = metrics.horizontalAdvance(m_port + kSeparator + kSeparator + m_condition);
        const QString device = metrics.elidedText(m_device, Qt::ElideMiddle, qMax(0, room - rest));
        line = m_port + kSeparator + device + kSeparator + m_condition;
    }
    if (line != text())
        setText(line);
}

} // namespace queltor
