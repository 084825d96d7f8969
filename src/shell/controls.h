#pragma once

#include "channel/bank.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <array>

namespace queltor {

// A push button that Return and Enter press as well as Space, wherever it
// stands (Qt only gives a dialog's default buttons those keys).
class PushButton : public QPushButton
{
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// A channel button. Knows whether its channel is the one selected, which
// screen readers are told while the look stays the bold caption, and passes
// every key typed on it on to the window for two-digit entry.
class ChannelButton : public PushButton
{
    Q_OBJECT
public:
    using PushButton::PushButton;

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

signals:
    // The character typed (empty for keys without one), before the button acts on it.
    void typed(const QString &text);
    // An arrow key: the focus is to move this many rows down and columns right.
    void stepped(int rows, int columns);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_selected = false;
};

// The channel buttons as they stand in rows of ten: Up and Down move the focus
// to the button above or below, Left and Right to the neighbours in the row,
// never past the grid's edges or onto a button the bank hides. Tab keeps its
// own order.
class ChannelGrid : public QObject
{
    Q_OBJECT
public:
    using Buttons = std::array<ChannelButton *, bank::kButtonCount>;
    explicit ChannelGrid(const Buttons &buttons, QObject *parent = nullptr);

private:
    void step(int from, int rows, int columns);

    Buttons m_buttons;
};

// The start and end lists: a type of their own so that screen readers hear
// them by their labels' names rather than by the channel they show.
class ChannelList : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;
};

// The large channel display: named "Channel" for screen readers, its digits
// the value; its green follows the palette.
class ChannelDisplay : public QLabel
{
    Q_OBJECT
public:
    explicit ChannelDisplay(const QString &digits, QWidget *parent = nullptr);

    // As wide as the digits and down to their lowest ink, which is at or just
    // below the baseline: the font's full line would reach past the frame.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // Shows the digits and tells screen readers the value changed.
    void showValue(const QString &digits);
    // Takes the green for the palette in force; again by itself when it changes.
    void followPalette();

protected:
    void changeEvent(QEvent *event) override;

private:
    bool m_inking = false;
};

// The status line of the link: "COM1 · /dev/ttyUSB0 · connected". It never
// widens the window; a device path too long for it is shortened in its
// middle, the port and the condition never. Screen readers hear the line
// shown as its name; the whole line is its description and its tool tip.
class LinkStatusLabel : public QLabel
{
    Q_OBJECT
public:
    explicit LinkStatusLabel(QWidget *parent = nullptr);

    void setParts(const QString &port, const QString &device, const QString &condition);
    QString fullText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void fit();

    QString m_port;
    QString m_device;
    QString m_condition;
};

} // namespace queltor
