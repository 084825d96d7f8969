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

    lblIntroduction = new QLabel(this);
    lblIntroduction->setObjectName(QStringLiteral("lblIntroduction"));
    lblIntroduction->setTextFormat(Qt::PlainText);
    lblIntroduction->setWordWrap(true);
    lblIntroduction->hide();
    layout->addWidget(lblIntroduction);

    m_listLabel = new QLabel(tr("&Devices plugged in:"), this);
    layout->addWidget(m_listLabel);
    lstDevices = new QTreeWidget(this);
    lstDevices->setObjectName(QStringLiteral("lstDevices"));
    lstDevices->setHeaderLabels(
        {tr("Device"), tr("System path"), tr("In use by"), tr("Description"), tr("Manufacturer"), tr("Serial number")});
    lstDevices->setRootIsDecorated(false);
    lstDevices->setUniformRowHeights(true);
    lstDevices->setAllColumnsShowFocus(true);
    lstDevices->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listLabel->setBuddy(lstDevices);
    lstDevices->setAccessibleName(spokenCaption(m_listLabel->text()));
    layout->addWidget(lstDevices);

    lblNoDevices = new QLabel(tr("No serial devices found"), this);
    lblNoDevices->setObjectName(QStringLiteral("lblNoDevices"));
    lblNoDevices->setTextFormat(Qt::PlainText);
    layout->addWidget(lblNoDevices);

    auto *form = new QFormLayout;
    txtPath = new QLineEdit(settings_text::forDisplay(current), this);
    txtPath->setObjectName(QStringLiteral("txtPath"));
    txtPath->setMinimumWidth(fontMetrics().averageCharWidth() * kMinWidthChars);
    auto *pathLabel = new QLabel(tr("&Path:"), this);
    pathLabel->setBuddy(txtPath);
    txtPath->setAccessibleName(spokenCaption(pathLabel->text()));
    form->addRow(pathLabel, txtPath);
    layout->addLayout(form);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    cmdOK = buttons->button(QDialogButtonBox::Ok);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setText(tr("&Open"));
    cmdOK->setDefault(true); // Enter in the list or the field opens
    cmdOK->setEnabled(!m_chosen.isEmpty());
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdCancel"));
    QPushButton *refreshButton = buttons->addButton(tr("&Refresh"), QDialogButtonBox::ActionRole);
    refreshButton->setObjectName(QStringLiteral("cmdRefresh"));
    refreshButton->setAutoDefault(false);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(refreshButton, &QPushButton::clicked, this, &DeviceDialog::refresh);
    // Selection, not the current row: the list makes its first row current when it takes the focus.
    connect(lstDevices, &QTreeWidget::itemSelectionChanged, this, &DeviceDialog::deviceChosen);
    connect(lstDevices, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (cmdOK->isEnabled())
            accept();
    });
    connect(txtPath, &QLineEdit::textEdited, this, &DeviceDialog::pathEdited);
    connect(new DeviceWatch(m_folder, this), &DeviceWatch::changed, this, &DeviceDialog::refresh);

    refresh();
    // The device the port is on now, where the list has it, is chosen by its stored path.
    deviceChosen();
    if (m_devices.isEmpty())
        txtPath->setFocus();
    else
        lstDevices->setFocus();
}

void DeviceDialog::setIntroduction(const QString &text)
{
    lblIntroduction->setText(text);
    lblIntroduction->setVisible(!text.isEmpty());
    // Screen readers say it as the dialog opens.
    setAccessibleDescription(text);
}

void DeviceDialog::refresh()
{
    m_devices = m_lister(m_folder);
    // Rebuilt quietly: the choice stays what it was, listed or not.
    const QSignalBlocker quiet(lstDevices);
    lstDevices->clear();
    for (const SerialDevice &device : std::as_const(m_devices)) {
        // Bytes that are not UTF-8 show as \xNN; the path stored is the bytes themselves.
        auto *item = new QTreeWidgetItem(lstDevices,
                                         {settings_text::forDisplay(device.storedPath()),
                                          settings_text::forDisplay(device.systemPath), holderOf(device),
                                          device.description, device.manufacturer, device.serialNumber});
        item->setToolTip(0, item->text(0));
        if (!m_chosen.isEmpty() && (m_chosen == device.systemPath || m_chosen == device.stableLink))
            lstDevices->setCurrentItem(item);
    }
    fitList();
    const bool listed = !m_devices.isEmpty();
    // Moved off the list as it goes, the focus stays in the dialog.
    if (!listed && lstDevices->hasFocus())
        txtPath->setFocus();
    lblNoDevices->setVisible(!listed);
    m_listLabel->setVisible(listed);
    lstDevices->setVisible(listed);
}

// Every column whole where the screen allows: by-id links run to some 70 characters.
void DeviceDialog::fitList()
{
    for (int column = 0; column < lstDevices->columnCount(); ++column)
        lstDevices->resizeColumnToContents(column);
    int columnsWidth = 2 * lstDevices->frameWidth() + lstDevices->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < lstDevices->columnCount(); ++column)
        columnsWidth += lstDevices->columnWidth(column);
    const int width = qMin(qMax(columnsWidth, fontMetrics().averageCharWidth() * kMinWidthChars),
                           screen()->availableGeometry().width() * 8 / 10);
    lstDevices->setMinimumSize(width, lstDevices->header()->sizeHint().height() + fontMetrics().height() * kListRows);
}

void DeviceDialog::deviceChosen()
{
    const QList<QTreeWidgetItem *> selected = lstDevices->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = lstDevices->indexOfTopLevelItem(selected.first());
    m_chosen = m_devices.at(row).storedPath();
    txtPath->setText(settings_text::forDisplay(m_chosen));
    cmdOK->setEnabled(true);
}

void DeviceDialog::pathEdited(const QString &text)
{
    // Blanks around a typed or pasted path are taken for slips of the hand.
    m_chosen = QFile::encodeName(text.trimmed());
    // The list no longer names the choice.
    const QSignalBlocker quiet(lstDevices);
    lstDevices->clearSelection();
    cmdOK->setEnabled(!m_chosen.isEmpty());
}

} // namespace queltor
