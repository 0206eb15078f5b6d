#pragma once

#include "alarms/alarmevaluator.h"
#include "alarms/alarmlog.h"
#include "alarms/alarmrules.h"
#include "model/outputentry.h"
#include "model/readingsink.h"

#include <QDateTime>
#include <QHash>
#include <memory>

class AlarmBoard;
class AlarmNotifier;

// Alarms as a registered output ("alarms"): every reading and every
// cycle's end go through the evaluator, with the limits the board holds;
// each transition goes to the board (the table, status bar, publisher and
// exporter read it there), alarms.csv in the recording folder, the log or
// orvexctl's standard error, and in the window a desktop notification.
// Only files and the notification service are touched, never the bus, and
// nothing waits: measuring goes on as before.
class AlarmOutput : public ReadingSink
{
public:
    // The board is the session's (host.alarms), or one of its own. `limits`
    // are put on the board.
    AlarmOutput(const OutputHost &host, const AlarmRules::LimitsMap &limits);
    ~AlarmOutput() override;

    static OutputEntry outputEntry();

    void takeReading(const SensorDevice &device, int index) override;
    void cycleEnded(const CycleSummary &summary) override;

    AlarmBoard &board() { return *m_board; }
    const AlarmLog &log() const { return m_log; }

    // The line the operator reads for a transition.
    static QString describe(const AlarmTransition &transition);

private:
    void apply(const AlarmTransition &transition, const QDateTime &time);

    OutputHost m_host;
    std::unique_ptr<AlarmBoard> m_ownBoard;
    AlarmBoard *m_board;
    AlarmEvaluator m_evaluator;
    AlarmLog m_log;
    std::unique_ptr<AlarmNotifier> m_notifier;
    QHash<ChannelId, quint64> m_lastReading;
    QString m_logProblem;
};
