#include "faces/metricsface.h"

#include "model/alarmboard.h"

#include "faces/connectionshare.h"
#include "faces/faceoutput.h"

#include <QCoreApplication>
#include <QSettings>
#include <algorithm>
#include <cstring>
#include <microhttpd.h>
#include <sys/socket.h>

MetricsConfig MetricsConfig::fromSettings(QSettings &settings, QString *error)
{
    MetricsConfig config;
    const QString listen = settings.value(QStringLiteral("Metrics/Listen")).toString().trimmed();
    if (!listen.isEmpty())
        config.enabled = ListenAddress::parse(listen, &config.listen, error);
    return config;
}

bool MetricsConfig::takeOptions(QStringList &args, MetricsConfig *config, QString *error)
{
    return ListenAddress::takeOption(args, QStringLiteral("--metrics"), &config->listen, &config->enabled, error);
}

QString MetricsConfig::optionsUsage()
{
    return QCoreApplication::translate("Orvexctl",
                                       "  --metrics [ADDRESS:]PORT  serve /metrics for Prometheus; the address defaults\n"
                                       "                     to 127.0.0.1\n");
}

namespace {

struct Family
{
    const char *name;
    const char *help;
    const char *type = "gauge";
};

// A reading's family and the power of ten to its base unit: counts and
// states by their kind, other values by the channel's unit.
const Family *familyOf(const FaceChannel &channel, int *powerOfTen)
{
    static const Family temperature{"orvex_temperature_celsius", "Temperature in degrees Celsius."};
    static const Family humidity{"orvex_relative_humidity_percent", "Relative humidity in percent."};
    static const Family pressure{"orvex_pressure_pascals", "Pressure in pascals."};
    static const Family co2{"orvex_co2_ppm", "Carbon dioxide in parts per million."};
    static const Family voltage{"orvex_voltage_volts", "Voltage in volts."};
    static const Family count{"orvex_count_total", "Pulses a counter input has counted, as the chip holds them.",
                              "counter"};
    static const Family state{"orvex_state", "A switch's input or output state, 0 or 1."};
    static const Family other{"orvex_value", "A reading of another kind, in the unit its label names."};
    const QString &unit = channel.unit;
    *powerOfTen = 0;
    if (channel.kind == ChannelKind::Counter)
        return &count;
    if (channel.kind == ChannelKind::Binary)
        return &state;
    if (unit == QLatin1String("C"))
        return &temperature;
    if (unit.startsWith(QLatin1Char('%')))
        return &humidity;
    if (unit == QLatin1String("Pa"))
        return &pressure;
    if (unit == QLatin1String("kPa")) {
        *powerOfTen = 3;
        return &pressure;
    }
    if (unit == QLatin1String("hPa")) {
        *powerOfTen = 2;
        return &pressure;
    }
    if (unit == QLatin1String("ppm"))
        return &co2;
    if (unit == QLatin1String("V"))
        return &voltage;
    return &other;
}

// A label value with backslash, quote and line feed escaped.
void appendEscaped(QByteArray &out, const QString &value)
{
    for (const char c : value.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
}

QByteArray labels(const FaceDevice &device, const FaceChannel &channel)
{
    QByteArray out = "{rom=\"";
    out += device.romText.toLatin1();
    out += "\",bus=\"" + QByteArray::number(device.bus);
    out += "\",subchannel=\"" + QByteArray::number(channel.subchannel);
    out += "\",hub_channel=\"" + QByteArray::number(channel.hubChannel);
    out += "\",i2c_address=\"" + i2cAddressText(channel.i2cAddress).toLatin1();
    out += "\",chip=\"";
    appendEscaped(out, channel.chip);
    out += "\",sensor=\"";
    appendEscaped(out, channel.type);
    out += '"';
    return out;
}

QByteArray number(double value)
{
    return QByteArray::number(value, 'g', 10);
}

void header(QByteArray &out, const char *name, const char *help, const char *type)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

} // namespace

QByteArray metricsText(const FaceSnapshot &snapshot)
{
    QByteArray out;
    out.reserve(256 + snapshot.channelCount * 400);
    // Each family's samples together, as the format asks: one pass per family.
    QVector<const Family *> families;
    QVector<QByteArray> bodies;
    QByteArray times, failures;
    for (const FaceDevice &device : snapshot.devices) {
        for (const FaceChannel &channel : device.channels) {
            const QByteArray channelLabels = labels(device, channel);
            // A stale channel keeps its time: when it was last read is what tells it stale.
            if (channel.time.isValid())
                times += "orvex_reading_timestamp_seconds" + channelLabels + "} "
                    + QByteArray::number(channel.time.toMSecsSinceEpoch() / 1000.0, 'f', 3) + '\n';
            // Every reason the channel may fail with, from the start: its first
            // failure is then an increase, which rate() and increase() see.
            QStringList reasons = failureCodes(device.family());
            for (auto failure = channel.failures.cbegin(); failure != channel.failures.cend(); ++failure) {
                if (!reasons.contains(failure.key()))
                    reasons.append(failure.key());
            }
            for (const QString &reason : qAsConst(reasons))
                failures += "orvex_failed_readings_total" + channelLabels + ",reason=\"" + reason.toLatin1()
                    + "\"} " + QByteArray::number(channel.failures.value(reason)) + '\n';
            if (!channel.usable())
                continue;
            int powerOfTen = 0;
            const Family *family = familyOf(channel, &powerOfTen);
            int at = families.indexOf(family);
            if (at < 0) {
                families.append(family);
                bodies.append(QByteArray());
                at = families.size() - 1;
            }
            QByteArray &body = bodies[at];
            body += family->name + channelLabels;
            if (family->name == QByteArrayLiteral("orvex_value")) {
                body += ",unit=\"";
                appendEscaped(body, channel.unit);
                body += '"';
            }
            body += "} " + shownValue(channel.value, powerOfTen, channel.decimals).toLatin1() + '\n';
        }
    }
    for (int i = 0; i < families.size(); ++i) {
        header(out, families.at(i)->name, families.at(i)->help, families.at(i)->type);
        out += bodies.at(i);
    }
    header(out, "orvex_reading_timestamp_seconds", "When the channel's last reading was taken (Unix time).", "gauge");
    out += times;
    header(out, "orvex_failed_readings_total", "Readings that gave no value, by reason.", "counter");
    out += failures;
    header(out, "orvex_cycle_duration_seconds", "How long the last measurement cycle took.", "gauge");
    out += "orvex_cycle_duration_seconds " + number(qMax<qint64>(snapshot.cycleMs, 0) / 1000.0) + '\n';
    header(out, "orvex_bus_up", "Whether the bus's adapter answered in the last cycle.", "gauge");
    for (int bus = 0; bus < snapshot.busUp.size(); ++bus)
        out += "orvex_bus_up{bus=\"" + QByteArray::number(bus) + "\"} " + (snapshot.busUp.at(bus) ? "1" : "0") + '\n';
    if (!snapshot.alarms.isEmpty()) {
        header(out, "orvex_alarm_active", "Whether the channel is in alarm (state: high, low, nodata or normal).",
               "gauge");
        for (const FaceAlarm &alarm : snapshot.alarms) {
            out += "orvex_alarm_active{rom=\"" + alarm.id.text().section(QLatin1Char('/'), 0, 0).toLatin1();
            out += "\",subchannel=\"" + QByteArray::number(alarm.id.subchannel);
            out += "\",hub_channel=\"" + QByteArray::number(alarm.id.hubChannel);
            out += "\",i2c_address=\"" + i2cAddressText(alarm.id.i2cAddress).toLatin1();
            out += "\",state=\"" + alarm.state.toLatin1() + "\"} ";
            out += alarm.state == QLatin1String("normal") ? "0\n" : "1\n";
        }
    }
    return out;
}

namespace {
MHD_Result answerRequest(void *self, MHD_Connection *connection, const char *url, const char *method,
                         const char *version, const char *uploadData, size_t *uploadSize, void **state);
}

MetricsFace::MetricsFace(const MetricsConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_share(std::make_unique<MhdConnectionShare>(config.maxConnections))
{
}

MetricsFace::~MetricsFace()
{
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
}

bool MetricsFace::start(QString *error)
{
    if (m_daemon)
        return true;
    sockaddr_storage address;
    unsigned int flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
    if (m_config.listen.toSocketAddress(&address))
        flags |= MHD_USE_IPv6;
    m_daemon = MHD_start_daemon(flags, m_config.listen.port, nullptr, nullptr, &answerRequest, this,
                                MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_ARRAY, m_share->options(),
                                MHD_OPTION_CONNECTION_TIMEOUT, unsigned(m_config.timeoutS),
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(64 * 1024), MHD_OPTION_END);
    if (!m_daemon) {
        *error = QStringLiteral("metrics: cannot listen on %1").arg(m_config.listen.text());
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : m_config.listen.port;
    return true;
}

int MetricsFace::evictedConnections() const
{
    return m_share->evicted();
}

void MetricsFace::requestStarted(MHD_Connection *connection)
{
    m_share->requestStarted(connection);
}

QByteArray MetricsFace::page()
{
    ++m_scrapes;
    const std::shared_ptr<const FaceSnapshot> snapshot = m_snapshot.current();
    // Built once per snapshot: scrapes between two cycles share the page,
    // so many scrapes cost the server little more than one.
    QMutexLocker lock(&m_pageMutex);
    if (m_pageOf != snapshot) {
        m_page = metricsText(*snapshot);
        m_pageOf = snapshot;
    }
    return m_page;
}

namespace {

// libmicrohttpd's request handler, on its thread: /metrics for GET and HEAD.
MHD_Result answerRequest(void *self, MHD_Connection *connection, const char *url, const char *method,
                         const char *, const char *, size_t *uploadSize, void **state)
{
    // The first call for a request only announces it: from now on it is under way.
    if (!*state) {
        *state = self;
        static_cast<MetricsFace *>(self)->requestStarted(connection);
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        *uploadSize = 0; // a body is never wanted: dropped
        return MHD_YES;
    }
    int status = MHD_HTTP_OK;
    QByteArray body;
    const char *type = "text/plain; version=0.0.4; charset=utf-8";
    if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
        status = MHD_HTTP_METHOD_NOT_ALLOWED;
        body = "only GET\n";
    } else if (std::strcmp(url, "/metrics") != 0) {
        status = MHD_HTTP_NOT_FOUND;
        body = "see /metrics\n";
    } else {
        body = static_cast<MetricsFace *>(self)->page();
    }
    MHD_Response *response =
        MHD_create_response_from_buffer(size_t(body.size()), body.data(), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, "Allow", "GET, HEAD");
    const MHD_Result queued = MHD_queue_response(connection, unsigned(status), response);
    MHD_destroy_response(response);
    return queued;
}

} // namespace

void MetricsFace::takeReading(const SensorDevice &device, int index)
{
    m_builder.takeReading(device, index);
}

void MetricsFace::cycleEnded(const CycleSummary &summary)
{
    std::shared_ptr<const FaceSnapshot> made = m_builder.endCycle(summary);
    if (m_alarms) {
        auto withAlarms = std::make_shared<FaceSnapshot>(*made);
        for (const ChannelId &id : m_alarms->channels()) {
            if (m_alarms->hasLimits(id) || m_alarms->state(id) != AlarmState::Normal)
                withAlarms->alarms.append({id, alarmStateKey(m_alarms->state(id))});
        }
        std::sort(withAlarms->alarms.begin(), withAlarms->alarms.end(),
                  [](const FaceAlarm &a, const FaceAlarm &b) { return a.id.text() < b.id.text(); });
        made = withAlarms;
    }
    m_snapshot.publish(made);
}

OutputEntry MetricsFace::outputEntry()
{
    return FaceOutput::entry<MetricsFace, MetricsConfig>(QStringLiteral("metrics"),
                                                         QStringLiteral("[--metrics [ADDRESS:]PORT]"));
}
