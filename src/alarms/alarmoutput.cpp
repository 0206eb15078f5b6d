#include "alarms/alarmoutput.h"

#include "alarms/alarmnotifier.h"
#include "base/clock.h"
#include "base/logging.h"
#include "model/alarmboard.h"
#include "model/sensordevice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <algorithm>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("AlarmOutput", text);
}

QString numberText(double value)
{
    return QLocale::c().toString(value, 'f', 2);
}

class AlarmPlan : public OutputPlan
{
public:
    AlarmPlan(const AlarmRules::LimitsMap &limits, const QStringList &problems)
        : m_limits(limits)
        , m_problems(problems)
    {
    }

    std::unique_ptr<ReadingSink> start(const OutputHost &host, QString *) override
    {
        for (const QString &problem : qAsConst(m_problems))
            host.report(problem);
        return std::make_unique<AlarmOutput>(host, m_limits);
    }

private:
    AlarmRules::LimitsMap m_limits;
    QStringList m_problems;
};

QString usage()
{
    return QCoreApplication::translate(
        "Orvexctl",
        "  --alarm CHANNEL=LOW:HIGH  alarm limits of a channel (repeatable): CHANNEL is the ROM as\n"
        "                  `read` prints it, then /SUB for a subchannel other than 0 and\n"
        "                  /HUB/ADDRESS behind a bridge; either bound may be empty; optional\n"
        "                  hysteresis=H delay=N nodata=N after a space; transitions go to\n"
        "                  standard error and alarms.csv in the --record folder\n"
        "  --alarms FILE   the same lines, one a line (# starts a comment)\n");
}

// The window always runs it (limits may be set while it measures), with
// the stored limits; orvexctl with the stored limits and those its options
// add, and only when there are any.
std::unique_ptr<OutputPlan> plan(QSettings &settings, QStringList *args, QString *error)
{
    QStringList problems;
    AlarmRules::LimitsMap limits = AlarmRules::fromSettings(settings, &problems);
    if (!args)
        return std::make_unique<AlarmPlan>(limits, problems);
    for (int i = 0; i < args->size();) {
        const QString arg = args->at(i);
        const bool one = arg == QLatin1String("--alarm") || arg.startsWith(QLatin1String("--alarm="));
        const bool file = arg == QLatin1String("--alarms") || arg.startsWith(QLatin1String("--alarms="));
        if (!one && !file) {
            ++i;
            continue;
        }
        QString value;
        if (arg.contains(QLatin1Char('='))) {
            value = arg.section(QLatin1Char('='), 1);
            args->removeAt(i);
        } else if (i + 1 < args->size()) {
            value = args->takeAt(i + 1);
            args->removeAt(i);
        } else {
            *error = QStringLiteral("%1 takes a value").arg(arg);
            return nullptr;
        }
        if (one) {
            ChannelId id;
            AlarmLimits channelLimits;
            if (!AlarmRules::parseLine(value, &id, &channelLimits, error))
                return nullptr;
            limits.insert(id, channelLimits);
        } else if (!AlarmRules::readFile(value, &limits, error)) {
            return nullptr;
        }
    }
    // A run whose limits may be set while it measures (from the web page,
    // when it has a password file) evaluates them even when it starts with none.
    const bool settable = args->contains(QLatin1String("--web-passwords"))
        || !args->filter(QRegularExpression(QStringLiteral("^--web-passwords="))).isEmpty();
    if (limits.isEmpty() && !settable)
        return nullptr;
    return std::make_unique<AlarmPlan>(limits, problems);
}

} // namespace

AlarmOutput::AlarmOutput(const OutputHost &host, const AlarmRules::LimitsMap &limits)
    : m_host(host)
    , m_board(host.alarms)
    , m_log(host.recordingFolder)
{
    if (!m_board) {
        m_ownBoard = std::make_unique<AlarmBoard>();
        m_board = m_ownBoard.get();
    }
    for (auto it = limits.constBegin(); it != limits.constEnd(); ++it)
        m_board->setLimits(it.key(), it.value());
    if (host.window)
        m_notifier = std::make_unique<AlarmNotifier>();
}

AlarmOutput::~AlarmOutput() = default;

OutputEntry AlarmOutput::outputEntry()
{
    OutputEntry entry;
    entry.name = QStringLiteral("alarms");
    entry.synopsis = QStringLiteral("[--alarm CHANNEL=LOW:HIGH ...] [--alarms FILE]");
    entry.optionsUsage = usage;
    entry.plan = plan;
    return entry;
}

void AlarmOutput::takeReading(const SensorDevice &device, int index)
{
    const ChannelId id = ChannelId::of(device, index);
    const SensorChannel &channel = device.channels.at(index);
    // One evaluation per reading, whoever hands it out again.
    quint64 &last = m_lastReading[id];
    if (channel.reading != 0 && channel.reading <= last)
        return;
    last = channel.reading;
    AlarmTransition transition;
    if (m_evaluator.reading(id, m_board->limits(id), channel.value, &transition))
        apply(transition, channel.time.isValid() ? channel.time : Clock::now());
}

void AlarmOutput::cycleEnded(const CycleSummary &summary)
{
    QSet<quint64> present;
    for (const QVector<const SensorDevice *> &devices : summary.devices) {
        for (const SensorDevice *device : devices)
            present.insert(romKey(device->rom, true));
    }
    AlarmRules::LimitsMap limits;
    for (const ChannelId &id : m_board->channels())
        limits.insert(id, m_board->limits(id));
    QVector<AlarmTransition> transitions =
        m_evaluator.endCycle(limits, [&present](const ChannelId &id) { return present.contains(id.deviceKey); });
    // In the order of the channels' names, so that a run's file is repeatable.
    std::sort(transitions.begin(), transitions.end(), [](const AlarmTransition &a, const AlarmTransition &b) {
        return AlarmRules::channelText(a.id) < AlarmRules::channelText(b.id);
    });
    const QDateTime now = Clock::now();
    for (const AlarmTransition &transition : qAsConst(transitions))
        apply(transition, now);
    QString problem;
    if (m_log.owed() > 0 && m_log.retry(&problem))
        m_logProblem.clear();
}

QString AlarmOutput::describe(const AlarmTransition &t)
{
    const QString channel = AlarmRules::channelText(t.id);
    switch (t.to) {
    case AlarmState::High:
        return tr("Тревога: %1 выше верхнего порога %2: %3").arg(channel, numberText(t.limit), numberText(t.value));
    case AlarmState::Low:
        return tr("Тревога: %1 ниже нижнего порога %2: %3").arg(channel, numberText(t.limit), numberText(t.value));
    case AlarmState::NoData:
        if (std::isnan(t.limit))
            return tr("Тревога: %1 нет данных: датчик пропал").arg(channel);
        return tr("Тревога: %1 нет данных %2 циклов").arg(channel).arg(qint64(t.limit));
    case AlarmState::Normal:
        break;
    }
    return tr("Тревога снята: %1: %2").arg(channel, numberText(t.value));
}

void AlarmOutput::apply(const AlarmTransition &transition, const QDateTime &time)
{
    m_board->setState(transition.id, transition.to, transition.value, transition.limit);
    const QString line = describe(transition);
    if (m_host.window)
        qCDebug(logWarning()).noquote() << line;
    else if (m_host.report)
        m_host.report(line);
    QString problem;
    if (!m_log.append(transition, time, &problem)) {
        // Said once per stretch of failures; the lines wait for the next try.
        if (problem != m_logProblem) {
            m_logProblem = problem;
            const QString failure = tr("Ошибка записи файла %1: %2").arg(m_log.path(), problem);
            if (m_host.report)
                m_host.report(failure);
        }
    } else {
        m_logProblem.clear();
    }
    if (m_notifier) {
        const bool raised = transition.to != AlarmState::Normal;
        m_notifier->notify(raised ? tr("Тревога") : tr("Тревога снята"), line, raised);
    }
}
