#include "publish/mqttconfig.h"

#include "base/appsettings.h"
#include "base/installpaths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QSettings>
#include <QUrl>

namespace {

const char kPasswordVariable[] = "ORVEX_MQTT_PASSWORD";
// The longest topic MQTT carries, in bytes of UTF-8.
const int kTopicLimit = 65535;
// What the longest generated topic adds to its prefix and host name: the
// longest channel identifier, an instance tag and the fixed parts.
const int kTopicReserve = 160;

// Why `prefix` cannot begin topics, or empty.
QString prefixProblem(const QString &prefix, const char *what)
{
    if (prefix.startsWith(QLatin1Char('$')))
        return QStringLiteral("the %1 must not begin with \"$\" (topics the broker keeps for itself)").arg(QLatin1String(what));
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#')))
        return QStringLiteral("the %1 must not hold \"+\" or \"#\"").arg(QLatin1String(what));
    for (const QChar c : prefix) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Surrogate || c == QChar(0xFFFE)
            || c == QChar(0xFFFF))
            return QStringLiteral("the %1 must not hold control characters").arg(QLatin1String(what));
    }
    return QString();
}

// The value following option `index`, taken out of `args` with the option.
bool takeValue(QStringList &args, int index, QString *value)
{
    if (index + 1 >= args.size() || args.at(index + 1).isEmpty())
        return false;
    *value = args.takeAt(index + 1);
    args.removeAt(index);
    return true;
}

} // namespace

MqttConfig MqttConfig::fromSettings(QSettings &settings, QString *error)
{
    MqttConfig config;
    const auto text = [&](const char *key) { return settings.value(QLatin1String(key)).toString().trimmed(); };
    config.url = text("Mqtt/Url");
    config.prefixSetting = text("Mqtt/TopicPrefix");
    config.clientId = text("Mqtt/ClientId");
    config.username = text("Mqtt/Username");
    config.passwordFile = text("Mqtt/PasswordFile");
    config.caFile = text("Mqtt/CaFile");
    config.discovery = settings.value(QStringLiteral("Mqtt/Discovery"), true).toBool();
    config.discoveryPrefix = text("Mqtt/DiscoveryPrefix");
    config.queueFolder = text("Mqtt/QueueFolder");
    config.queueLimit = settings.value(QStringLiteral("Mqtt/QueueLimit"), config.queueLimit).toInt();
    config.forgetAfterH = settings.value(QStringLiteral("Mqtt/ForgetAfterH"), config.forgetAfterH).toInt();
    config.cycleS = storedIntervalS(settings);
    error->clear();
    const bool parsed = config.enabled() && config.parseUrl(error);
    config.applyDefaults();
    if (parsed)
        config.checkTopics(error);
    return config;
}

bool MqttConfig::takeOptions(QStringList &args, MqttConfig *config, QString *error)
{
    config->url.clear();
    config->role = QStringLiteral("ctl");
    bool extras = false;
    for (int i = 0; i < args.size();) {
        const QString arg = args.at(i);
        QString *target = nullptr;
        if (arg == QLatin1String("--mqtt"))
            target = &config->url;
        else if (arg == QLatin1String("--mqtt-client-id"))
            target = &config->clientId;
        else if (arg == QLatin1String("--mqtt-user"))
            target = &config->username;
        else if (arg == QLatin1String("--mqtt-password-file"))
            target = &config->passwordFile;
        else if (arg == QLatin1String("--mqtt-ca"))
            target = &config->caFile;
        else if (arg == QLatin1String("--mqtt-queue"))
            target = &config->queueFolder;
        if (target) {
            if (!takeValue(args, i, target)) {
                *error = QStringLiteral("%1 takes a value").arg(arg);
                return false;
            }
            extras |= target != &config->url;
        } else if (arg == QLatin1String("--no-discovery")) {
            config->discovery = false;
            args.removeAt(i);
            extras = true;
        } else if (arg == QLatin1String("--mqtt-wait")) {
            QString value;
            bool ok = takeValue(args, i, &value);
            config->finishWaitS = value.toInt(&ok);
            if (!ok || config->finishWaitS < 0 || config->finishWaitS > 3600) {
                *error = QStringLiteral("--mqtt-wait takes whole seconds from 0 to 3600");
                return false;
            }
            extras = true;
        } else {
            ++i;
        }
    }
    if (!config->enabled()) {
        if (extras) {
            *error = QStringLiteral("the MQTT options need --mqtt URL");
            return false;
        }
        return true;
    }
    if (!config->parseUrl(error))
        return false;
    config->applyDefaults();
    return config->checkTopics(error);
}

bool MqttConfig::parseUrl(QString *error)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))
        || parsed.host().isEmpty() || parsed.hasQuery() || parsed.hasFragment()) {
        *error = QStringLiteral("the MQTT broker must be given as mqtt://host[:port][/prefix] or mqtts://...");
        return false;
    }
    if (!parsed.password().isEmpty()) {
        *error = QStringLiteral("the MQTT URL must not hold a password: give a password file or %1")
                     .arg(QLatin1String(kPasswordVariable));
        return false;
    }
    tls = scheme == QLatin1String("mqtts");
    host = parsed.host();
    port = parsed.port(tls ? 8883 : 1883);
    if (port == 0) {
        *error = QStringLiteral("the MQTT broker's port must be from 1 to 65535");
        return false;
    }
    if (!parsed.userName().isEmpty() && username.isEmpty())
        username = parsed.userName();
    // Decoded, so that "%00" or "%24" is checked as what it stands for.
    QString path = parsed.path(QUrl::FullyDecoded);
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    topicPrefix = path.isEmpty() ? prefixSetting : path;
    *error = prefixProblem(topicPrefix, "MQTT topic prefix");
    return error->isEmpty();
}

bool MqttConfig::checkTopics(QString *error) const
{
    *error = prefixProblem(topicPrefix, "MQTT topic prefix");
    if (error->isEmpty())
        *error = prefixProblem(discoveryPrefix, "Home Assistant discovery prefix");
    if (error->isEmpty()
        && qMax(topicPrefix.toUtf8().size(), discoveryPrefix.toUtf8().size()) + hostName.toUtf8().size() + kTopicReserve
               > kTopicLimit)
        *error = QStringLiteral("the MQTT topic prefix makes topics longer than %1 bytes").arg(kTopicLimit);
    return error->isEmpty();
}

QString MqttConfig::target() const
{
    return QStringLiteral("%1://%2:%3/%4").arg(tls ? "mqtts" : "mqtt", host).arg(port).arg(topicPrefix);
}

QString MqttConfig::defaultQueueBase() const
{
    return InstallPaths::mqttQueueFolder() + QLatin1Char('/') + topicSafe(host) + QLatin1Char('-')
           + QString::number(port) + QLatin1Char('-') + topicSafe(topicPrefix);
}

void MqttConfig::resolveInstance(const QString &slot)
{
    if (role.isEmpty()) {
        instanceTag.clear();
    } else if (!slot.isEmpty()) {
        instanceTag = slot;
    } else {
        // A folder of the operator's choice: named by it, the same at every run.
        const QByteArray path = QDir(queueFolder).absolutePath().toUtf8();
        instanceTag = role + QLatin1Char('-')
                      + QString::fromLatin1(QCryptographicHash::hash(path, QCryptographicHash::Sha1).toHex().left(8));
    }
    if (clientId.isEmpty())
        clientId = QStringLiteral("orvex-") + hostName + (instanceTag.isEmpty() ? QString() : QLatin1Char('-') + instanceTag);
}

void MqttConfig::applyDefaults()
{
    if (hostName.isEmpty())
        hostName = topicSafe(QSysInfo::machineHostName());
    if (topicPrefix.isEmpty())
        topicPrefix = QStringLiteral("orvex");
    if (discoveryPrefix.isEmpty())
        discoveryPrefix = QStringLiteral("homeassistant");
    if (queueLimit < 1)
        queueLimit = 1;
}

bool MqttConfig::readPassword(QByteArray *password, QString *error) const
{
    password->clear();
    if (passwordFile.isEmpty()) {
        *password = qgetenv(kPasswordVariable);
        return true;
    }
    QFile file(passwordFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QCoreApplication::translate("MqttConfig", "не удалось прочитать файл пароля %1: %2").arg(passwordFile, file.errorString());
        return false;
    }
    *password = file.readLine();
    while (password->endsWith('\n') || password->endsWith('\r'))
        password->chop(1);
    return true;
}

QString MqttConfig::topicSafe(const QString &text)
{
    QString safe;
    for (const QChar c : text) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                           || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_')
                           || c == QLatin1Char('-');
        safe += plain ? c : QLatin1Char('_');
    }
    return safe.isEmpty() ? QStringLiteral("host") : safe;
}

QString MqttConfig::brokerText() const
{
    return host + QLatin1Char(':') + QString::number(port);
}

const char *MqttConfig::optionsUsage()
{
    return QT_TRANSLATE_NOOP("Orvexctl",
                             "  --mqtt URL      publish every reading to the MQTT broker mqtt://host[:port][/prefix] (mqtts:// for TLS)\n"
           "  --no-discovery  no Home Assistant discovery messages\n"
           "  --mqtt-client-id ID, --mqtt-user NAME, --mqtt-password-file FILE, --mqtt-ca FILE\n"
           "                  client identifier, user name, the file holding the password\n"
           "                  (else ORVEX_MQTT_PASSWORD), certificates of the broker's CA for mqtts\n"
           "  --mqtt-queue DIR  the folder of the queue kept while the broker is away\n"
           "  --mqtt-wait S   at the end, wait up to S seconds for the broker to take the queue (default 5)\n");
}
