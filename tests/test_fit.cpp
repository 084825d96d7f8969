// The panel at the font size, scale factor and language of the desktop: every
// text fits its control, with the style's margins, in the main window and the
// About box. Registered once per QT_SCALE_FACTOR (set before QApplication).
#include "panel.h"

#include "shell/about_box.h"
#include "shell/translations.h"
#include "shell/twips.h"

#include <QGroupBox>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

using namespace queltor;

namespace {

// Where a line edit draws its text: inside the style's frame and the edit's own margins.
QRect textArea(const QLineEdit *edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->contentsRect();
    option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    QRect area = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    // QLineEdit keeps 2 px left and right and 1 px above and below its text.
    return area.marginsRemoved(edit->textMargins()).adjusted(2, 1, -2, -1);
}

class Fit
{
public:
    QStringList problems;

    void text(const QWidget *control, const QRect &area, const QString &text, const QFont &font)
    {
        const QFontMetrics metrics(font);
        const QString plain = QString(text).remove(QLatin1Char('&'));
        const QSize need(metrics.horizontalAdvance(plain), metrics.height());
        if (need.width() > area.width() || need.height() > area.height())
            note(control,
                 QStringLiteral("\"%1\" needs %2x%3, has %4x%5")
                     .arg(plain)
                     .arg(need.width())
                     .arg(need.height())
                     .arg(area.width())
                     .arg(area.height()));
    }

    void button(const QPushButton *button, const QStringList &captions, bool alsoBold)
    {
        QStyleOptionButton option;
        option.initFrom(button);
        const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        QFont bold = button->font();
        bold.setBold(true);
        for (const QString &caption : captions) {
            text(button, contents, caption, button->font());
            if (alsoBold)
                text(button, contents, caption, bold);
        }
    }

    void option(const QRadioButton *option)
    {
        QStyleOptionButton style;
        style.initFrom(option);
        text(option, option->style()->subElementRect(QStyle::SE_RadioButtonContents, &style, option), option->text(),
             option->font());
        inside(option);
    }

    void edit(const QLineEdit *edit, const QStringList &texts)
    {
        for (const QString &t : texts)
            text(edit, textArea(edit), t, edit->font());
    }

    // An auto-sized label takes its text's size; it must then clear every other control beside it.
    void label(const QLabel *label)
    {
        if (label->size() != label->sizeHint())
            note(label, QStringLiteral("is not sized to its text"));
        inside(label);
        for (const QObject *other : label->parentWidget()->children()) {
            const auto *sibling = qobject_cast<const QWidget *>(other);
            if (sibling && sibling != label && sibling->isVisible()
                && sibling->geometry().intersects(label->geometry()))
                note(label, QStringLiteral("runs into %1").arg(sibling->objectName()));
        }
    }

    // The display's digits lie inside its frame, below the frame's title.
    void display(const QLabel *display, const QGroupBox *frame)
    {
        const QFontMetrics metrics(display->font());
        const QRect ink =
            metrics.tightBoundingRect(display->text()).translated(display->pos() + QPoint(0, metrics.ascent()));
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect title = frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel,
                                                           frame);
        const int line = frame->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, frame);
        const QRect inner = frame->rect().adjusted(line, title.bottom() + 1, -line, -line);
        if (!inner.contains(ink))
            note(display,
                 QStringLiteral("digits at %1,%2 %3x%4 leave the frame's inside %5,%6 %7x%8")
                     .arg(ink.x())
                     .arg(ink.y())
                     .arg(ink.width())
                     .arg(ink.height())
                     .arg(inner.x())
                     .arg(inner.y())
                     .arg(inner.width())
                     .arg(inner.height()));
    }

    void inside(const QWidget *control)
    {
        if (!control->parentWidget()->rect().contains(control->geometry()))
            note(control, QStringLiteral("sticks out of %1").arg(control->parentWidget()->objectName()));
    }

private:
    void note(const QWidget *control, const QString &what)
    {
        problems << control->objectName() + QLatin1Char(' ') + what;
    }
};

} // namespace

class TestFit : public QObject
{
    Q_OBJECT
private slots:
    void everyTextFitsItsControl_data();
    void everyTextFitsItsControl();
};

void TestFit::everyTextFitsItsControl_data()
{
    QTest::addColumn<double>("points");
    QTest::addColumn<QString>("language");
    for (const char *language : {"en", "ko"}) {
        for (double points : {9.0, 10.0, 11.0, 14.0, 18.0})
            QTest::addRow("%s %g pt", language, points) << points << QString::fromLatin1(language);
    }
}

void TestFit::everyTextFitsItsControl()
{
    QFETCH(double, points);
    QFETCH(QString, language);
    const QFont desktopFont = QApplication::font();
    QFont font = desktopFont;
    font.setPointSizeF(points);
    QApplication::setFont(font);
    twips::followFont(font);
    const QList<QTranslator *> translators = loadTranslations(*qApp, QLocale(language));
    const auto restore = qScopeGuard([&] {
        for (QTranslator *translator : translators) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        QApplication::setFont(desktopFont);
        twips::followFont(desktopFont);
    });
    QCOMPARE(translators.isEmpty(), language == QLatin1String("en"));

    Panel panel;
    panel.config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("9"));
    panel.start();
    panel.click(88);

    // The grid: 15 twips a pixel at 9 pt (and below), in proportion to the font above it.
    const double scale = qMax(1.0, points / 9.0);
    QCOMPARE(panel.window->centralWidget()->width(), qRound(9195 * scale / 15));
    QCOMPARE(panel.button(37)->geometry(),
             QRect(qRound(6240 * scale / 15), qRound(1260 * scale / 15), qRound(885 * scale / 15),
                   qRound(345 * scale / 15)));
    QCOMPARE(panel.display()->font().pointSizeF(), 30 * scale);

    Fit fit;
    for (int i = 0; i < 100; ++i)
        fit.button(panel.button(i), {panel.button(i)->text()}, true);
    fit.button(panel.startStop(), {panel.startStop()->text(), frmMain::tr("Stop Scan")}, false);
    for (const char *name : {"optAuto", "optMan"})
        fit.option(panel.child<QRadioButton>(QString::fromLatin1(name)));
    for (const char *name : {"Label1", "Label2", "Label3", "Label4"})
        fit.label(panel.child<QLabel>(QString::fromLatin1(name)));
    for (QComboBox *list : {panel.startList(), panel.endList()})
        fit.edit(list->lineEdit(), {list->itemText(list->count() - 1), QStringLiteral("88")});
    fit.edit(panel.term(), {panel.term()->text(), QStringLiteral("0.5")});
    fit.display(panel.display(), panel.child<QGroupBox>(QStringLiteral("fraCh")));

    frmAbout about(panel.window.get());
    about.show();
    for (const char *name : {"lblTitle", "lblVersion"})
        fit.label(about.findChild<QLabel *>(QString::fromLatin1(name)));
    fit.button(about.findChild<QPushButton *>(QStringLiteral("cmdOK")),
               {about.findChild<QPushButton *>(QStringLiteral("cmdOK"))->text()}, false);

    QVERIFY2(fit.problems.isEmpty(), qPrintable(fit.problems.join(QStringLiteral("; "))));
}

QTEST_MAIN(TestFit)
#include "test_fit.moc"
