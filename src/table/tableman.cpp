#include "table/tableman.h"

#include "onewire/romid.h"
#include "base/clock.h"
#include "base/cpumeter.h"
#include "model/alarmboard.h"
#include "model/sensordevice.h"
#include "sensors/sensor.h"
#include "sensors/shownnames.h"
#include "table/recorder.h"

#include <QCoreApplication>
#include <QBrush>
#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QtEndian>
#include <algorithm>
#include <iterator>
#include <cmath>

namespace {

QString fixed2(double x)
{
    return QString::number(x, 'f', 2);
}

// NaN shows as "---"; a value with the digits its chip resolves.
QString valueText(double x, int decimals = 2)
{
    return std::isnan(x) ? QStringLiteral("---") : QString::number(x, 'f', decimals);
}

} // namespace

// Translated when shown: the translator is installed after static set-up.
const char *const kHeaders[TableMan::ColumnCount] = {
    QT_TRANSLATE_NOOP("TableMan", "Серийный номер 1W"),
    QT_TRANSLATE_NOOP("TableMan", "Канал\nдатчика"),
    QT_TRANSLATE_NOOP("TableMan", "Мультихаб\nНомер\nканала"),
    "I2C SN",
    "I2C ADDR",
    QT_TRANSLATE_NOOP("TableMan", "Тип"),
    QT_TRANSLATE_NOOP("TableMan", "Значение"),
    QT_TRANSLATE_NOOP("TableMan", "Калибровочное смещение"),
    QT_TRANSLATE_NOOP("TableMan", "Ед.изм."),
    "Exist",
    QT_TRANSLATE_NOOP("TableMan", "Отклон. канал 0"),
    QT_TRANSLATE_NOOP("TableMan", "Отклон. канал 1"),
    QT_TRANSLATE_NOOP("TableMan", "Имя файла"),
};

TableMan::TableMan(Recorder *recorder)
    : recorder(recorder)
{
    std::fill(std::begin(columnShown), std::end(columnShown), true);
}

void TableMan::init(QVector<SensorDevice *> *devices)
{
    channelMask = 0xFF;
    if (devices)
        this->devices = devices;

    beginResetModel();
    rows.clear();
    indexStale = true;
    endResetModel();
    std::fill(std::begin(columnShown), std::end(columnShown), true);
    if (outputFolder.isEmpty())
        columnShown[ColFileName] = false;
    shownDirty = true;

    update();

    for (int column : {ColCalibration, ColExist, ColI2cAddress, ColDeviation0, ColDeviation1})
        setColumnShown(column, false);
    emit shownChanged();
    shownDirty = false;
}

int TableMan::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int TableMan::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(ColumnCount);
}

QVariant TableMan::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size() || index.column() >= ColumnCount)
        return QVariant();
    const Row &row = rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return shownText(index.row(), index.column());
    case Qt::ForegroundRole:
        if (row.stale || row.missing)
            return QBrush(QColor(150, 150, 150));
        return QVariant();
    case Qt::BackgroundRole:
        if (index.column() == ColValue && alarmBoard) {
            switch (alarmBoard->state(row.id)) {
            case AlarmState::High:
                return QBrush(QColor(255, 150, 150));
            case AlarmState::Low:
                return QBrush(QColor(150, 190, 255));
            case AlarmState::NoData:
                return QBrush(QColor(255, 205, 120));
            case AlarmState::Normal:
                break;
            }
        }
        if ((index.column() == ColValue || index.column() == ColType) && row.hardwareAlarm)
            return QBrush(QColor(255, 200, 160));
        return QVariant();
    case Qt::ToolTipRole:
        if (index.column() == ColFileName && !row.cells[ColFileName].isEmpty())
            return QDir::toNativeSeparators(row.cells[ColFileName]);
        if (index.column() == ColValue) {
            const QString limits = alarmTip(index.row());
            const QString tip = row.tip.isEmpty() ? limits : limits.isEmpty() ? row.tip : row.tip + QLatin1Char('\n') + limits;
            if (!tip.isEmpty())
                return tip;
        }
        return QVariant();
    default:
        return QVariant();
    }
}

void TableMan::setAlarmBoard(const AlarmBoard *board)
{
    if (alarmBoard)
        disconnect(alarmBoard, nullptr, this, nullptr);
    alarmBoard = board;
    if (!board)
        return;
    connect(board, &AlarmBoard::changed, this, [this](const ChannelId &id) {
        const int row = findRow(id);
        if (row >= 0)
            emit dataChanged(index(row, ColValue), index(row, ColValue),
                             {Qt::DisplayRole, Qt::BackgroundRole, Qt::ToolTipRole});
    });
}

// What a cell shows; the cell's own text (cellText) stays what the records
// and files say.
QString TableMan::shownText(int row, int column) const
{
    const Row &r = rows.at(row);
    switch (column) {
    case ColValue: {
        const QString mark = alarmMark(row);
        return mark.isEmpty() ? r.cells[ColValue] : r.cells[ColValue] + QLatin1Char(' ') + mark;
    }
    case ColType: {
        // The mark is shown beside the type, so the value cell (which the
        // charts and copies take as the value) stays the number.
        const QString type = ShownNames::type(r.cells[ColType]);
        return r.hardwareAlarm ? type + QStringLiteral(" — ") + hardwareAlarmText() : type;
    }
    case ColHubChannel:
        // A device on the 1-Wire bus itself is behind no hub.
        return r.id.hubChannel < 0 ? QString() : r.cells[ColHubChannel];
    case ColUnit:
        return ShownNames::unit(r.cells[ColUnit]);
    case ColFileName:
        // The folder is the same for every row: the tooltip has it.
        return QFileInfo(r.cells[ColFileName]).fileName();
    default:
        return r.cells[column];
    }
}

QString TableMan::alarmMark(int row) const
{
    if (!alarmBoard || row < 0 || row >= rows.size())
        return QString();
    switch (alarmBoard->state(rows.at(row).id)) {
    case AlarmState::High:
        return tr("▲ ВЫШЕ ПОРОГА");
    case AlarmState::Low:
        return tr("▼ НИЖЕ ПОРОГА");
    case AlarmState::NoData:
        return tr("⚠ НЕТ ДАННЫХ");
    case AlarmState::Normal:
        break;
    }
    return QString();
}

QString TableMan::alarmTip(int row) const
{
    if (!alarmBoard || row < 0 || row >= rows.size())
        return QString();
    const AlarmLimits limits = alarmBoard->limits(rows.at(row).id);
    if (!limits.isSet())
        return QString();
    QStringList parts;
    if (limits.hasLow())
        parts << tr("нижний %1").arg(fixed2(limits.low));
    if (limits.hasHigh())
        parts << tr("верхний %1").arg(fixed2(limits.high));
    if (limits.hysteresis != 0)
        parts << tr("гистерезис %1").arg(fixed2(limits.hysteresis));
    if (limits.delay > 1)
        parts << tr("задержка %n показаний", nullptr, limits.delay);
    if (limits.noDataCycles > 0)
        parts << tr("нет данных после %n циклов", nullptr, limits.noDataCycles);
    return tr("Пороги тревоги: %1").arg(parts.join(QStringLiteral(", ")));
}

QString TableMan::hardwareAlarmText()
{
    return tr("аппаратная тревога");
}

// A thermometer's own TH/TL as its last sound scratchpad gave them, and its
// hardware alarm; empty for a channel without them.
QString TableMan::thresholdsText(const SensorChannel &channel, bool hardwareAlarm)
{
    if (std::isnan(channel.alarmHigh) || std::isnan(channel.alarmLow))
        return QString();
    const QString range = tr("Пороги датчика: TL %1 °C, TH %2 °C")
                              .arg(QLocale::c().toString(channel.alarmLow), QLocale::c().toString(channel.alarmHigh));
    if (!hardwareAlarm)
        return range;
    return range + QLatin1Char('\n')
        + tr("Аппаратная тревога: последнее преобразование вышло за пороги датчика");
}

void TableMan::setRowState(int row, const SensorChannel &channel)
{
    Row &r = rows[row];
    const QString when = channel.time.isValid()
        ? channel.time.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) : tr("время неизвестно");
    // Not filled by its device's latest read: it did not answer (the device
    // list keeps such a channel one search pass more before it drops it).
    const bool missing = channel.missed;
    const bool stale = !missing && staleAfterMs > 0 && channel.time.isValid()
        && channel.time.msecsTo(Clock::now()) > staleAfterMs;
    QString tip;
    if (missing)
        tip = tr("Датчик не ответил в последнем цикле; последнее показание: %1 (%2)")
                  .arg(valueText(channel.value), when);
    else if (std::isnan(channel.value))
        tip = tr("Нет значения: %1 (попытка %2)")
                  .arg(channel.failure.isEmpty() ? tr("причина неизвестна") : Sensor::failureText(channel.failure), when);
    if (stale)
        tip = (tip.isEmpty() ? QString() : tip + QLatin1Char('\n'))
            + tr("Показание устарело: получено %1, новых нет дольше двух интервалов").arg(when);
    const bool hardwareAlarm = channel.hardwareAlarm && !missing;
    const QString thresholds = thresholdsText(channel, hardwareAlarm);
    if (!thresholds.isEmpty())
        tip = (tip.isEmpty() ? QString() : tip + QLatin1Char('\n')) + thresholds;
    if (r.stale == stale && r.missing == missing && r.tip == tip && r.hardwareAlarm == hardwareAlarm)
        return;
    r.stale = stale;
    r.missing = missing;
    r.hardwareAlarm = hardwareAlarm;
    r.tip = tip;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1),
                     {Qt::DisplayRole, Qt::ForegroundRole, Qt::BackgroundRole, Qt::ToolTipRole});
}

QVariant TableMan::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return tr(kHeaders[section]);
}

QString TableMan::cellText(int row, int column) const
{
    if (row < 0 || row >= rows.size() || column < 0 || column >= ColumnCount)
        return QString();
    return rows.at(row).cells[column];
}

void TableMan::setCellText(int row, int column, const QString &text)
{
    QString &cell = rows[row].cells[column];
    if (cell == text)
        return;
    cell = text;
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
}

void TableMan::setColumnShown(int column, bool shown)
{
    if (columnShown[column] == shown)
        return;
    columnShown[column] = shown;
    shownDirty = true;
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
        emit updated();
    } while (updateAgain);
    updating = false;
}

// Rows of a device whose driver is at work stay as they are until it is done.
void TableMan::keepRowsOf(uint64_t deviceKey)
{
    for (int row = 0; row < rows.size(); ++row) {
        if (rows.at(row).id.deviceKey == deviceKey)
            setCellText(row, ColExist, QStringLiteral("1"));
    }
}

void TableMan::updateOnce()
{
    averageValue = 0;
    if (!devices)
        return;
    CpuMeter::Scope meter(CpuMeter::Table);

    for (int row = 0; row < rows.size(); ++row)
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
            if (!channels.isEmpty())
                keepRowsOf(ChannelId::of(*device, 0).deviceKey);
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
            // Counts and states are no measure to average with the others.
            if (channel.subchannel == 0 && channel.kind() == ChannelKind::Value) {
                sum += channel.value;
                ++count;
            }
        }
    }

    // Rows not refreshed above belong to vanished, dropped or masked channels.
    for (int row = rows.size() - 1; row >= 0; --row) {
        if (rows.at(row).cells[ColExist] == QLatin1String("0")) {
            beginRemoveRows(QModelIndex(), row, row);
            rows.remove(row);
            endRemoveRows();
            indexStale = true;
        }
    }

    setColumnShown(ColI2cSerial, anyI2cSerial);
    setColumnShown(ColHubChannel, anyHub);
    setColumnShown(ColCalibration, anyEmulator && pt100Mode);
    emit btnCalibrateStatusChange(anyEmulator);
    setColumnShown(ColSubchannel, anySubchannel);

    if (count > 0)
        averageValue = sum / count;

    setFilter(filter);
}

void TableMan::refreshDevice(SensorDevice &device)
{
    const bool recording = recorder && !recorder->folder().isEmpty();
    for (int index = 0; index < device.channels.size(); ++index) {
        const SensorChannel &channel = device.channels.at(index);
        if (!SensorChannel::selectedBy(channelMask, channel.subchannel))
            continue;
        const int row = findRow(ChannelId::of(device, index));
        if (row < 0) {
            if (recording) {
                CpuMeter::Scope writing(CpuMeter::Files);
                recorder->writeHeader(device, index);
                recorder->appendReading(device, index);
            }
            appendRow(device, index);
        } else {
            refreshRow(row, device, index);
            if (recording && !recorder->isWritten(device, index)) {
                CpuMeter::Scope writing(CpuMeter::Files);
                recorder->appendReading(device, index);
                setCellText(row, ColFileName, recorder->fileNameOf(ChannelId::of(device, index)));
            }
        }
    }
}

void TableMan::appendRow(const SensorDevice &device, int index)
{
    const SensorChannel &channel = device.channels.at(index);
    Row row;
    row.id = ChannelId::of(device, index);
    const QString texts[ColumnCount] = {
        romToText(device.rom, false),
        QString::number(channel.subchannel),
        QString::number(channel.hubChannel),
        channel.i2cSerialText(),
        QString::number(channel.i2cAddress),
        channel.type,
        valueText(channel.value, channel.decimals()),
        channel.isEmulator ? QString::number(channel.calibration, 'g', 6) : QString(),
        channel.unit,
        QStringLiteral("1"),
        fixed2(0),
        fixed2(0),
        recorder ? recorder->fileNameOf(row.id) : QString(),
    };
    std::copy(std::begin(texts), std::end(texts), std::begin(row.cells));
    const int at = rows.size();
    beginInsertRows(QModelIndex(), at, at);
    rows.append(row);
    endInsertRows();
    setRowState(at, channel);
    if (rows.at(at).missing)
        setCellText(at, ColValue, QStringLiteral("---"));
    if (!indexStale && !rowIndex.contains(row.id))
        rowIndex.insert(row.id, at);
}

void TableMan::refreshRow(int row, const SensorDevice &device, int index)
{
    const SensorChannel &channel = device.channels.at(index);
    setCellText(row, ColType, channel.type);
    setRowState(row, channel);
    setCellText(row, ColValue, rows.at(row).missing ? QStringLiteral("---") : valueText(channel.value, channel.decimals()));
    setCellText(row, ColExist, QStringLiteral("1"));
    setCellText(row, ColCalibration, fixed2(channel.calibration));

    const bool anySample = isSampleSet(sample0) || isSampleSet(sample1);
    // A count or a state deviates from no reference value.
    if (channel.kind() != ChannelKind::Value) {
        if (anySample) {
            setCellText(row, ColDeviation0, QStringLiteral("."));
            setCellText(row, ColDeviation1, QStringLiteral("."));
        }
    } else if (channel.subchannel == 0) {
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

void TableMan::rebuildRowIndex() const
{
    rowIndex.clear();
    rowIndex.reserve(rows.size());
    for (int row = 0; row < rows.size(); ++row) {
        if (!rowIndex.contains(rows.at(row).id))
            rowIndex.insert(rows.at(row).id, row);
    }
    indexStale = false;
}

int TableMan::findRow(const ChannelId &id) const
{
    if (indexStale)
        rebuildRowIndex();
    return rowIndex.value(id, -1);
}

int TableMan::findRow(const QString &romText, int subchannel, int hubChannel, int i2cAddress) const
{
    bool ok = false;
    const quint64 reversed = romText.toULongLong(&ok, 16);
    if (!ok || romText.size() != 16)
        return -1;
    // The text shows the CRC first; the key holds it in its low byte.
    return findRow(ChannelId{qbswap(reversed), subchannel, hubChannel, i2cAddress});
}

void TableMan::setFilter(const QString &text)
{
    filter = text;
    const QString wanted = text.trimmed();
    for (int i = 0; i < rows.size(); ++i) {
        Row &row = rows[i];
        const bool shown = wanted.isEmpty() || matchesFilter(i, wanted);
        if (row.shown != shown) {
            row.shown = shown;
            shownDirty = true;
        }
    }
    if (shownDirty) {
        shownDirty = false;
        emit shownChanged();
    }
}

// The ROM, the I2C serial number and the type, as the records have them and
// as the row shows them, ignoring case.
bool TableMan::matchesFilter(int row, const QString &text) const
{
    const Row &r = rows.at(row);
    for (const QString &field : {r.cells[ColRom], r.cells[ColI2cSerial], r.cells[ColType], shownText(row, ColType)}) {
        if (field.contains(text, Qt::CaseInsensitive))
            return true;
    }
    return false;
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
