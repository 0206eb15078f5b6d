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
    QString clientId;        // default "orvex-" + hostName, and "-" + instanceTag when there is one
    QString username;
    QString passwordFile;    // first line is the password
    QString caFile;          // PEM certificates that sign the broker's; empty: the system's
    bool discovery = true;   // Home Assistant discovery messages
    QString discoveryPrefix; // default "homeassistant"
    QString queueFolder;     // empty: the instance's own folder under InstallPaths::mqttQueueFolder() (resolveInstance())
    int queueLimit = 100000; // readings kept while the broker is away
    int forgetAfterH = 168;  // a channel unseen this long loses its discovery entry; 0: never
    int finishWaitS = 5;     // orvexctl: how long to wait at the end for the broker to take the queue
    int cycleS = 0;          // seconds between measurement cycles (0: back to back), for expire_after
    int ackTimeoutMs = 30000; // a message unacknowledged this long makes the link reconnect
    // Which kind of program publishes: "" the window (one per machine), "ctl"
    // an orvexctl (any number at once). Instances of a kind are told apart
    // by instanceTag, which names their queue, client id and availability topic.
    QString role;
    QString instanceTag;     // resolveInstance(): "" for the window, "ctl1", "ctl2"... or "ctl-<hash>"

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

    // Fills what is still empty with its default (not the queue folder and
    // the client id, which come with the instance).
    void applyDefaults();
    // The checks of every topic part, from whatever source: false with *error
    // for a prefix the broker would not serve as meant ("$..." is the
    // broker's own, wildcards, control characters) or topics longer than
    // the protocol carries.
    bool checkTopics(QString *error) const;

    // The broker and prefix a queue belongs to: "mqtt://host:port/prefix".
    QString target() const;
    // The default queue folder of this broker and prefix, where each
    // instance has a folder of its own.
    QString defaultQueueBase() const;
    // Sets instanceTag (from the queue folder) and the default client id,
    // once the queue folder is known.
    void resolveInstance(const QString &slot);

    // The machine's name reduced to letters, digits, "_" and "-", as topics
    // and discovery identifiers need it.
    static QString topicSafe(const QString &text);
    // "host:port" for status texts.
    QString brokerText() const;
    // The usage lines of the options takeOptions() knows: the English source,
    // to be translated in orvexctl's context.
    static const char *optionsUsage();
};
