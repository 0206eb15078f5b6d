#pragma once

#include "faces/facesnapshot.h"

#include <QString>
#include <QStringList>

class QSettings;

// Where the web page listens and what it allows. The window reads it from
// the "Web/..." settings; orvexctl takes them as defaults and serves only
// when its --web option asks.
struct WebConfig
{
    bool enabled = false;
    ListenAddress listen;
    // "USER:HASH" lines (crypt(3) hashes); empty: the page is read-only.
    QString passwordFile;
    // The chart library the page loads, as Debian's libjs-chart.js installs it.
    QString chartLibrary = QStringLiteral("/usr/share/javascript/chart.js/chart.min.js");

    // Connections: at most this many at once; one more pushes out the
    // oldest that has no request under way (ConnectionGuard).
    int maxConnections = 48;
    // From one address other than the loopback one, at most this many.
    int perAddress = 16;
    // A request's header must have arrived whole this long (real time)
    // after the connection opened or its previous request ended.
    int headerTimeoutMs = 5000;
    // A connection silent this long (real time) is closed; event streams excepted.
    int idleTimeoutS = 30;
    // The longest span /api/history answers, and the most readings it lists.
    qint64 maxSpanMs = 31LL * 24 * 3600 * 1000;
    int maxReadings = 1000000;

    // "Web/Listen" ([ADDRESS:]PORT; empty: off), "Web/PasswordFile".
    static WebConfig fromSettings(QSettings &settings, QString *error);
    // orvexctl: takes "--web [ADDRESS:]PORT" and "--web-passwords FILE" out
    // of `args`. False with *error.
    static bool takeOptions(QStringList &args, WebConfig *config, QString *error);
    static QString optionsUsage();
};
