#include "alarms/alarmlog.h"

#include "alarms/alarmrules.h"
#include "table/recorder.h"

#include <QDir>
#include <QFile>
#include <cmath>

namespace {

const QByteArray kLineEnd("\r\n");

} // namespace

AlarmLog::AlarmLog(const QString &folder)
    : m_folder(folder)
{
}

QString AlarmLog::path() const
{
    return m_folder.isEmpty() ? QString() : QDir(m_folder).filePath(QLatin1String(FileName));
}

QByteArray AlarmLog::lineFor(const AlarmTransition &transition, const QDateTime &time)
{
    const QString value = std::isnan(transition.value) ? QString::fromLatin1(Recorder::FailedValue)
                                                       : Recorder::formatNumber(transition.value);
    // No data is counted in cycles, a whole number; the bounds in the
    // channel's unit.
    QString limit;
    if (!std::isnan(transition.limit)) {
        const bool cycles = transition.to == AlarmState::NoData || transition.from == AlarmState::NoData;
        limit = cycles ? QString::number(qint64(transition.limit)) : Recorder::formatNumber(transition.limit);
    }
    const QStringList fields = {
        time.date().toString(QLatin1String(Recorder::DateFormat)),
        time.time().toString(QLatin1String(Recorder::TimeFormat)),
        AlarmRules::channelText(transition.id),
        AlarmRules::stateKey(transition.to),
        value,
        limit,
    };
    return fields.join(QLatin1Char(';')).toUtf8() + kLineEnd;
}

bool AlarmLog::append(const AlarmTransition &transition, const QDateTime &time, QString *problem)
{
    if (m_folder.isEmpty())
        return true;
    m_owed.append(lineFor(transition, time));
    return writeOwed(problem);
}

bool AlarmLog::retry(QString *problem)
{
    return m_owed.isEmpty() || writeOwed(problem);
}

bool AlarmLog::writeOwed(QString *problem)
{
    QFile file(path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *problem = file.errorString();
        return false;
    }
    // A failed write leaves no partial line: the file is cut back to where
    // it was and the lines stay owed.
    const qint64 sizeBefore = file.size();
    QByteArray block = sizeBefore == 0 ? QByteArray(Header) + kLineEnd : QByteArray();
    for (const QByteArray &line : qAsConst(m_owed))
        block += line;
    const qint64 written = file.write(block);
    const bool ok = written == block.size() && file.flush();
    if (!ok) {
        *problem = file.errorString();
        file.resize(sizeBefore);
        return false;
    }
    m_owed.clear();
    return true;
}
