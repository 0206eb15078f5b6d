#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QSettings;

// Where and how readings are published: the broker, the topics, the
// credentials and the on-disk queue. The window reads it from the "Mqtt/..."
// settings; orvexctl starts from the same settings and applies its --mqtt
// options. The password itself is never part of it: only the file that holds
// it, or the environment variable ORVEX_MQTT_PASSWORD.
struct MqttConfig
{
    QString url;             // "mqtt://host[:port][/prefix]" or "mqtts://..."; empty: publishing is off
    QString host;            // from the URL
    int port = 0;            // from the URL: 1883, or 8883 for mqtts
    bool tls = false;        // mqtts
    QString topicPrefix;     // the URL's path, else prefixSetting, else "orvex"
    QString prefixSetting;   // "Mqtt/TopicPrefix"
    QString hostName;        // this machine as the topics name it
    QString clientId;        // default "orvex-" + hostName
    QString username;
    QString passwordFile;    // first line is the password
    QString caFile;          // PEM certificates that sign the broker's; empty: the system's
    bool discovery = true;   // Home Assistant discovery messages
    QString discoveryPrefix; // default "homeassistant"
    QString queueFolder;     // default: InstallPaths::mqttQueueFolder()
    int queueLimit = 100000; // readings kept while the broker is away
    int forgetAfterH = 168;  // a channel unseen this long loses its discovery entry; 0: never
    int finishWaitS = 5;     // orvexctl: how long to wait at the end for the broker to take the queue

    bool enabled() const { return !url.isEmpty(); }

    // The "Mqtt/..." keys with their defaults, the URL checked; publishing is
    // off without "Mqtt/Url". A bad value leaves *error set (and enabled()).
    static MqttConfig fromSettings(QSettings &settings, QString *error);

    // orvexctl: takes the --mqtt options out of `args` and applies them over
    // `config` (which comes from the settings but publishes only when --mqtt
    // is given). False with *error for a bad or missing option value.
    static bool takeOptions(QStringList &args, MqttConfig *config, QString *error);

    // Splits `url` into host, port, TLS and (when it has a path) the topic
    // prefix. False with *error; the error never repeats the URL itself, which
    // might hold a password.
    bool parseUrl(QString *error);

    // The password from `passwordFile`, else from ORVEX_MQTT_PASSWORD, else
    // empty. False with *error when the file cannot be read.
    bool readPassword(QByteArray *password, QString *error) const;

    // Fills what is still empty with its default.
    void applyDefaults();

    // The machine's name reduced to letters, digits, "_" and "-", as topics
    // and discovery identifiers need it.
    static QString topicSafe(const QString &text);
    // "host:port" for status texts.
    QString brokerText() const;
    // The usage lines of the options takeOptions() knows.
    static const char *optionsUsage();
};
