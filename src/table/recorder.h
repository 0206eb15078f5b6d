#pragma once

#include "model/channelid.h"
#include "table/nosample.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

class QFile;
struct SensorDevice;

// Writes the measurement files: one semicolon-separated file per channel in
// the output folder, named from a template, with a ten-line header and one
// line per reading. Files are UTF-8 without a byte-order mark, with CR LF line
// ends on every platform. A file is open only during one call.
//
// A reading counts as written only when its whole line reached the file: a
// failed open, write or flush leaves no partial line behind and the reading
// unwritten, so the next table update tries again.
// Failures are logged and kept visible through problemText().
class Recorder
{
public:
    // The template used until the settings give another one; also the
    // "full default" preset.
    static constexpr const char *DefaultTemplate =
        "%DATE%-%TIME%_%TS%%SC%_%SN1W%_%I2CSNH%_%I2CSNL%_%I2CA%_%MHCH%";
    // Presets offered by the template window.
    static constexpr const char *OneWireTemplate = "%TS%%SC%_%SN1W%";
    static constexpr const char *I2cTemplate = "%TS%%SC%_%I2CSNL%_%MHCH%";
    static constexpr const char *ShortDefaultTemplate =
        "%TS%%SC%_%SN1W%_%I2CSNH%_%I2CSNL%_%I2CA%_%MHCH%";
    static constexpr const char *FullDefaultTemplate = DefaultTemplate;

    // One per measurement session, which owns it and gives it the run's
    // start time, the time %DATE% and %TIME% name.
    explicit Recorder(const QDateTime &startTime)
        : m_startTime(startTime)
    {
    }
    QDateTime startTime() const { return m_startTime; }

    // Empty folder: recording is off (the table manager then never calls the writers).
    QString folder() const { return m_folder; }
    void setFolder(const QString &folder) { m_folder = folder; }
    QString nameTemplate() const { return m_nameTemplate; }
    void setNameTemplate(const QString &text) { m_nameTemplate = text; }
    void setSample0(double sample) { m_sample0 = sample; }
    void setSample1(double sample) { m_sample1 = sample; }
    // Written before (first) and after (last) the numbers of header lines 1 to 5.
    QString firstSplit() const { return m_firstSplit; }
    void setFirstSplit(const QString &text) { m_firstSplit = text; }
    QString lastSplit() const { return m_lastSplit; }
    void setLastSplit(const QString &text) { m_lastSplit = text; }

    // folder/<expanded template>.csv for channel `index`; empty when `index`
    // is outside the device's channels. No two channels share a file within
    // a run: the first channel to ask for a name keeps it for as long as the
    // folder and template stay; another channel whose template gives the same
    // name gets "_<1-Wire serial>_<subchannel>" after it (and a number after
    // that should even this be taken). Each such case is logged once and
    // told by noticeText().
    QString filePathFor(const SensorDevice &device, int index) const;

    // The names the template gives more than one of these devices' live
    // channels (each once, without folder or extension), for a preview.
    static QStringList sharedNames(const QString &templateText, const QVector<SensorDevice *> &devices,
                                   const QDateTime &startTime);

    // Empty unless channels were given distinct names because the template
    // gave them the same one; then a short text for the operator.
    QString noticeText() const { return m_noticeText; }

    // Creates the channel's file with its ten header lines unless a file of
    // that name exists. Returns 1 done or not needed, -1 failure (then no file
    // is left behind, and the next appendReading for that path writes the
    // header first).
    int writeHeader(SensorDevice &device, int index);

    // Appends the channel's reading as one line and keeps the path as the
    // channel's file name the first time. A reading is written once: when the
    // channel still holds a reading already written for it (its `reading`
    // number, e.g. after a failed read that left the record alone), nothing
    // is added. Returns 1 written, 2 already written, -1 failure (nothing
    // written; the reading stays unwritten).
    int appendReading(SensorDevice &device, int index);
    // Readings that never reached their file: a write failed and the
    // channel's record moved on to a newer reading before a retry could
    // succeed, or the reading is still owed now.
    int unwrittenReadings() const { return m_supersededUnwritten + m_owedReading.size(); }
    // The file the channel's first line went to ("" before any).
    QString fileNameOf(const ChannelId &channel) const;
    // Whether the channel's current reading is in its file.
    bool isWritten(const SensorDevice &device, int index) const;

    // The measurement file's format, for what reads the files back: the
    // header's lines begin with these tags (the last two are whole lines),
    // data lines give the date and time in these formats and a failed
    // reading's value as FailedValue.
    static constexpr int HeaderLines = 10;
    static constexpr const char *HeaderTags[HeaderLines] = {
        "\"Sensor 1WireAddr\";", "\"I2C address\";", "I2C Serial;", "MultiHub Channel;",
        "Subchannel sensor;",    "Sensor type;",     "Sensor mark;", "Sensor Unit;",
        " ; ;",                  "DATA;TIME;Value;Sample;Deviation",
    };
    static constexpr const char *DateFormat = "yyyy.MM.dd";
    static constexpr const char *TimeFormat = "hh:mm:ss";
    static constexpr const char *FailedValue = "---";

    // Fixed notation with `decimals` digits (two unless the channel resolves
    // otherwise) and a decimal comma: -0.5 -> "-0,50".
    static QString formatNumber(double x, int decimals = 2);
    // The reverse, also taking a decimal point: "-0,5" -> -0.5. `*ok` is
    // false for anything but a finite number.
    static double parseNumber(const QString &text, bool *ok);

    // The file base name (no folder, no extension) that `templateText` gives
    // for channel `index` of `device` in a run started at `startTime`; empty
    // for an index outside the channels.
    static QString expandTemplate(const QString &templateText, const SensorDevice &device, int index,
                                  const QDateTime &startTime);
    // Replace, in place, every character that may not appear in a file name
    // (or in a template) by "_", and "№" by "N". Return whether anything changed.
    static bool sanitizeFileName(QString &text);
    static bool sanitizeTemplate(QString &text);

    // The longest file name a file system takes, in bytes of its UTF-8 form.
    static constexpr int MaxFileNameBytes = 255;
    // Whether `templateText` gives every channel a file name (".csv"
    // included) of at most MaxFileNameBytes: tried on a channel with every
    // token at its widest.
    static bool fitsFileName(const QString &templateText);

    // Empty while recording works; otherwise a short text for the operator
    // naming the file that failed last, e.g. "Ошибка записи файла T0_....csv".
    // A file stops counting once it is written again, or when nothing has
    // tried to write it for ten minutes.
    QString problemText() const;

    // Tests: replace the step that puts a prepared block of bytes into the
    // open file (must return the count of bytes written, or -1); null restores
    // the plain write.
    using WriteStep = std::function<qint64(QFile &file, const QByteArray &bytes)>;
    void setWriteStepForTest(WriteStep step) { m_writeStep = std::move(step); }

private:
    QByteArray headerBytes(const SensorDevice &device, int index) const;
    QByteArray dataLineBytes(const SensorDevice &device, int index) const;
    // Creates `path` holding only the header; false (and no file) on failure.
    bool createWithHeader(const QString &path, const SensorDevice &device, int index);
    // One write of `bytes` into `file`, checked to the last byte and flushed;
    // on failure `*reason` says why.
    bool writeAll(QFile &file, const QByteArray &bytes, QString *reason);
    // appendReading() without the count of unwritten readings.
    int writeReading(SensorDevice &device, int index);
    void noteFailure(const QString &path, const QString &what, const QString &reason);
    void noteSuccess(const QString &path);

    QDateTime m_startTime;
    QString m_folder;
    QString m_nameTemplate = QString::fromLatin1(DefaultTemplate);
    double m_sample0 = NO_SAMPLE;
    double m_sample1 = NO_SAMPLE;
    QString m_firstSplit;
    QString m_lastSplit;

    // This run's file of each channel and the channel of each file, for
    // m_pathsFor (the folder and template they were made with).
    mutable QHash<ChannelId, QString> m_pathOf;
    mutable QHash<QString, ChannelId> m_ownerOf;
    mutable QString m_pathsFor;
    mutable QString m_noticeText;
    mutable QStringList m_sharedNames;
    mutable int m_renamed = 0;

    // The reading number of the last line written per channel.
    QHash<ChannelId, uint64_t> m_lastWrittenReading;
    // Each channel's file as it was first written (the table's file column).
    QHash<ChannelId, QString> m_fileNames;
    // The file each channel's header was last written or found in.
    QHash<ChannelId, QString> m_headedPath;
    // Paths whose header could not be written: their file still owes it.
    QSet<QString> m_headerOwed;
    // Per channel, the reading number whose line failed and is still owed;
    // and how many owed readings were replaced by newer ones unwritten.
    QHash<ChannelId, uint64_t> m_owedReading;
    int m_supersededUnwritten = 0;
    // Paths whose last write failed, with the tick of that failure.
    QHash<QString, qint64> m_failures;
    WriteStep m_writeStep;
};
