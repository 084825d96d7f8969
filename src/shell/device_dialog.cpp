#include "shell/device_dialog.h"

#include "link/settings_text.h"
#include "shell/accessibility.h"

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

DeviceDialog::DeviceDialog(const QList<SerialDevice> &devices, const QString &port, const QByteArray &current,
                           QWidget *parent)
    : QDialog(parent)
    , m_devices(devices)
    , m_chosen(current)
{
    setObjectName(QStringLiteral("deviceDialog"));
    setWindowTitle(tr("Choose Device for %1").arg(port));
    setModal(true);
    auto *layout = new QVBoxLayout(this);

    auto *listLabel = new QLabel(tr("&Devices plugged in:"), this);
    layout->addWidget(listLabel);
    lstDevices = new QTreeWidget(this);
    lstDevices->setObjectName(QStringLiteral("lstDevices"));
    lstDevices->setHeaderLabels(
        {tr("Device"), tr("System path"), tr("Description"), tr("Manufacturer"), tr("Serial number")});
    lstDevices->setRootIsDecorated(false);
    lstDevices->setUniformRowHeights(true);
    lstDevices->setAllColumnsShowFocus(true);
    lstDevices->setSelectionMode(QAbstractItemView::SingleSelection);
    listLabel->setBuddy(lstDevices);
    lstDevices->setAccessibleName(spokenCaption(listLabel->text()));
    for (const SerialDevice &device : std::as_const(m_devices)) {
        // Bytes that are not UTF-8 show as \xNN; the path stored is the bytes themselves.
        auto *item = new QTreeWidgetItem(lstDevices,
                                         {settings_text::forDisplay(device.storedPath()),
                                          settings_text::forDisplay(device.systemPath), device.description,
                                          device.manufacturer, device.serialNumber});
        item->setToolTip(0, item->text(0));
    }
    for (int column = 0; column < lstDevices->columnCount(); ++column)
        lstDevices->resizeColumnToContents(column);
    // Every column whole where the screen allows: by-id links run to some 70 characters.
    int columnsWidth = 2 * lstDevices->frameWidth() + lstDevices->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < lstDevices->columnCount(); ++column)
        columnsWidth += lstDevices->columnWidth(column);
    const int width = qMin(qMax(columnsWidth, fontMetrics().averageCharWidth() * kMinWidthChars),
                           screen()->availableGeometry().width() * 8 / 10);
    lstDevices->setMinimumSize(width, lstDevices->header()->sizeHint().height() + fontMetrics().height() * kListRows);
    layout->addWidget(lstDevices);

    auto *none = new QLabel(tr("No serial devices found"), this);
    none->setObjectName(QStringLiteral("lblNoDevices"));
    none->setTextFormat(Qt::PlainText);
    layout->addWidget(none);
    none->setVisible(m_devices.isEmpty());
    listLabel->setVisible(!m_devices.isEmpty());
    lstDevices->setVisible(!m_devices.isEmpty());

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
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Selection, not the current row: the list makes its first row current when it takes the focus.
    connect(lstDevices, &QTreeWidget::itemSelectionChanged, this, &DeviceDialog::deviceChosen);
    connect(lstDevices, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (cmdOK->isEnabled())
            accept();
    });
    connect(txtPath, &QLineEdit::textEdited, this, &DeviceDialog::pathEdited);

    // The device the port is on now, where the list has it.
    for (int row = 0; row < m_devices.size(); ++row) {
        const SerialDevice &device = m_devices.at(row);
        if (!current.isEmpty() && (current == device.systemPath || current == device.stableLink)) {
            lstDevices->setCurrentItem(lstDevices->topLevelItem(row));
            break;
        }
    }
    if (m_devices.isEmpty())
        txtPath->setFocus();
    else
        lstDevices->setFocus();
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
