#pragma once

#include "model/channelid.h"
#include "table/nosample.h"

#include <QHash>
#include <QAbstractTableModel>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>

class AlarmBoard;
class Recorder;
struct SensorChannel;
struct SensorDevice;

// The sensor table's state, kept in step with the device records: one row per
// shown channel of every present device. Each update refreshes or creates
// rows, drops the rows of vanished channels, decides which optional columns
// are shown, computes the channel-0 average, shows the deviations from the two
// reference samples and hands every new reading to the Recorder. A model the
// window's table view shows; without a view (orvexctl) it works the same.
class TableMan : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        ColRom = 0,
        ColSubchannel = 1,
        ColHubChannel = 2,
        ColI2cSerial = 3,
        ColI2cAddress = 4,  // never shown: part of the row's identity
        ColType = 5,
        ColValue = 6,
        ColCalibration = 7,
        ColUnit = 8,
        ColExist = 9,       // never shown: "1" for rows seen in the current update
        ColDeviation0 = 10,
        ColDeviation1 = 11,
        ColFileName = 12,   // full path of the channel's measurement file
        ColumnCount = 13
    };

    // `recorder` (not owned, may be null) writes the files while its folder is set.
    explicit TableMan(Recorder *recorder);

    void setOutputFolder(const QString &folder) { outputFolder = folder; }
    // The run's alarms (not owned; null: none): a channel in alarm has its
    // value cell coloured and marked in words, its limits in the tooltip.
    void setAlarmBoard(const AlarmBoard *board);
    // The words after the value of a channel in alarm ("" when none).
    QString alarmMark(int row) const;
    // The channel's limits for the value cell's tooltip ("" without limits).
    QString alarmTip(int row) const;
    // Resets the rows and the columns shown, attaches the device list (null
    // keeps the previous one) and runs update(). The list is read in place
    // and never owned; update() removes channels that are no longer live from it.
    void init(QVector<SensorDevice *> *devices);
    // A device being read (SensorDevice::beingRead) keeps its rows as they
    // are; its readings are shown and recorded by the next update after the
    // read. Called again while it runs, it makes one more pass at its end.
    void update();
    // An update is in progress (code run by events inside it sees this).
    bool isUpdating() const { return updating; }

    // Bit n set: channels with subchannel n are shown and recorded. The
    // caller runs update() afterwards. The measurement session sets it for
    // every output at once (MeasurementSession::setChannelMask).
    void setChannelMask(uint8_t mask) { channelMask = mask; }
    // NO_SAMPLE clears a sample. The caller runs update() afterwards.
    void setSample0(double sample) { sample0 = sample; }
    void setSample1(double sample) { sample1 = sample; }
    // Reference sample 0 or 1 (NO_SAMPLE when not set).
    double sample(int which) const { return which == 0 ? sample0 : sample1; }
    // Shows only the rows whose ROM, I2C serial number or type (as recorded
    // or as shown) contains `text`, ignoring case and surrounding blanks; an
    // empty text shows every row.
    void setFilter(const QString &text);
    // A reading older than this (ms; 0: never) is shown as stale, greyed
    // with its time in the tooltip, until a fresh one arrives. The window
    // sets two measurement intervals.
    void setStaleAfterMs(qint64 ms) { staleAfterMs = ms; }
    // The window's "-pt100" switch: the calibration column is shown for
    // emulators only with it. Off until set; takes effect at the next update().
    void setPt100Mode(bool on) { pt100Mode = on; }
    // Whether the row shows an old reading (stale) or a channel that did not
    // answer in the last cycle (missing, kept until the device list drops it).
    bool isRowStale(int row) const { return rows.at(row).stale; }
    bool isRowMissing(int row) const { return rows.at(row).missing; }
    // The value cell's tooltip: why a "---", or how old a stale reading is,
    // and a thermometer's own thresholds and hardware alarm.
    QString valueTip(int row) const { return rows.at(row).tip; }
    // The row's thermometer answered the last Alarm Search: its type cell
    // says so in words (hardwareAlarmText), and it and the value are coloured.
    bool isRowHardwareAlarm(int row) const { return rows.at(row).hardwareAlarm; }
    static QString hardwareAlarmText();

    // Mean of every live channel-0 value found by the last update (0 when
    // there was none, NaN when one of them was NaN).
    double average() const { return averageValue; }

    // Leave calibration (against sample 0) or sub-type write requests in
    // every live channel of every present device, shown or not.
    void requestCalibration(bool reset);
    void requestSubtype(uint8_t subtype);

    // The first row showing this channel, or -1.
    int findRow(const ChannelId &id) const;
    // The same by the texts a row shows: the ROM (CRC first), subchannel,
    // hub channel and I2C address byte.
    int findRow(const QString &romText, int subchannel, int hubChannel, int i2cAddress) const;
    // The channel a row shows.
    ChannelId channelAt(int row) const { return rows.at(row).id; }
    QString cellText(int row, int column) const;
    // What the view shows in the cell: the value with its alarm words, the
    // type in the window's language (with a hardware alarm), no hub channel
    // for a device behind none, the unit as people write it, the file's name
    // without its folder.
    QString shownText(int row, int column) const;
    int rowTotal() const { return rows.size(); }
    // What the view hides: columns the table leaves out, rows the filter leaves out.
    bool isColumnShown(int column) const { return columnShown[column]; }
    bool isRowShown(int row) const { return rows.at(row).shown; }
    void refreshDevice(SensorDevice &device);

    // QAbstractTableModel: display texts, grey text and tooltips for stale
    // and missing rows, the whole path as the file column's tooltip, and the header.
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // Whether some live channel belongs to a Pt100 emulator; sent on every update.
    void btnCalibrateStatusChange(bool status);
    // An update has refreshed the rows and handed the new readings to the
    // recorder (sent after every update, also one made outside a cycle).
    void updated();
    // Columns or rows were shown or hidden: the view follows.
    void shownChanged();

private:
    struct Row
    {
        ChannelId id;
        QString cells[ColumnCount];
        bool shown = true;
        bool stale = false;
        bool missing = false;
        bool hardwareAlarm = false;
        QString tip;
    };

    // The row's stale, missing and hardware alarm state and value tooltip,
    // from its channel.
    void setRowState(int row, const SensorChannel &channel);
    static QString thresholdsText(const SensorChannel &channel, bool hardwareAlarm);

    void updateOnce();
    bool matchesFilter(int row, const QString &text) const;
    void keepRowsOf(uint64_t deviceKey);
    // Every live channel of every present device, shown or not.
    void forEachLiveChannel(const std::function<void(SensorChannel &)> &action);
    void setCellText(int row, int column, const QString &text);
    void setColumnShown(int column, bool shown);
    void appendRow(const SensorDevice &device, int index);
    void refreshRow(int row, const SensorDevice &device, int index);
    void rebuildRowIndex() const;

    Recorder *recorder;
    const AlarmBoard *alarmBoard = nullptr;
    QVector<SensorDevice *> *devices = nullptr;
    QVector<Row> rows;
    bool columnShown[ColumnCount];
    bool shownDirty = false;
    uint8_t channelMask = 0xFF;
    QString outputFolder;
    double sample0 = NO_SAMPLE;
    double sample1 = NO_SAMPLE;
    QString filter;
    double averageValue = 0;
    qint64 staleAfterMs = 0;
    bool pt100Mode = false;
    bool updating = false;
    bool updateAgain = false;
    // The first row of each channel, so that finding a channel's row does not
    // scan the rows; rebuilt after rows are removed.
    mutable QHash<ChannelId, int> rowIndex;
    mutable bool indexStale = true;
};
