#include "base/logging.h"
#include "base/logmessagehandler.h"
#include "base/clock.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

void logAs(QtMsgType type, const char *category, const QString &text)
{
    const QMessageLogContext context("file.cpp", 1, "function", category);
    logMessageHandler(type, context, text);
}

} // namespace

class TstLogMessageHandler : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    QString path;

private slots:
    void init()
    {
        Clock::setVirtual();
        setLogFileEnabled(false);
        path = dir.filePath(QString("run%1.log").arg(QTest::currentTestFunction()));
        logFile().reset(new QFile(path));
    }

    void lineFormatAndTags()
    {
        setLogFileEnabled(true);
        {
            // Earlier lines stay: the file is appended to, never truncated.
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("earlier line\n");
        }
        Clock::advanceMs(1234);
        const QString stamp = Clock::now().toString("yyyy-MM-dd hh:mm:ss.zzz");
        QCOMPARE(stamp, QString("2025-01-27 14:03:06.234"));

        // Through Qt's logging, as the program logs: debug level, text composed
        // by the debug stream (blanks between items, strings quoted).
        const QtMessageHandler previous = qInstallMessageHandler(logMessageHandler);
        qCDebug(logInfo()) << "Add Sensor " << 2 << QStringLiteral("28FF");
        qDebug() << "Read settings path = " << QStringLiteral("/data/Замеры");
        qCDebug(logCritical()) << "ErrorMakePath " << QStringLiteral("/opt");
        qInstallMessageHandler(previous);

        logAs(QtWarningMsg, "Info", "w");
        logAs(QtCriticalMsg, "Info", "c");
        logAs(QtFatalMsg, "Info", "f");
        logAs(QtInfoMsg, "Info", "i");
        logAs(QtDebugMsg, nullptr, "no category");

        const QStringList expected{
            "earlier line",
            stamp + " DBG Info: Add Sensor  2 \"28FF\"",
            stamp + " DBG default: Read settings path =  \"/data/Замеры\"",
            stamp + " DBG Critical: ErrorMakePath  \"/opt\"",
            stamp + " WRN Info: w",
            stamp + " CRT Info: c",
            stamp + " FTL Info: f",
            stamp + " INF Info: i",
            stamp + " DBG default: no category",
        };
        QCOMPARE(fileLines(path), expected);
        // Closed again after every line.
        QVERIFY(!logFile()->isOpen());
    }

    void withoutV1NothingIsWrittenAndEachCallWaits()
    {
        bool eventRan = false;
        QTimer::singleShot(0, this, [&] { eventRan = true; });

        const qint64 startMs = Clock::tickMs();
        for (int i = 0; i < 50; ++i)
            logAs(QtDebugMsg, "Info", "dropped");

        QVERIFY(Clock::tickMs() - startMs >= 50 * 10);
        QVERIFY(Clock::tickMs() - startMs < 50 * 12);
        QVERIFY(eventRan); // pending events run during the wait
        QVERIFY(!QFile::exists(path));
    }

    void unopenableFileDropsOnlyThatMessage()
    {
        setLogFileEnabled(true);
        const QString folder = dir.filePath("notyet");
        logFile().reset(new QFile(folder + "/run.log"));
        logAs(QtDebugMsg, "Info", "lost");
        QVERIFY(!QFile::exists(folder + "/run.log"));

        QVERIFY(QDir().mkpath(folder));
        logAs(QtDebugMsg, "Info", "kept");
        const QStringList lines = fileLines(folder + "/run.log");
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().endsWith(" DBG Info: kept"));

        // No file chosen yet: dropped without harm.
        logFile().reset();
        logAs(QtDebugMsg, "Info", "nowhere");
    }

    // Messages raised before the run's handler is chosen (the start-up
    // questions' "Read settings path = ...") wait, and then reach the log
    // file in order with their category, ahead of the later ones; nothing
    // goes to standard error meanwhile.
    void startUpMessagesReachTheLog()
    {
        setLogFileEnabled(true);
        holdLogMessages();
        qDebug() << "Read settings path = " << "/tmp/x";
        qCDebug(logInfo()) << "second";
        QVERIFY(!QFile::exists(path));
        qInstallMessageHandler(logMessageHandler);
        releaseHeldLogMessages();
        qCDebug(logInfo()) << "after";
        qInstallMessageHandler(nullptr);
        const QStringList lines = fileLines(path);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines.at(0).endsWith(" DBG default: Read settings path =  /tmp/x"), qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).endsWith("second") && lines.at(2).endsWith("after"), qPrintable(lines.join('|')));
        releaseHeldLogMessages(); // nothing held: nothing happens
        QCOMPARE(fileLines(path).size(), 3);
    }
};

QTEST_GUILESS_MAIN(TstLogMessageHandler)
#include "tst_logmessagehandler.moc"
