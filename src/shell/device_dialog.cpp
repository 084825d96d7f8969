#include "shell/device_dialog.h"

#include "link/device_access.h"
#include "link/device_watch.h"
#include "link/settings_text.h"
#include "shell/accessibility.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace queltor {

namespace {
constexpr int kMinWidthChars = 60;
constexpr int kListRows = 8;
} // namespace

// Who keeps the device from being opened, as the port would find it: a
// program with its process number, this panel, or nobody.
QString DeviceDialog::holderOf(const SerialDevice &device)
{
    const std::optional<DeviceHolder> holder = device_access::deviceHolder(device.systemPath);
    if (!holder)
        return {};
    if (holder->pid == QCoreApplication::applicationPid())
        return tr("this panel");
    return tr("%1 (PID %2)").arg(holder->program).arg(holder->pid);
}

DeviceDialog::DeviceDialog(const QByteArray &byIdFolder, const QString &port, const QByteArray &current,
                           QWidget *parent, Lister lister)
    : QDialog(parent)
    , m_folder(byIdFolder)
    , m_lister(lister)
    , m_chosen(current)
{
    setObjectName(QStringLiteral("deviceDialog"));
    setWindowTitle(tr("Choose Device for %1").arg(port));
    setModal(true);
    auto *layout = new QVBoxLayout(this);

    m_introduction = new QLabel(this);
    m_introduction->setObjectName(QStringLiteral("lblIntroduction"));
    m_introduction->setTextFormat(Qt::PlainText);
    m_introduction->setWordWrap(true);
    m_introduction->hide();
    layout->addWidget(m_introduction);

    m_listLabel = new QLabel(tr("&Devices plugged in:"), this);
    layout->addWidget(m_listLabel);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("lstDevices"));
    m_list->setHeaderLabels(
        {tr("Device"), tr("System path"), tr("In use by"), tr("Description"), tr("Manufacturer"), tr("Serial number")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listLabel->setBuddy(m_list);
    m_list->setAccessibleName(spokenCaption(m_listLabel->text()));
    layout->addWidget(m_list);

    m_none = new QLabel(tr("No serial devices found"), this);
    m_none->setObjectName(QStringLiteral("lblNoDevices"));
    m_none->setTextFormat(Qt::PlainText);
    layout->addWidget(m_none);

    auto *form = new QFormLayout;
    m_path = new QLineEdit(settings_text::forDisplay(current), this);
    m_path->setObjectName(QStringLiteral("txtPath"));
    m_path->setMinimumWidth(fontMetrics().averageCharWidth() * kMinWidthChars);
    auto *pathLabel = new QLabel(tr("&Path:"), this);
    pathLabel->setBuddy(m_path);
    m_path->setAccessibleName(spokenCaption(pathLabel->text()));
    form->addRow(pathLabel, m_path);
    layout->addLayout(form);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setText(tr("&Open"));
    m_ok->setDefault(true); // Enter in the list or the field opens
    m_ok->setEnabled(!m_chosen.isEmpty());
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdCancel"));
    QPushButton *refreshButton = buttons->addButton(tr("&Refresh"), QDialogButtonBox::ActionRole);
    refreshButton->setObjectName(QStringLiteral("cmdRefresh"));
    refreshButton->setAutoDefault(false);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(refreshButton, &QPushButton::clicked, this, &DeviceDialog::refresh);
    // Selection, not the current row: the list makes its first row current when it takes the focus.
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &DeviceDialog::deviceChosen);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (m_ok->isEnabled())
            accept();
    });
    connect(m_path, &QLineEdit::textEdited, this, &DeviceDialog::pathEdited);
    connect(new DeviceWatch(m_folder, this), &DeviceWatch::changed, this, &DeviceDialog::refresh);

    refresh();
    // The device the port is on now, where the list has it, is chosen by its stored path.
    deviceChosen();
    if (m_devices.isEmpty())
        m_path->setFocus();
    else
        m_list->setFocus();
}

void DeviceDialog::setIntroduction(const QString &text)
{
    m_introduction->setText(text);
    m_introduction->setVisible(!text.isEmpty());
    // Screen readers say it as the dialog opens.
    setAccessibleDescription(text);
}

void DeviceDialog::refresh()
{
    m_devices = m_lister(m_folder);
    // Rebuilt quietly: the choice stays what it was, listed or not.
    const QSignalBlocker quiet(m_list);
    m_list->clear();
    for (const SerialDevice &device : std::as_const(m_devices)) {
        // Bytes that are not UTF-8 show as \xNN; the path stored is the bytes themselves.
        auto *item = new QTreeWidgetItem(m_list,
                                         {settings_text::forDisplay(device.storedPath()),
                                          settings_text::forDisplay(device.systemPath), holderOf(device),
                                          device.description, device.manufacturer, device.serialNumber});
        item->setToolTip(0, item->text(0));
        if (!m_chosen.isEmpty() && (m_chosen == device.systemPath || m_chosen == device.stableLink))
            m_list->setCurrentItem(item);
    }
    fitList();
    const bool listed = !m_devices.isEmpty();
    // Moved off the list as it goes, the focus stays in the dialog.
    if (!listed && m_list->hasFocus())
        m_path->setFocus();
    m_none->setVisible(!listed);
    m_listLabel->setVisible(listed);
    m_list->setVisible(listed);
}

// Every column whole where the screen allows: by-id links run to some 70 characters.
void DeviceDialog::fitList()
{
    for (int column = 0; column < m_list->columnCount(); ++column)
        m_list->resizeColumnToContents(column);
    int columnsWidth = 2 * m_list->frameWidth() + m_list->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < m_list->columnCount(); ++column)
        columnsWidth += m_list->columnWidth(column);
    const int width = qMin(qMax(columnsWidth, fontMetrics().averageCharWidth() * kMinWidthChars),
                           screen()->availableGeometry().width() * 8 / 10);
    m_list->setMinimumSize(width, m_list->header()->sizeHint().height() + fontMetrics().height() * kListRows);
}

void DeviceDialog::deviceChosen()
{
    const QList<QTreeWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = m_list->indexOfTopLevelItem(selected.first());
    m_chosen = m_devices.at(row).storedPath();
    m_path->setText(settings_text::forDisplay(m_chosen));
    m_ok->setEnabled(true);
}

void DeviceDialog::pathEdited(const QString &text)
{
    // Blanks around a typed or pasted path are taken for slips of the hand.
    m_chosen = QFile::encodeName(text.trimmed());
    // The list no longer names the choice.
    const QSignalBlocker quiet(m_list);
    m_list->clearSelection();
    m_ok->setEnabled(!m_chosen.isEmpty());
}

} // namespace queltor
