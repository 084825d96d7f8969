#pragma once

#include "channel/bank.h"
#include "channel/command.h"
#include "shell/twips.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <unistd.h>

namespace queltor::bench {

// The floor for what a click costs in Qt itself: a bare window with the same
// hundred buttons and display, giving the same visible answer (display text,
// bold button) and write(2)-ing the command to the device without any checks.
class FloorPanel : public QWidget
{
public:
    explicit FloorPanel(int writer)
    {
        setWindowTitle(QStringLiteral("floor"));
        m_display = new QLabel(QStringLiteral("00"), this);
        QFont font = m_display->font();
        font.setPointSize(30);
        font.setBold(true);
        m_display->setFont(font);
        m_display->move(twips::point(7860, 330));
        m_display->adjustSize();
        for (int i = 0; i < bank::kButtonCount; ++i) {
            auto *button = new QPushButton(bank::buttonCaption(i), this);
            button->setObjectName(QStringLiteral("cmdCH(%1)").arg(i));
            button->setGeometry(twips::rect(bank::buttonLeft(i) + 90, bank::buttonTop(i) + bank::kFrameTop,
                                            bank::kButtonWidth, bank::kButtonHeight));
            connect(button, &QPushButton::clicked, this, [this, writer, i] {
                const QByteArray command = channelCommand(i);
                if (::write(writer, command.constData(), 5) != 5)
                    qFatal("the floor's write failed");
                m_display->setText(channelDisplayText(i));
                setBold(m_buttons[std::size_t(m_selected)], false);
                setBold(m_buttons[std::size_t(i)], true);
                m_selected = i;
            });
            m_buttons[std::size_t(i)] = button;
        }
        showBank(1);
    }

    void showBank(int index)
    {
        for (int i = 0; i < bank::kButtonCount; ++i)
            m_buttons[std::size_t(i)]->setVisible(bank::buttonVisible(i, index));
        setFixedSize(twips::toPixels(9195), twips::toPixels(bank::kFrameTop + bank::frameHeight(index) + 90));
    }

    QLabel *display() const { return m_display; }

private:
    static void setBold(QWidget *widget, bool bold)
    {
        QFont font = widget->font();
        font.setBold(bold);
        widget->setFont(font);
    }

    QLabel *m_display = nullptr;
    std::array<QPushButton *, bank::kButtonCount> m_buttons{};
    int m_selected = 0;
};

} // namespace queltor::bench
