#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

// Sees every message box the panel opens while it lives, the moment it opens,
// and answers it as an operator would: presses its default button at the next
// look, every pollMs. A box the panel updates while it is open stays one box,
// recorded with the text it had when answered. A test that must see boxes
// stay open, or a measurement that must not count the catcher's timer,
// pauses it.
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

    // Every box opened so far, as it read when last seen.
    const QList<Box> &boxes() const;
    QStringList texts() const;
    int count() const { return static_cast<int>(m_boxes.size()); }
    QString lastText() const;
    void clear();
    void pause() { m_poll.stop(); }

    // The message boxes on screen now.
    static QList<QMessageBox *> open();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void answer();
    void look() const;

    QTimer m_poll;
    mutable QList<Box> m_boxes;           // brought up to date whenever read
    QList<QPointer<QMessageBox>> m_shown; // m_boxes' boxes, while they live
};
