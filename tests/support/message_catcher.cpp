#include "message_catcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>

namespace {

MessageCatcher::Box read(const QMessageBox *box)
{
    return {box->windowTitle(), box->text(), box->icon(), box->textFormat()};
}

} // namespace

MessageCatcher::MessageCatcher(int pollMs)
{
    qApp->installEventFilter(this);
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this, &MessageCatcher::answer);
    m_poll.start();
}

bool MessageCatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (box && !m_shown.contains(box)) {
            m_boxes.append(read(box));
            m_shown.append(box);
        }
    }
    return QObject::eventFilter(watched, event);
}

void MessageCatcher::look() const
{
    for (qsizetype i = 0; i < m_shown.size(); ++i) {
        if (m_shown[i])
            m_boxes[i] = read(m_shown[i]);
    }
}

const QList<MessageCatcher::Box> &MessageCatcher::boxes() const
{
    look();
    return m_boxes;
}

QStringList MessageCatcher::texts() const
{
    QStringList all;
    for (const Box &box : boxes())
        all << box.text;
    return all;
}

QString MessageCatcher::lastText() const
{
    const QList<Box> &all = boxes();
    return all.isEmpty() ? QString() : all.last().text;
}

void MessageCatcher::clear()
{
    m_boxes.clear();
    m_shown.clear();
}

QList<QMessageBox *> MessageCatcher::open()
{
    QList<QMessageBox *> shown;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            shown << box;
    }
    return shown;
}

void MessageCatcher::answer()
{
    look();
    for (QMessageBox *box : open()) {
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }
}
