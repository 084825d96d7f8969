// The panel at the font size, scale factor and language of the desktop: every
// text fits its control, with the style's margins, in the main window and the
// About box. Registered once per QT_SCALE_FACTOR (set before QApplication).
#include "panel.h"

#include "shell/about_box.h"
#include "shell/translations.h"
#include "shell/twips.h"

#include <QFontDatabase>
#include <QGlyphRun>
#include <QGroupBox>
#include <QPainter>
#include <QRawFont>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTextLayout>

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

// The desktop's standard font and language for one test, put back afterwards.
class Desktop
{
public:
    Desktop(double points, const QString &language, const QString &family = QString())
        : m_font(QApplication::font())
    {
        QFont font = m_font;
        font.setPointSizeF(points);
        if (!family.isEmpty())
            font.setFamilies({family});
        QApplication::setFont(font);
        twips::followFont(font);
        translators = loadTranslations(*qApp, QLocale(language));
    }
    ~Desktop()
    {
        for (QTranslator *translator : std::as_const(translators)) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        QApplication::setFont(m_font);
        twips::followFont(m_font);
    }
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;

    QList<QTranslator *> translators;

private:
    QFont m_font;
};

// The family of the font digits are drawn with in font.
QString drawingFamily(const QFont &font)
{
    QTextLayout layout(QStringLiteral("0"), font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    return layout.glyphRuns().value(0).rawFont().familyName();
}

// Pixels darker than the ground.
int inkIn(const QImage &image)
{
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ink += qGray(image.pixel(x, y)) < 192 ? 1 : 0;
    }
    return ink;
}

// The grid's scale for the standard font: 15 twips a pixel at 9 pt (and below), in proportion above it.
double fontScale(double points) { return qMax(1.0, points / 9.0); }

} // namespace

class TestFit : public QObject
{
    Q_OBJECT
private slots:
    void everyTextFitsItsControl_data();
    void everyTextFitsItsControl();
    void windowStaysOnTheScreen_data();
    void windowStaysOnTheScreen();
    void digitsAreWholeAndBold_data();
    void digitsAreWholeAndBold();
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
    const Desktop desktop(points, language);
    QCOMPARE(desktop.translators.isEmpty(), language == QLatin1String("en"));

    Panel panel;
    panel.config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("9"));
    panel.start();
    panel.click(88);

    // The grid at the font's scale: the screen has room for it.
    const double scale = fontScale(points);
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

void TestFit::windowStaysOnTheScreen_data()
{
    QTest::addColumn<double>("points");
    QTest::addColumn<int>("bank"); // ChNum
    for (double points : {9.0, 14.0, 18.0, 28.0}) {
        for (int bank : {1, 9})
            QTest::addRow("%g pt, %d channels", points, (bank + 1) * 10) << points << bank;
    }
}

// Large fonts on a small screen: the grid grows no larger than the screen has
// room for, the whole window on it, and no smaller than the default grid.
void TestFit::windowStaysOnTheScreen()
{
    QFETCH(double, points);
    QFETCH(int, bank);
    const Desktop desktop(points, QStringLiteral("en"));
    Panel panel;
    panel.config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QString::number(bank));
    panel.start();
    QVERIFY(QTest::qWaitForWindowExposed(panel.window.get()));
    const QRect room = panel.window->screen()->availableGeometry();
    const QRect outer = panel.window->frameGeometry();
    const double scale = twips::scale();
    QVERIFY2(room.contains(outer),
             qPrintable(QStringLiteral("%1x%2 at %3,%4 on %5x%6 at %7 pt")
                            .arg(outer.width())
                            .arg(outer.height())
                            .arg(outer.x())
                            .arg(outer.y())
                            .arg(room.width())
                            .arg(room.height())
                            .arg(points)));
    QCOMPARE(panel.window->centralWidget()->width(), qRound(9195 * scale / 15));
    QVERIFY(scale >= 1 && scale <= fontScale(points));
    // Held down, the window takes most of the screen in one direction; else it has the font's scale.
    const bool heldDown = scale < fontScale(points);
    if (heldDown) {
        panel.choose(QStringLiteral("mnuChNum(9)"));
        const QRect tallest = panel.window->frameGeometry();
        QVERIFY(room.contains(tallest));
        QVERIFY2(tallest.width() > room.width() * 9 / 10 || tallest.height() > room.height() * 9 / 10,
                 qPrintable(QStringLiteral("%1x%2 on %3x%4")
                                .arg(tallest.width())
                                .arg(tallest.height())
                                .arg(room.width())
                                .arg(room.height())));
    }
    // 1226 px at 18 pt: wider than the screen this runs on.
    QVERIFY(heldDown || points < 18);
}

void TestFit::digitsAreWholeAndBold_data()
{
    QTest::addColumn<QString>("family"); // the desktop's standard font
    QTest::addColumn<double>("points");
    QTest::addColumn<QString>("language");
    // NanumGothic sets its digits below the baseline, as Korean desktops have it.
    for (const char *family : {"DejaVu Sans", "NanumGothic"}) {
        for (double points : {9.0, 14.0, 18.0}) {
            for (const char *language : {"en", "ko"})
                QTest::addRow("%s %g pt %s", family, points, language)
                    << QString::fromLatin1(family) << points << QString::fromLatin1(language);
        }
    }
}

// Every digit whole in the display, in a bold face, whatever the desktop's
// font and language (the fonts that stand in for a missing one differ by locale).
void TestFit::digitsAreWholeAndBold()
{
    QFETCH(QString, family);
    QFETCH(double, points);
    QFETCH(QString, language);
    if (!QFontDatabase::hasFamily(family))
        QSKIP("the font is not installed");
    const Desktop desktop(points, language, family);
    Panel panel;
    panel.config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("9"));
    panel.start();
    QLabel *display = panel.display();
    for (int channel : {0, 38, 69}) {
        panel.click(channel);
        QTextLayout layout(display->text(), display->font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun &run : layout.glyphRuns()) {
            QVERIFY2(run.rawFont().weight() >= QFont::Bold, qPrintable(run.rawFont().familyName()));
            // Without Gulim, the desktop's font rather than whatever the locale would put in its place.
            if (!QFontDatabase::hasFamily(QStringLiteral("굴림")))
                QCOMPARE(run.rawFont().familyName(), drawingFamily(QApplication::font()));
        }
        // The label as drawn, against the same digits drawn with room to spare: no ink may be missing.
        QImage drawn(display->size() * 2, QImage::Format_ARGB32);
        drawn.fill(Qt::white);
        display->render(&drawn, {}, {}, QWidget::DrawChildren);
        QImage whole(drawn.size(), QImage::Format_ARGB32);
        whole.fill(Qt::white);
        QPainter painter(&whole);
        painter.setFont(display->font());
        painter.setPen(display->palette().color(QPalette::WindowText));
        painter.drawText(QRect(display->contentsRect().topLeft(), whole.size()), Qt::AlignLeft | Qt::AlignTop,
                         display->text());
        painter.end();
        QCOMPARE(inkIn(drawn), inkIn(whole));
    }
    Fit fit;
    fit.display(display, panel.child<QGroupBox>(QStringLiteral("fraCh")));
    QVERIFY2(fit.problems.isEmpty(), qPrintable(fit.problems.join(QStringLiteral("; "))));
}

QTEST_MAIN(TestFit)
#include "test_fit.moc"
