#include "shell/accessibility.h"

#include "shell/controls.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QLineEdit>
#include <QRegularExpression>

namespace queltor {

namespace {

// A channel button reads its caption, and the selected one is "selected":
// the state a screen reader announces, where the eye sees the bold caption.
class ChannelButtonAccessible : public QAccessibleWidget
{
public:
    explicit ChannelButtonAccessible(ChannelButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty())
            return spokenCaption(button()->text());
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.selected = button()->isSelected();
        state.pressed = button()->isDown();
        return state;
    }

    QStringList actionNames() const override { return QStringList(pressAction()) << QAccessibleWidget::actionNames(); }

    void doAction(const QString &name) override
    {
        if (name == pressAction())
            button()->click(); // nothing when disabled, as for a mouse click
        else
            QAccessibleWidget::doAction(name);
    }

private:
    ChannelButton *button() const { return static_cast<ChannelButton *>(widget()); }
};

// A list reads its label's name and the channel it shows as its value; its
// parts are the drop-down list and the edit field, as for any combo box.
class ChannelListAccessible : public QAccessibleWidget
{
public:
    explicit ChannelListAccessible(ChannelList *list)
        : QAccessibleWidget(list, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return list()->currentText();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = list()->view()->isVisible();
        return state;
    }

    int childCount() const override { return list()->lineEdit() ? 2 : 1; }

    QAccessibleInterface *child(int index) const override
    {
        if (index == 0)
            return QAccessible::queryAccessibleInterface(list()->view());
        if (index == 1 && list()->lineEdit())
            return QAccessible::queryAccessibleInterface(list()->lineEdit());
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (child->object() == list()->view())
            return 0;
        if (list()->lineEdit() && child->object() == list()->lineEdit())
            return 1;
        return -1;
    }

    QAccessibleInterface *focusChild() const override { return list()->lineEdit() ? child(1) : nullptr; }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} << QAccessibleWidget::actionNames();
    }

    void doAction(const QString &name) override
    {
        if (name == showMenuAction() || name == pressAction())
            list()->showPopup();
        else
            QAccessibleWidget::doAction(name);
    }

private:
    ChannelList *list() const { return static_cast<ChannelList *>(widget()); }
};

// The display reads "Channel" with its digits as value and as its text.
class ChannelDisplayAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ChannelDisplayAccessible(ChannelDisplay *display)
        : QAccessibleWidget(display, QAccessible::StaticText)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return display()->text();
        return QAccessibleWidget::text(t);
    }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // Read-only text, never selected, without a cursor.
    void selection(int, int *startOffset, int *endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override { }
    void removeSelection(int) override { }
    void setSelection(int, int, int) override { }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override { }
    QString text(int startOffset, int endOffset) const override
    {
        return display()->text().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(display()->text().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override { }
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        return {};
    }

private:
    ChannelDisplay *display() const { return static_cast<ChannelDisplay *>(widget()); }
};

// Asked for the most derived class first, so these win over Qt's own for the base classes.
QAccessibleInterface *panelAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String(ChannelButton::staticMetaObject.className()))
        return new ChannelButtonAccessible(static_cast<ChannelButton *>(object));
    if (className == QLatin1String(ChannelList::staticMetaObject.className()))
        return new ChannelListAccessible(static_cast<ChannelList *>(object));
    if (className == QLatin1String(ChannelDisplay::staticMetaObject.className()))
        return new ChannelDisplayAccessible(static_cast<ChannelDisplay *>(object));
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(panelAccessible);
        return true;
    }();
    (void)installed;
}

QString spokenCaption(const QString &caption)
{
    static const QRegularExpression trailingMark(QStringLiteral("\\(&[^&)]\\)"));
    QString marked = caption;
    marked.remove(trailingMark);
    QString spoken;
    for (qsizetype i = 0; i < marked.size(); ++i) {
        if (marked[i] == QLatin1Char('&') && i + 1 < marked.size())
            ++i; // the mark goes, the letter stays; "&&" leaves one "&"
        spoken += marked[i];
    }
    spoken = spoken.trimmed();
    if (spoken.endsWith(QLatin1Char(':')))
        spoken.chop(1);
    return spoken.trimmed();
}

} // namespace queltor
