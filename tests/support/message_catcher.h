#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Answers every message box the panel shows while it lives: records what the box
// said and presses its default button, as an operator would. It looks every
// pollMs; a measurement that must not count its timer pauses it.
class MessageCatcher : public QObject
{
    Q_OBJECT
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        Qt::TextFormat format; // how the box renders text
    };

    explicit MessageCatcher(int pollMs = 5);

    const QList<Box> &boxes() const { return m_boxes; }
    QStringList texts() const;
    int count() const { return static_cast<int>(m_boxes.size()); }
    QString lastText() const { return m_boxes.isEmpty() ? QString() : m_boxes.last().text; }
    void clear() { m_boxes.clear(); }
    void pause() { m_poll.stop(); }

private:
    void answer();

    QTimer m_poll;
    QList<Box> m_boxes;
};
