#include "web/webpage.h"

#include "alarms/alarmlog.h"
#include "alarms/alarmrules.h"
#include "base/clock.h"
#include "base/language.h"
#include "chart/trendarchive.h"
#include "faces/connectionshare.h"
#include "model/alarmboard.h"
#include "model/sensordevice.h"
#include "sensors/sensor.h"
#include "web/webhistory.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <algorithm>
#include <crypt.h>
#include <cstring>
#include <microhttpd.h>
#include <sys/socket.h>

static void initWebResource()
{
    Q_INIT_RESOURCE(web);
}

namespace {

constexpr int kMaxBodyBytes = 4096;
const char kLanguages[2][3] = {"ru", "en"};

// Every text the page shows, by the key its template and script use.
const struct
{
    const char *key;
    const char *source;
} kTexts[] = {
    {"title", QT_TRANSLATE_NOOP("WebPage", "Орвекс")},
    {"readings", QT_TRANSLATE_NOOP("WebPage", "Показания")},
    {"buses", QT_TRANSLATE_NOOP("WebPage", "Шины")},
    {"colRom", QT_TRANSLATE_NOOP("WebPage", "Серийный номер 1W")},
    {"colSub", QT_TRANSLATE_NOOP("WebPage", "Канал датчика")},
    {"colHub", QT_TRANSLATE_NOOP("WebPage", "Канал мультихаба")},
    {"colSerial", QT_TRANSLATE_NOOP("WebPage", "Серийный номер I2C")},
    {"colType", QT_TRANSLATE_NOOP("WebPage", "Тип")},
    {"colValue", QT_TRANSLATE_NOOP("WebPage", "Значение")},
    {"colTime", QT_TRANSLATE_NOOP("WebPage", "Время")},
    {"colAlarm", QT_TRANSLATE_NOOP("WebPage", "Тревога")},
    {"kind.serial", QT_TRANSLATE_NOOP("WebPage", "Последовательный адаптер DS2480B")},
    {"kind.usb", QT_TRANSLATE_NOOP("WebPage", "Преобразователь USB")},
    {"kind.kernel", QT_TRANSLATE_NOOP("WebPage", "Мастер 1-Wire ядра Linux")},
    {"kind.simulated", QT_TRANSLATE_NOOP("WebPage", "Имитация шины 1-Wire")},
    {"kind.driver", QT_TRANSLATE_NOOP("WebPage", "Драйвер TMEX")},
    {"busUp", QT_TRANSLATE_NOOP("WebPage", "на связи")},
    {"busDown", QT_TRANSLATE_NOOP("WebPage", "нет связи")},
    {"cycle", QT_TRANSLATE_NOOP("WebPage", "последний цикл: %1 мс")},
    {"noCycle", QT_TRANSLATE_NOOP("WebPage", "ещё ни одного цикла")},
    {"state.normal", QT_TRANSLATE_NOOP("WebPage", "норма")},
    {"state.high", QT_TRANSLATE_NOOP("WebPage", "выше верхнего порога")},
    {"state.low", QT_TRANSLATE_NOOP("WebPage", "ниже нижнего порога")},
    {"state.nodata", QT_TRANSLATE_NOOP("WebPage", "нет данных")},
    {"stale", QT_TRANSLATE_NOOP("WebPage", "не прочитан в последнем цикле")},
    {"failure.no_answer", QT_TRANSLATE_NOOP("WebPage", "нет ответа")},
    {"failure.crc", QT_TRANSLATE_NOOP("WebPage", "ошибка CRC")},
    {"failure.power_on_value", QT_TRANSLATE_NOOP("WebPage", "нет преобразования")},
    {"failure.open_circuit", QT_TRANSLATE_NOOP("WebPage", "обрыв термопары")},
    {"failure.short_to_ground", QT_TRANSLATE_NOOP("WebPage", "замыкание термопары на землю")},
    {"failure.short_to_vdd", QT_TRANSLATE_NOOP("WebPage", "замыкание термопары на питание")},
    {"failure.thermocouple_fault", QT_TRANSLATE_NOOP("WebPage", "неисправность термопары")},
    {"failure.out_of_table", QT_TRANSLATE_NOOP("WebPage", "напряжение термопары вне таблицы")},
    {"failure.counter_back", QT_TRANSLATE_NOOP("WebPage", "счётчик пошёл назад")},
    {"failure.no_pullup", QT_TRANSLATE_NOOP("WebPage", "нет сильной подтяжки для преобразования")},
    {"failure.other", QT_TRANSLATE_NOOP("WebPage", "ошибка чтения")},
    {"charts", QT_TRANSLATE_NOOP("WebPage", "Графики")},
    {"addChart", QT_TRANSLATE_NOOP("WebPage", "Добавить график")},
    {"removeChart", QT_TRANSLATE_NOOP("WebPage", "Убрать")},
    {"spanHour", QT_TRANSLATE_NOOP("WebPage", "Час")},
    {"spanDay", QT_TRANSLATE_NOOP("WebPage", "Сутки")},
    {"spanWeek", QT_TRANSLATE_NOOP("WebPage", "Неделя")},
    {"chartEmpty", QT_TRANSLATE_NOOP("WebPage", "Нет показаний за этот промежуток")},
    {"chartFiles", QT_TRANSLATE_NOOP("WebPage", "Из файлов: %1")},
    {"chartRun", QT_TRANSLATE_NOOP("WebPage", "Показания этого запуска")},
    {"chartLibrary", QT_TRANSLATE_NOOP("WebPage", "Графики не рисуются: не установлен пакет libjs-chart.js.")},
    {"alarms", QT_TRANSLATE_NOOP("WebPage", "Тревоги")},
    {"activeAlarms", QT_TRANSLATE_NOOP("WebPage", "Действующие")},
    {"noAlarms", QT_TRANSLATE_NOOP("WebPage", "Тревог нет")},
    {"transitions", QT_TRANSLATE_NOOP("WebPage", "Последние переходы")},
    {"noTransitions", QT_TRANSLATE_NOOP("WebPage", "Переходов не было")},
    {"colDate", QT_TRANSLATE_NOOP("WebPage", "Дата")},
    {"colChannel", QT_TRANSLATE_NOOP("WebPage", "Канал")},
    {"colState", QT_TRANSLATE_NOOP("WebPage", "Состояние")},
    {"colLimit", QT_TRANSLATE_NOOP("WebPage", "Порог")},
    {"limits", QT_TRANSLATE_NOOP("WebPage", "Пороги")},
    {"noLimits", QT_TRANSLATE_NOOP("WebPage", "без порогов")},
    {"editLimits", QT_TRANSLATE_NOOP("WebPage", "Изменить пороги")},
    {"limitsPrompt",
     QT_TRANSLATE_NOOP("WebPage", "Пороги канала %1: НИЖНИЙ:ВЕРХНИЙ, затем по желанию hysteresis=H delay=N "
                                  "nodata=N; пусто — снять пороги")},
    {"limitsTaken", QT_TRANSLATE_NOOP("WebPage", "Пороги приняты и действуют со следующего показания.")},
    {"limitsRefused", QT_TRANSLATE_NOOP("WebPage", "Пороги не приняты: %1")},
    {"offline", QT_TRANSLATE_NOOP("WebPage", "Нет связи со станцией, повторяю…")},
    {"updated", QT_TRANSLATE_NOOP("WebPage", "Обновлено: %1")},
};

QString htmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
}

QByteArray resource(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the page calls a channel's quantity: a count and a state by their
// kind, any other reading by what its driver says it measures.
QString quantityKey(const FaceChannel &channel)
{
    if (channel.kind == ChannelKind::Counter)
        return QStringLiteral("counter");
    if (channel.kind == ChannelKind::Binary)
        return QStringLiteral("state");
    Quantity quantity = channel.quantity;
    if (quantity == Quantity::Other) {
        // A channel whose record names no traits (a failed reading's): by its unit.
        const ChannelTraits *traits = Sensor::unitTraits(channel.unit);
        quantity = traits ? traits->quantity : Quantity::Other;
    }
    switch (quantity) {
    case Quantity::Temperature:
        return QStringLiteral("temperature");
    case Quantity::Humidity:
        return QStringLiteral("humidity");
    case Quantity::Pressure:
        return QStringLiteral("pressure");
    case Quantity::CarbonDioxide:
        return QStringLiteral("co2");
    case Quantity::Voltage:
        return QStringLiteral("voltage");
    case Quantity::Other:
        break;
    }
    return QStringLiteral("other");
}

QString header(MHD_Connection *connection, MHD_ValueKind kind, const char *name)
{
    const char *value = MHD_lookup_connection_value(connection, kind, name);
    return value ? QString::fromUtf8(value) : QString();
}

QByteArray errorJson(const QString &what)
{
    QByteArray out = "{\"error\":";
    appendJsonString(out, what);
    return out + "}\n";
}

// libmicrohttpd's callbacks, each handing on to the page.
MHD_Result accessHandler(void *self, MHD_Connection *connection, const char *url, const char *method,
                         const char *, const char *uploadData, size_t *uploadSize, void **state)
{
    return static_cast<WebPage *>(self)->answer(connection, url, method, uploadData, uploadSize, state) ? MHD_YES
                                                                                                        : MHD_NO;
}

} // namespace

struct WebPage::Request
{
    QByteArray body;
    bool tooLarge = false;
    bool refused = false; // answered at its first call
};

struct WebPage::Stream
{
    WebPage *page = nullptr;
    MHD_Connection *connection = nullptr;
    quint64 sentCycle = 0;
    QByteArray pending;
    int offset = 0;
    bool suspended = false;
    bool closing = false;
};

struct WebPage::Answer
{
    int status = MHD_HTTP_OK;
    QByteArray body;
    const char *type = "application/json; charset=utf-8";
    QList<QPair<const char *, QByteArray>> headers;
    bool stream = false;
    bool askPassword = false;

    void add(const char *name, const QByteArray &value) { headers.append(qMakePair(name, value)); }

    static Answer error(int status, const QString &what)
    {
        Answer made;
        made.status = status;
        made.body = errorJson(what);
        return made;
    }
};

namespace {

ssize_t readStream(void *stream, uint64_t, char *buffer, size_t max)
{
    auto *s = static_cast<WebPage::Stream *>(stream);
    return ssize_t(s->page->streamRead(s, buffer, max));
}

void freeStream(void *stream)
{
    auto *s = static_cast<WebPage::Stream *>(stream);
    s->page->streamGone(s);
}

} // namespace

WebPage::WebPage(const WebConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_snapshot(std::make_shared<WebSnapshot>())
{
}

WebPage::~WebPage()
{
    if (m_daemon) {
        {
            // A suspended connection must be resumed before the server stops.
            QMutexLocker lock(&m_streamMutex);
            m_stopping = true;
            for (Stream *stream : qAsConst(m_streams)) {
                stream->closing = true;
                if (stream->suspended) {
                    stream->suspended = false;
                    MHD_resume_connection(stream->connection);
                }
            }
        }
        MHD_stop_daemon(m_daemon);
    }
    qDeleteAll(m_streams);
}

void WebPage::setHost(const OutputHost &host)
{
    m_folder = host.recordingFolder;
    m_firstSplit = host.firstSplit;
    m_lastSplit = host.lastSplit;
    m_alarms = host.alarms;
}

bool WebPage::loadPasswords(QString *error)
{
    if (m_config.passwordFile.isEmpty())
        return true;
    QFile file(m_config.passwordFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("web: cannot read the password file %1: %2").arg(m_config.passwordFile, file.errorString());
        return false;
    }
    int number = 0;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        ++number;
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const int colon = line.indexOf(':');
        const QByteArray hash = line.mid(colon + 1);
        // A password in plain text would do as well as a hash for a reader of the file: refused.
        if (colon <= 0 || !hash.startsWith('$')) {
            *error = QStringLiteral("web: %1:%2: not USER:HASH with a crypt(3) hash (htpasswd -B, openssl passwd -6)")
                         .arg(m_config.passwordFile)
                         .arg(number);
            return false;
        }
        m_passwords.insert(QString::fromUtf8(line.left(colon)), hash);
    }
    if (m_passwords.isEmpty()) {
        *error = QStringLiteral("web: the password file %1 names no one").arg(m_config.passwordFile);
        return false;
    }
    return true;
}

bool WebPage::checkPassword(const QString &user, const QString &password) const
{
    const QByteArray hash = m_passwords.value(user);
    if (hash.isEmpty())
        return false;
    auto data = std::make_unique<crypt_data>();
    const char *made = crypt_r(password.toUtf8().constData(), hash.constData(), data.get());
    if (!made || made[0] == '*' || std::strlen(made) != size_t(hash.size()))
        return false;
    unsigned char differ = 0;
    for (int i = 0; i < hash.size(); ++i)
        differ |= static_cast<unsigned char>(made[i] ^ hash.at(i));
    return differ == 0;
}

bool WebPage::start(QString *error)
{
    if (m_daemon)
        return true;
    if (!loadPasswords(error))
        return false;
    initWebResource();
    m_script = resource(QStringLiteral(":/web/app.js"));
    m_style = resource(QStringLiteral(":/web/style.css"));
    QFile library(m_config.chartLibrary);
    if (library.open(QIODevice::ReadOnly))
        m_chartLibrary = library.readAll();
    const QString page = QString::fromUtf8(resource(QStringLiteral(":/web/index.html")));
    for (int i = 0; i < 2; ++i) {
        const QString language = QLatin1String(kLanguages[i]);
        QString made = page;
        QByteArray texts = "{";
        for (const auto &text : kTexts) {
            const QString translated = Language::translate(language, "WebPage", text.source);
            made.replace(QStringLiteral("{{%1}}").arg(QLatin1String(text.key)), htmlEscaped(translated));
            if (texts.size() > 1)
                texts += ',';
            appendJsonString(texts, QLatin1String(text.key));
            texts += ':';
            appendJsonString(texts, translated);
        }
        texts += '}';
        made.replace(QLatin1String("{{lang}}"), language);
        made.replace(QLatin1String("{{texts}}"), QString::fromUtf8(texts));
        m_pages[i] = made.toUtf8();
    }
    if (m_folder.isEmpty())
        m_archive = std::make_unique<TrendArchive>();
    else
        m_index = std::make_unique<RecordIndex>(m_folder, m_firstSplit, m_lastSplit);
    MhdConnectionShare::Limits limits;
    limits.places = m_config.maxConnections;
    limits.perAddress = m_config.perAddress;
    limits.headerDeadlineMs = m_config.headerTimeoutMs;
    m_share = std::make_unique<MhdConnectionShare>(limits);
    m_share->requestEnded = [](MHD_Connection *, void **state) {
        delete static_cast<Request *>(*state);
        *state = nullptr;
    };
    // A stream parked between cycles is resumed to end.
    m_share->gaveWay = [this](MHD_Connection *connection) { endStream(connection); };
    {
        auto first = std::make_shared<WebSnapshot>();
        first->limitsEditable = !m_passwords.isEmpty();
        m_snapshot = first;
    }

    sockaddr_storage address;
    unsigned int flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_ALLOW_SUSPEND_RESUME;
    if (m_config.listen.toSocketAddress(&address))
        flags |= MHD_USE_IPv6;
    m_daemon = MHD_start_daemon(flags, m_config.listen.port, nullptr, nullptr, &accessHandler, this,
                                MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_ARRAY, m_share->options(),
                                MHD_OPTION_CONNECTION_TIMEOUT, unsigned(m_config.idleTimeoutS),
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(32 * 1024), MHD_OPTION_END);
    if (!m_daemon) {
        *error = QStringLiteral("web: cannot listen on %1").arg(m_config.listen.text());
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : m_config.listen.port;
    return true;
}

QByteArray WebPage::pageFor(const QString &language) const
{
    return m_pages[language == QLatin1String("en") ? 1 : 0];
}

std::shared_ptr<const WebSnapshot> WebPage::snapshot() const
{
    QMutexLocker lock(&m_snapshotMutex);
    return m_snapshot;
}

int WebPage::streamCount() const
{
    QMutexLocker lock(&m_streamMutex);
    return m_streams.size();
}

int WebPage::evictedConnections() const
{
    return m_share ? m_share->evicted() : 0;
}

void WebPage::takeReading(const SensorDevice &device, int index)
{
    m_builder.takeReading(device, index);
    const SensorChannel &channel = device.channels.at(index);
    if (channel.i2cSerialHigh != 0 || channel.i2cSerialLow != 0) {
        Serial &serial = m_i2cSerials[ChannelId::of(device, index)];
        if (serial.high != channel.i2cSerialHigh || serial.low != channel.i2cSerialLow || serial.text.isEmpty())
            serial = {channel.i2cSerialHigh, channel.i2cSerialLow, channel.i2cSerialText()};
    }
    if (m_archive) {
        QMutexLocker lock(&m_archiveMutex);
        m_archive->takeReading(device, index);
    }
}

void WebPage::cycleEnded(const CycleSummary &summary)
{
    const std::shared_ptr<const FaceSnapshot> face = m_builder.endCycle(summary);
    auto made = std::make_shared<WebSnapshot>();
    made->cycle = face->cycles;
    made->time = Clock::now();
    made->cycleMs = face->cycleMs;
    made->limitsEditable = !m_passwords.isEmpty();
    for (int bus = 0; bus < summary.busUp.size(); ++bus)
        made->buses.append({summary.busKinds.value(bus), summary.busDescriptions.value(bus), summary.busUp.at(bus)});
    made->channels.reserve(face->channelCount);
    for (const FaceDevice &device : face->devices) {
        uint64_t deviceKey = 0;
        for (int i = 0; i < 8; ++i)
            deviceKey |= uint64_t(device.rom[i]) << (56 - 8 * i);
        for (const FaceChannel &c : device.channels) {
            const ChannelId id{deviceKey, c.subchannel, c.hubChannel, c.i2cAddress};
            WebChannel channel;
            // What does not change between cycles is made once per channel.
            auto key = m_keys.find(id);
            if (key == m_keys.end())
                key = m_keys.insert(id, ChannelId::textOf(device.romText, c.subchannel, c.hubChannel, c.i2cAddress));
            channel.key = *key;
            channel.romText = device.romText;
            channel.bus = device.bus;
            channel.subchannel = c.subchannel;
            channel.hubChannel = c.hubChannel;
            channel.i2cAddress = c.i2cAddress;
            channel.i2cSerial = m_i2cSerials.value(id).text;
            channel.type = c.type.trimmed();
            channel.unit = c.unit;
            auto unit = m_units.find(c.unit);
            if (unit == m_units.end()) {
                const ChannelTraits *traits = Sensor::unitTraits(c.unit);
                unit = m_units.insert(c.unit, traits ? QString::fromUtf8(traits->shown) : c.unit);
            }
            channel.unitShown = *unit;
            channel.quantity = quantityKey(c);
            channel.decimals = c.decimals;
            channel.value = c.failure.isEmpty() ? c.value : std::numeric_limits<double>::quiet_NaN();
            channel.time = c.time;
            channel.fresh = c.fresh;
            channel.failure = c.failure;
            channel.alarm = QStringLiteral("normal");
            if (m_alarms) {
                channel.alarm = alarmStateKey(m_alarms->state(id));
                if (m_alarms->hasLimits(id))
                    channel.limits = AlarmRules::limitsText(m_alarms->limits(id));
            }
            made->channels.append(channel);
        }
    }
    if (m_alarms) {
        const QDateTime now = Clock::now();
        for (const ChannelId &id : m_alarms->channels()) {
            const AlarmBoard::Entry entry = m_alarms->entry(id);
            if (entry.state != AlarmState::Normal)
                made->active.append({id.text(), alarmStateKey(entry.state), entry.value, entry.limit});
            // Without alarms.csv, the transitions this run sees at cycle ends.
            const int before = m_lastStates.value(id, int(AlarmState::Normal));
            if (m_folder.isEmpty() && before != int(entry.state)) {
                AlarmTransition transition;
                transition.id = id;
                transition.from = AlarmState(before);
                transition.to = entry.state;
                transition.value = entry.value;
                transition.limit = entry.limit;
                m_transitions.append(AlarmLog::lineFor(transition, now).trimmed());
            }
            m_lastStates.insert(id, int(entry.state));
        }
        std::sort(made->active.begin(), made->active.end(),
                  [](const WebAlarm &a, const WebAlarm &b) { return a.key < b.key; });
        if (m_transitions.size() > kWebTransitions)
            m_transitions.remove(0, m_transitions.size() - kWebTransitions);
    }
    if (m_folder.isEmpty())
        made->transitions = m_transitions;
    else
        made->alarmsFile = AlarmLog(m_folder).path();
    publish(made);
}

void WebPage::publish(std::shared_ptr<const WebSnapshot> snapshot)
{
    {
        QMutexLocker lock(&m_snapshotMutex);
        m_snapshot = std::move(snapshot);
    }
    // Every stream waiting for this cycle goes on; none is written from here.
    QMutexLocker lock(&m_streamMutex);
    for (Stream *stream : qAsConst(m_streams)) {
        if (stream->suspended) {
            stream->suspended = false;
            MHD_resume_connection(stream->connection);
        }
    }
}

int WebPage::answer(MHD_Connection *connection, const char *url, const char *method, const char *uploadData,
                    size_t *uploadSize, void **state)
{
    auto *request = static_cast<Request *>(*state);
    const QByteArray path(url);
    const QByteArray verb(method);
    Answer made;
    bool early = false;
    if (!request) {
        // The header is whole: the request is under way. A change of limits
        // is judged before its body is taken, so no stranger can send one
        // slowly.
        request = new Request;
        *state = request;
        m_share->requestStarted(connection);
        if (path != "/api/limits" || verb != "POST")
            return MHD_YES;
        bool ok = false;
        const qlonglong length =
            header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH).toLongLong(&ok);
        if (ok && length > kMaxBodyBytes)
            made = Answer::error(MHD_HTTP_CONTENT_TOO_LARGE, QStringLiteral("the body may have at most 4096 bytes"));
        else
            made = mayChangeLimits(connection);
        if (made.status == MHD_HTTP_OK)
            return MHD_YES; // allowed: the body is read next
        early = true;
        request->refused = true;
    } else if (request->refused) {
        *uploadSize = 0;
        return MHD_YES;
    } else if (*uploadSize != 0) {
        if (request->body.size() + qint64(*uploadSize) > kMaxBodyBytes)
            request->tooLarge = true;
        else if (verb == "POST")
            request->body.append(uploadData, int(*uploadSize));
        *uploadSize = 0; // a body nobody asked for is dropped
        return MHD_YES;
    }
    if (!early) {
        made = route(connection, path, verb, *request);
        if (made.stream)
            return openStream(connection);
    }

    MHD_Response *response =
        MHD_create_response_from_buffer(size_t(made.body.size()), made.body.data(), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, made.type);
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    for (const auto &extra : qAsConst(made.headers))
        MHD_add_response_header(response, extra.first, extra.second.constData());
    if (early)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    MHD_Result queued;
    if (made.askPassword)
        queued = MHD_queue_basic_auth_fail_response(connection, "Orvex", response);
    else
        queued = MHD_queue_response(connection, unsigned(made.status), response);
    MHD_destroy_response(response);
    return queued == MHD_YES;
}

WebPage::Answer WebPage::route(MHD_Connection *connection, const QByteArray &path, const QByteArray &method,
                               Request &request)
{
    if (path == "/api/limits") {
        if (method != "POST") {
            Answer made = Answer::error(MHD_HTTP_METHOD_NOT_ALLOWED, QStringLiteral("only POST"));
            made.add("Allow", "POST");
            return made;
        }
        if (request.tooLarge)
            return Answer::error(MHD_HTTP_CONTENT_TOO_LARGE, QStringLiteral("the body may have at most 4096 bytes"));
        return changeLimits(request);
    }
    if (method != "GET" && method != "HEAD") {
        Answer made = Answer::error(MHD_HTTP_METHOD_NOT_ALLOWED, QStringLiteral("only GET and HEAD"));
        made.add("Allow", "GET, HEAD");
        return made;
    }
    Answer made;
    if (path == "/" || path == "/index.html") {
        const QString language = webLanguage(header(connection, MHD_GET_ARGUMENT_KIND, "lang"),
                                             header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT_LANGUAGE));
        made.body = pageFor(language);
        made.type = "text/html; charset=utf-8";
        made.add("Content-Language", language.toLatin1());
        made.add("Vary", "Accept-Language");
        // Scripts and data from this station only: what a device names can never run.
        made.add("Content-Security-Policy",
                             "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                             "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
    } else if (path == "/app.js") {
        made.body = m_script;
        made.type = "text/javascript; charset=utf-8";
    } else if (path == "/style.css") {
        made.body = m_style;
        made.type = "text/css; charset=utf-8";
    } else if (path == "/chart.js") {
        if (m_chartLibrary.isEmpty())
            return Answer::error(MHD_HTTP_NOT_FOUND, QStringLiteral("the chart library is not installed (libjs-chart.js)"));
        made.body = m_chartLibrary;
        made.type = "text/javascript; charset=utf-8";
    } else if (path == "/api/channels") {
        const std::shared_ptr<const WebSnapshot> now = snapshot();
        const QByteArray tag = "\"c" + QByteArray::number(now->cycle) + '"';
        made.add(MHD_HTTP_HEADER_ETAG, tag);
        if (header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH).toLatin1() == tag) {
            made.status = MHD_HTTP_NOT_MODIFIED;
            return made;
        }
        made.body = now->json();
    } else if (path == "/api/alarms") {
        made.body = snapshot()->alarmsJson();
    } else if (path == "/api/history") {
        return history(connection);
    } else if (path == "/api/events") {
        made.stream = true;
    } else {
        return Answer::error(MHD_HTTP_NOT_FOUND, QStringLiteral("no such page: see / and /api/channels"));
    }
    return made;
}

WebPage::Answer WebPage::history(MHD_Connection *connection)
{
    HistoryQuery query;
    QString error;
    if (!HistoryQuery::parse(header(connection, MHD_GET_ARGUMENT_KIND, "channel"),
                             header(connection, MHD_GET_ARGUMENT_KIND, "from"),
                             header(connection, MHD_GET_ARGUMENT_KIND, "to"),
                             header(connection, MHD_GET_ARGUMENT_KIND, "points"), Clock::now().toMSecsSinceEpoch(),
                             m_config.maxSpanMs, &query, &error))
        return Answer::error(MHD_HTTP_BAD_REQUEST, error);
    QVector<HistoryPoint> points;
    QString type, unit, source;
    QStringList files;
    bool known = false;
    if (m_index) {
        source = QStringLiteral("files");
        files = m_index->filesOf(query.channel, &type, &unit);
        known = !files.isEmpty();
        if (known && !m_index->readings(files, query.fromMs, query.toMs, m_config.maxReadings, &points, &error))
            return Answer::error(MHD_HTTP_BAD_REQUEST, error);
    } else if (m_archive) {
        source = QStringLiteral("run");
        QMutexLocker lock(&m_archiveMutex);
        known = archiveHistory(*m_archive, query.channel, query.fromMs, query.toMs, &points, &type, &unit);
    }
    if (!known) {
        // A channel of the table with nothing recorded yet has an empty history.
        for (const WebChannel &channel : snapshot()->channels) {
            if (channel.key == query.channel) {
                known = true;
                type = channel.type;
                unit = channel.unit;
            }
        }
    }
    if (!known)
        return Answer::error(MHD_HTTP_NOT_FOUND, QStringLiteral("no channel %1").arg(query.channel));
    const bool reduced = query.points > 0 && points.size() > query.points;
    if (reduced)
        points = reduceHistory(points, query.fromMs, query.toMs, query.points);
    Answer made;
    made.body = historyJson(query, type, unit, source, files, reduced, points);
    return made;
}

WebPage::Answer WebPage::mayChangeLimits(MHD_Connection *connection)
{
    if (m_passwords.isEmpty())
        return Answer::error(MHD_HTTP_FORBIDDEN, QStringLiteral("read-only: no password file is configured"));
    // A form of another site cannot send JSON, and a script of another site
    // says where it comes from: neither may change a limit.
    if (!header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE)
             .startsWith(QLatin1String("application/json"), Qt::CaseInsensitive))
        return Answer::error(MHD_HTTP_UNSUPPORTED_MEDIA_TYPE, QStringLiteral("the body must be application/json"));
    const QString origin = header(connection, MHD_HEADER_KIND, "Origin");
    const QString host = header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
    if (!origin.isEmpty() && origin != QLatin1String("http://") + host && origin != QLatin1String("https://") + host)
        return Answer::error(MHD_HTTP_FORBIDDEN, QStringLiteral("another site's page may not change limits"));
    char *password = nullptr;
    char *user = MHD_basic_auth_get_username_password(connection, &password);
    const bool allowed = user && password && checkPassword(QString::fromUtf8(user), QString::fromUtf8(password));
    MHD_free(user);
    MHD_free(password);
    if (!allowed) {
        Answer made = Answer::error(MHD_HTTP_UNAUTHORIZED, QStringLiteral("a user and password of the password file"));
        made.askPassword = true;
        return made;
    }
    return Answer();
}

WebPage::Answer WebPage::changeLimits(const Request &request)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &parseError);
    const QJsonObject object = document.object();
    if (parseError.error != QJsonParseError::NoError || !object.value(QLatin1String("channel")).isString()
        || !object.value(QLatin1String("limits")).isString())
        return Answer::error(MHD_HTTP_BAD_REQUEST,
                             QStringLiteral("the body is {\"channel\": KEY, \"limits\": \"LOW:HIGH ...\"}"));
    const QString key = object.value(QLatin1String("channel")).toString();
    const QString text = object.value(QLatin1String("limits")).toString().trimmed();
    ChannelId id;
    AlarmLimits limits;
    QString error;
    if (!AlarmRules::parseChannel(key, &id, &error))
        return Answer::error(MHD_HTTP_BAD_REQUEST, error);
    if (!text.isEmpty() && !AlarmRules::parseLimits(text, &limits, &error))
        return Answer::error(MHD_HTTP_BAD_REQUEST, error);
    const std::shared_ptr<const WebSnapshot> now = snapshot();
    const bool listed = std::any_of(now->channels.begin(), now->channels.end(),
                                    [&](const WebChannel &channel) { return channel.key == id.text(); });
    if (!listed)
        return Answer::error(MHD_HTTP_NOT_FOUND, QStringLiteral("no channel %1 in the table").arg(key));
    // The board is the GUI thread's: the change waits there for its turn,
    // and neither the client nor the cycle waits for the other.
    QMetaObject::invokeMethod(
        this,
        [this, id, limits] {
            if (m_alarms)
                m_alarms->setLimits(id, limits);
        },
        Qt::QueuedConnection);
    Answer made;
    made.status = MHD_HTTP_ACCEPTED;
    made.body = "{\"channel\":";
    appendJsonString(made.body, id.text());
    made.body += ",\"limits\":";
    appendJsonString(made.body, limits.isSet() ? AlarmRules::limitsText(limits) : QString());
    made.body += "}\n";
    return made;
}

int WebPage::openStream(MHD_Connection *connection)
{
    auto *stream = new Stream;
    stream->page = this;
    stream->connection = connection;
    {
        QMutexLocker lock(&m_streamMutex);
        m_streams.append(stream);
    }
    MHD_Response *response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, &readStream, stream,
                                                                &freeStream);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream; charset=utf-8");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Accel-Buffering", "no");
    // A stream is quiet between cycles: no idle deadline.
    MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, 0u);
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued == MHD_YES;
}

long long WebPage::streamRead(Stream *stream, char *buffer, size_t max)
{
    for (;;) {
        {
            QMutexLocker lock(&m_streamMutex);
            if (stream->closing)
                return MHD_CONTENT_READER_END_OF_STREAM;
            if (stream->offset < stream->pending.size()) {
                const size_t count = qMin(max, size_t(stream->pending.size() - stream->offset));
                std::memcpy(buffer, stream->pending.constData() + stream->offset, count);
                stream->offset += int(count);
                return (long long)count;
            }
        }
        const std::shared_ptr<const WebSnapshot> now = snapshot();
        if (now->cycle != stream->sentCycle) {
            // Made outside the lock, which the cycle's end takes.
            QByteArray event = stream->sentCycle == 0 && stream->pending.isEmpty() ? QByteArray("retry: 5000\n")
                                                                                    : QByteArray();
            event += "event: channels\ndata: " + now->json() + "\n\n";
            QMutexLocker lock(&m_streamMutex);
            stream->pending = event;
            stream->offset = 0;
            stream->sentCycle = now->cycle;
            continue;
        }
        QMutexLocker lock(&m_streamMutex);
        if (snapshot()->cycle != stream->sentCycle || stream->closing)
            continue; // a cycle ended meanwhile
        // Nothing new: parked until the next cycle's end resumes it.
        stream->suspended = true;
        MHD_suspend_connection(stream->connection);
        return 0;
    }
}

void WebPage::streamGone(Stream *stream)
{
    QMutexLocker lock(&m_streamMutex);
    m_streams.removeOne(stream);
    delete stream;
}

void WebPage::endStream(MHD_Connection *connection)
{
    QMutexLocker lock(&m_streamMutex);
    for (Stream *stream : qAsConst(m_streams)) {
        if (stream->connection != connection)
            continue;
        stream->closing = true;
        if (stream->suspended) {
            stream->suspended = false;
            MHD_resume_connection(connection);
        }
    }
}

namespace {

class WebPlan : public OutputPlan
{
public:
    explicit WebPlan(const WebConfig &config)
        : m_config(config)
    {
    }

    std::unique_ptr<ReadingSink> start(const OutputHost &host, QString *error) override
    {
        auto page = std::make_unique<WebPage>(m_config);
        page->setHost(host);
        if (!page->start(error))
            return nullptr;
        if (host.report)
            host.report(QCoreApplication::translate("Orvexctl", "web page on http://%1/").arg(
                m_config.listen.host.contains(QLatin1Char(':'))
                    ? QLatin1Char('[') + m_config.listen.host + QStringLiteral("]:") + QString::number(page->port())
                    : m_config.listen.host + QLatin1Char(':') + QString::number(page->port())));
        return page;
    }

private:
    WebConfig m_config;
};

std::unique_ptr<OutputPlan> webPlan(QSettings &settings, QStringList *args, QString *error)
{
    QString settingsError;
    WebConfig config = WebConfig::fromSettings(settings, &settingsError);
    if (args) {
        config.enabled = false;
        if (!WebConfig::takeOptions(*args, &config, error))
            return nullptr;
    } else {
        *error = settingsError;
    }
    if (!config.enabled)
        return nullptr;
    return std::make_unique<WebPlan>(config);
}

} // namespace

OutputEntry WebPage::outputEntry()
{
    OutputEntry entry;
    entry.name = QStringLiteral("web");
    entry.synopsis = QStringLiteral("[--web [ADDRESS:]PORT [--web-passwords FILE]]");
    entry.optionsUsage = WebConfig::optionsUsage;
    entry.plan = webPlan;
    return entry;
}
