#pragma once

#include "alarms/alarmevaluator.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// alarms.csv in the recording folder: a header line, then one line per
// transition "DATE;TIME;Channel;State;Value;Limit", written the way the
// measurement files are (UTF-8 without a byte-order mark, CR LF, the same
// date and time formats, two decimals with a decimal comma, "---" for no
// value). Each line is appended and flushed as it comes; a line that could
// not be written is kept and tried again before the next one, so none is
// lost and none is written twice.
class AlarmLog
{
public:
    static constexpr const char *FileName = "alarms.csv";
    static constexpr const char *Header = "DATA;TIME;Channel;State;Value;Limit";

    // Empty folder: nothing is written.
    explicit AlarmLog(const QString &folder);

    QString path() const;
    // Appends the transition's line (after any still owed). False when a
    // line is still owed afterwards; *problem says why.
    bool append(const AlarmTransition &transition, const QDateTime &time, QString *problem);
    // Tries the owed lines again.
    bool retry(QString *problem);
    int owed() const { return m_owed.size(); }

    static QByteArray lineFor(const AlarmTransition &transition, const QDateTime &time);

private:
    bool writeOwed(QString *problem);

    QString m_folder;
    QList<QByteArray> m_owed;
};
