#pragma once

#include "table/nosample.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>

class QTableWidget;
struct SensorChannel;
struct SensorDevice;

// Keeps the main window's sensor table in step with the device records: one
// row per shown channel of every present device. Each update refreshes or
// creates rows, drops the rows of vanished channels, decides the optional
// columns, computes the channel-0 average, shows the deviations from the two
// reference samples and hands every new reading to the Recorder.
class TableMan : public QObject
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

    // `table` is not owned and may be null (then updates only reset the average).
    explicit TableMan(QTableWidget *table);

    void setOutputFolder(const QString &folder) { outputFolder = folder; }
    // Sets up the columns, attaches the device list (null keeps the previous
    // one) and runs update(). The list is read in place and never owned;
    // update() removes channels that are no longer live from it.
    void init(QVector<SensorDevice *> *devices);
    // A device being read (SensorDevice::beingRead) keeps its rows as they
    // are; its readings are shown and recorded by the next update after the
    // read. Called again while it runs, it makes one more pass at its end.
    void update();
    // An update is in progress (code run by events inside it sees this).
    bool isUpdating() const { return updating; }

    // Bit n set: channels with subchannel n are shown and recorded. The
    // caller runs update() afterwards.
    void setChannelMask(uint8_t mask) { channelMask = mask; }
    // NO_SAMPLE clears a sample. The caller runs update() afterwards.
    void setSample0(double sample) { sample0 = sample; }
    void setSample1(double sample) { sample1 = sample; }
    // Reference sample 0 or 1 (NO_SAMPLE when not set).
    double sample(int which) const { return which == 0 ? sample0 : sample1; }
    // Shows only the rows whose ROM text contains `text`, ignoring case; an
    // empty text shows every row.
    void setFilter(const QString &text);
    // Mean of every live channel-0 value found by the last update (0 when
    // there was none, NaN when one of them was NaN).
    double average() const { return averageValue; }

    // Leave calibration (against sample 0) or sub-type write requests in
    // every live channel of every present device, shown or not.
    void requestCalibration(bool reset);
    void requestSubtype(uint8_t subtype);

    // The first row showing this channel, or -1.
    int findRow(const QString &romText, uint8_t subchannel, int hubChannel, uint8_t i2cAddress) const;
    void refreshDevice(SensorDevice &device);

signals:
    // Whether some live channel belongs to a Pt100 emulator; sent on every update.
    void btnCalibrateStatusChange(bool status);
    // A shown channel holds a reading not announced before: sent once per
    // reading (by its `reading` number), whether or not recording is on, after
    // the row shows it and the recorder has been handed it. The references
    // are valid only during the call.
    void readingTaken(const SensorDevice &device, int index);

private:
    void updateOnce();
    void keepRowsOf(const QString &romText);
    // Every live channel of every present device, shown or not.
    void forEachLiveChannel(const std::function<void(SensorChannel &)> &action);
    void setCellText(int row, int column, const QString &text);
    QString cellText(int row, int column) const;
    void setColumnShown(int column, bool shown);
    void appendRow(const SensorDevice &device, const QString &romText, int index);
    void refreshRow(int row, const SensorDevice &device, int index);
    // The identity of a row: its ROM, hub channel, I2C address and subchannel cell texts.
    static QString rowKey(const QString &romText, const QString &hubText, const QString &addressText,
                          const QString &subchannelText);
    QString rowKeyOf(int row) const;
    void rebuildRowIndex() const;

    QTableWidget *table;
    QVector<SensorDevice *> *devices = nullptr;
    uint8_t channelMask = 0xFF;
    QString outputFolder;
    double sample0 = NO_SAMPLE;
    double sample1 = NO_SAMPLE;
    QString filter;
    double averageValue = 0;
    bool rowsAdded = false; // rows were created in the update in progress
    bool updating = false;
    bool updateAgain = false;
    // The first row of each identity, so that finding a channel's row does
    // not scan the cells. Rows appended here are added to it; any other
    // change of the rows or of an identity cell (a removal, the table
    // cleared, a cell written from outside) makes the next lookup rebuild it
    // from the cells. indexedRows is the row count it holds, -1 when stale.
    mutable QHash<QString, int> rowIndex;
    mutable int indexedRows = -1;
    bool appending = false;
};
