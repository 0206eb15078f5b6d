#include "table/tableman.h"

#include "base/appstate.h"
#include "onewire/romid.h"
#include "base/cpumeter.h"
#include "model/sensordevice.h"
#include "table/recorder.h"

#include <QHeaderView>
#include <QTableWidget>
#include <cmath>

namespace {

QString fixed2(double x)
{
    return QString::number(x, 'f', 2);
}

// NaN shows as "---".
QString valueText(double x)
{
    return std::isnan(x) ? QStringLiteral("---") : fixed2(x);
}

} // namespace

TableMan::TableMan(QTableWidget *table)
    : QObject(nullptr)
    , table(table)
{
    if (!table)
        return;
    const QAbstractItemModel *model = table->model();
    auto forget = [this] {
        if (!appending)
            indexedRows = -1;
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, forget);
    connect(model, &QAbstractItemModel::rowsRemoved, this, forget);
    connect(model, &QAbstractItemModel::rowsMoved, this, forget);
    connect(model, &QAbstractItemModel::modelReset, this, forget);
    connect(model, &QAbstractItemModel::layoutChanged, this, forget);
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &) {
                // Columns 0 to 4 hold the identity cells; the others change on every refresh.
                if (!appending && topLeft.column() <= ColI2cAddress)
                    indexedRows = -1;
            });
}

void TableMan::init(QVector<SensorDevice *> *devices)
{
    channelMask = 0xFF;
    if (devices)
        this->devices = devices;
    if (!table)
        return;

    table->clearContents();
    table->clear();
    table->setRowCount(0);
    table->setColumnCount(ColumnCount);
    table->setHorizontalHeaderLabels({
        QStringLiteral("Серийный номер 1W"),
        QStringLiteral("Канал\nдатчика"),
        QStringLiteral("Мультихаб\nНомер\nканала"),
        QStringLiteral("I2C SN"),
        QStringLiteral("I2C ADDR"),
        QStringLiteral("Тип"),
        QStringLiteral("Значение"),
        QStringLiteral("Калибровочное смещение"),
        QStringLiteral("Ед.изм."),
        QStringLiteral("Exist"),
        QStringLiteral("Отклон. канал 0"),
        QStringLiteral("Отклон. канал 1"),
        QStringLiteral("Имя файла"),
    });
    table->setShowGrid(true);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setTextElideMode(Qt::ElideRight);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    if (outputFolder.isEmpty())
        table->hideColumn(ColFileName);

    update();

    for (int column : {ColCalibration, ColExist, ColI2cAddress, ColDeviation0, ColDeviation1})
        table->hideColumn(column);
}

QString TableMan::cellText(int row, int column) const
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

void TableMan::setCellText(int row, int column, const QString &text)
{
    QTableWidgetItem *item = table->item(row, column);
    if (item)
        item->setData(Qt::DisplayRole, text);
    else
        table->setItem(row, column, new QTableWidgetItem(text));
}

void TableMan::setColumnShown(int column, bool shown)
{
    if (table->isColumnHidden(column) == shown)
        table->setColumnHidden(column, !shown);
}

void TableMan::update()
{
    // Writing a reading logs, and logging runs GUI events: an operator command
    // may call update() inside update(). The inner call only asks for one more
    // pass, so no reading is handed to the recorder twice and no row or
    // channel vanishes under the pass in progress.
    if (updating) {
        updateAgain = true;
        return;
    }
    updating = true;
    do {
        updateAgain = false;
        updateOnce();
    } while (updateAgain);
    updating = false;
}

// Rows of a device whose driver is at work stay as they are until it is done.
void TableMan::keepRowsOf(const QString &romText)
{
    for (int row = 0; row < table->rowCount(); ++row) {
        if (cellText(row, ColRom) == romText)
            setCellText(row, ColExist, QStringLiteral("1"));
    }
}

void TableMan::updateOnce()
{
    averageValue = 0;
    if (!devices || !table)
        return;
    CpuMeter::Scope meter(CpuMeter::Table);

    rowsAdded = false;
    for (int row = 0; row < table->rowCount(); ++row)
        setCellText(row, ColExist, QStringLiteral("0"));

    bool anyI2cSerial = false;
    bool anyEmulator = false;
    bool anySubchannel = false;
    bool anyHub = false;
    double sum = 0;
    int count = 0;
    for (SensorDevice *device : *devices) {
        if (!device || !device->isPresent())
            continue;
        QVector<SensorChannel> &channels = device->channels;
        if (device->beingRead) {
            keepRowsOf(romToText(device->rom, false));
        } else {
            for (int i = channels.size() - 1; i >= 0; --i) {
                if (!channels.at(i).isLive())
                    channels.remove(i);
            }
            if (channels.isEmpty())
                continue;
            refreshDevice(*device);
        }
        // Hidden channels count too: the mask only decides what is shown.
        for (const SensorChannel &channel : qAsConst(channels)) {
            if (!channel.isLive())
                continue;
            anyI2cSerial |= channel.i2cSerialHigh != 0 || channel.i2cSerialLow != 0;
            anyEmulator |= channel.isEmulator;
            anySubchannel |= channel.subchannel != 0;
            anyHub |= channel.hubChannel >= 0;
            if (channel.subchannel == 0) {
                sum += channel.value;
                ++count;
            }
        }
    }

    // Rows not refreshed above belong to vanished, dropped or masked channels.
    for (int row = table->rowCount() - 1; row >= 0; --row) {
        if (cellText(row, ColExist) == QLatin1String("0"))
            table->removeRow(row);
    }

    setColumnShown(ColI2cSerial, anyI2cSerial);
    setColumnShown(ColHubChannel, anyHub);
    setColumnShown(ColCalibration, anyEmulator && AppState::instance().pt100Mode());
    emit btnCalibrateStatusChange(anyEmulator);
    setColumnShown(ColSubchannel, anySubchannel);

    if (count > 0)
        averageValue = sum / count;

    // New rows: widen the columns to the new texts once, not on every refresh.
    if (rowsAdded)
        table->resizeColumnsToContents();
    setFilter(filter);
}

void TableMan::refreshDevice(SensorDevice &device)
{
    if (!table)
        return;
    const QString romText = romToText(device.rom, false);
    Recorder &recorder = Recorder::instance();
    for (int index = 0; index < device.channels.size(); ++index) {
        const SensorChannel &channel = device.channels.at(index);
        if (channel.subchannel >= 8 || !(channelMask & (1u << channel.subchannel)))
            continue;
        const int row = findRow(romText, channel.subchannel, channel.hubChannel, channel.i2cAddress);
        if (row < 0) {
            if (!recorder.folder().isEmpty()) {
                CpuMeter::Scope writing(CpuMeter::Files);
                recorder.writeHeader(device, index);
                recorder.appendReading(device, index);
            }
            appendRow(device, romText, index);
        } else {
            refreshRow(row, device, index);
            if (!device.channels.at(index).writtenThisCycle && !recorder.folder().isEmpty()) {
                CpuMeter::Scope writing(CpuMeter::Files);
                recorder.appendReading(device, index);
                setCellText(row, ColFileName, device.channels.at(index).fileName);
            }
        }
        SensorChannel &shown = device.channels[index];
        if (shown.reading > shown.announcedReading) {
            shown.announcedReading = shown.reading;
            emit readingTaken(device, index);
        }
    }
}

void TableMan::appendRow(const SensorDevice &device, const QString &romText, int index)
{
    rowsAdded = true;
    const SensorChannel &channel = device.channels.at(index);
    const QString texts[ColumnCount] = {
        romText,
        QString::number(channel.subchannel),
        QString::number(channel.hubChannel),
        channel.i2cSerialText(),
        QString::number(channel.i2cAddress),
        channel.type,
        valueText(channel.value),
        channel.isEmulator ? QString::number(channel.calibration, 'g', 6) : QString(),
        channel.unit,
        QStringLiteral("1"),
        fixed2(0),
        fixed2(0),
        channel.fileName,
    };
    const int row = table->rowCount();
    const bool indexed = indexedRows == row;
    appending = true;
    table->insertRow(row);
    for (int column = 0; column < ColumnCount; ++column)
        table->setItem(row, column, new QTableWidgetItem(texts[column]));
    appending = false;
    if (indexed) {
        const QString key = rowKey(texts[ColRom], texts[ColHubChannel], texts[ColI2cAddress], texts[ColSubchannel]);
        if (!rowIndex.contains(key))
            rowIndex.insert(key, row);
        indexedRows = row + 1;
    }
}

void TableMan::refreshRow(int row, const SensorDevice &device, int index)
{
    const SensorChannel &channel = device.channels.at(index);
    setCellText(row, ColType, channel.type);
    setCellText(row, ColValue, valueText(channel.value));
    setCellText(row, ColExist, QStringLiteral("1"));
    setCellText(row, ColCalibration, fixed2(channel.calibration));

    const bool anySample = isSampleSet(sample0) || isSampleSet(sample1);
    if (channel.subchannel == 0) {
        if (isSampleSet(sample0)) {
            setColumnShown(ColDeviation0, true);
            setCellText(row, ColDeviation0, valueText(channel.value - sample0));
        }
        if (anySample)
            setCellText(row, ColDeviation1, QStringLiteral("."));
    } else if (channel.subchannel == 1) {
        if (isSampleSet(sample1)) {
            setColumnShown(ColDeviation1, true);
            setCellText(row, ColDeviation1, valueText(channel.value - sample1));
        }
        if (anySample)
            setCellText(row, ColDeviation0, QStringLiteral("."));
    }
    if (!isSampleSet(sample0))
        setColumnShown(ColDeviation0, false);
    if (!isSampleSet(sample1))
        setColumnShown(ColDeviation1, false);
}

QString TableMan::rowKey(const QString &romText, const QString &hubText, const QString &addressText,
                         const QString &subchannelText)
{
    const QChar separator(0x1F);
    return romText + separator + hubText + separator + addressText + separator + subchannelText;
}

QString TableMan::rowKeyOf(int row) const
{
    return rowKey(cellText(row, ColRom), cellText(row, ColHubChannel), cellText(row, ColI2cAddress),
                  cellText(row, ColSubchannel));
}

void TableMan::rebuildRowIndex() const
{
    rowIndex.clear();
    const int rows = table->rowCount();
    rowIndex.reserve(rows);
    for (int row = 0; row < rows; ++row) {
        const QString key = rowKeyOf(row);
        if (!rowIndex.contains(key))
            rowIndex.insert(key, row);
    }
    indexedRows = rows;
}

// The first row whose cells read exactly these texts, found through the
// index (checked against the row's cells, so a stale entry is never trusted).
int TableMan::findRow(const QString &romText, uint8_t subchannel, int hubChannel, uint8_t i2cAddress) const
{
    if (!table)
        return -1;
    const QString key =
        rowKey(romText, QString::number(hubChannel), QString::number(i2cAddress), QString::number(subchannel));
    if (indexedRows != table->rowCount())
        rebuildRowIndex();
    int row = rowIndex.value(key, -1);
    if (row >= 0 && rowKeyOf(row) != key) {
        rebuildRowIndex();
        row = rowIndex.value(key, -1);
    }
    return row;
}

void TableMan::setFilter(const QString &text)
{
    filter = text;
    if (!table)
        return;
    for (int row = 0; row < table->rowCount(); ++row) {
        const bool shown = text.isEmpty() || cellText(row, ColRom).contains(text, Qt::CaseInsensitive);
        table->setRowHidden(row, !shown);
    }
}

void TableMan::forEachLiveChannel(const std::function<void(SensorChannel &)> &action)
{
    if (!devices)
        return;
    for (SensorDevice *device : *devices) {
        if (!device || !device->isPresent())
            continue;
        for (SensorChannel &channel : device->channels) {
            if (channel.isLive())
                action(channel);
        }
    }
}

void TableMan::requestCalibration(bool reset)
{
    const float target = float(sample0);
    forEachLiveChannel([&](SensorChannel &channel) {
        channel.calibrationTarget = target;
        channel.resetCalibration = reset;
        channel.calibrateRequest = true;
    });
}

void TableMan::requestSubtype(uint8_t subtype)
{
    forEachLiveChannel([&](SensorChannel &channel) {
        channel.requestedSubtype = subtype;
        channel.subtypeWriteRequest = true;
    });
}
