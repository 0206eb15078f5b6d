#include "app/appstate.h"
#include "app/mainwindow.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "sensors/sensor.h"
#include "support/settingsfolder.h"
#include "table/tableman.h"

#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

// The window's first start and its end: the interval offered when nothing is
// stored yet, and everything the window made released with it.
class TstWindowLifecycle : public QObject
{
    Q_OBJECT

    SettingsFolder settingsDir;
    QTemporaryDir recordDir;
    QList<DialogRequest> intervalRequests;

    // A start with empty settings that records into recordDir; the interval
    // question gets `answer` (accepted with that value, or cancelled when < 1).
    std::unique_ptr<MainWindow> firstStart(int answer)
    {
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tresvant"), QStringLiteral("Орвекс")).clear();
        intervalRequests.clear();
        const QString folder = recordDir.path();
        Dialogs::setResponder([this, folder, answer](const DialogRequest &request) {
            if (request.kind == DialogRequest::Directory) {
                DialogAnswer chosen = DialogAnswer::pressed(QMessageBox::Ok, true);
                chosen.textValue = folder;
                return chosen;
            }
            if (request.kind == DialogRequest::InputInt) {
                intervalRequests << request;
                DialogAnswer given = DialogAnswer::pressed(answer > 0 ? QMessageBox::Ok : QMessageBox::Cancel, answer > 0);
                given.intValue = answer;
                return given;
            }
            return DialogAnswer::pressed(QMessageBox::Yes);
        });
        return std::make_unique<MainWindow>();
    }

private slots:
    void initTestCase()
    {
        qputenv("ORVEX_INSTANCE_KEY", QStringLiteral("orvex-lifecycle-test-%1-%2")
                                          .arg(QCoreApplication::applicationPid())
                                          .arg(QDateTime::currentMSecsSinceEpoch())
                                          .toUtf8());
        Clock::setVirtual();
        AppState::instance().resetForTest();
    }

    // Nothing stored: 30 s is offered within 1..300; Cancel keeps 30, OK
    // takes the operator's value and stores it for the next start.
    void firstStartOffersThirtySeconds()
    {
        std::unique_ptr<MainWindow> window = firstStart(0);
        QCOMPARE(window->instanceState(), 1);
        QCOMPARE(intervalRequests.size(), 1);
        const DialogRequest offered = intervalRequests.first();
        QCOMPARE(QVector<int>({offered.intValue, offered.intMin, offered.intMax}), QVector<int>({30, 1, 300}));
        QCOMPARE(window->measurementInterval(), 30);
        window.reset();

        window = firstStart(45);
        QCOMPARE(intervalRequests.first().intValue, 30);
        QCOMPARE(window->measurementInterval(), 45);
        window.reset();
        QSettings stored(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tresvant"), QStringLiteral("Орвекс"));
        QCOMPARE(stored.value(QStringLiteral("Time/Interval")).toInt(), 45);
    }

    // Destroying the window releases the sensor object, the table manager
    // and the timer it made (the acquisition with them; the sanitizer build
    // checks that nothing else is left).
    void destructionReleasesWhatTheWindowMade()
    {
        std::unique_ptr<MainWindow> window = firstStart(0);
        const QPointer<Sensor> sensor = window->sensorObject();
        const QPointer<TableMan> table = window->tableManager();
        const QPointer<QTimer> timer = window->applicationTimer();
        QVERIFY(sensor && table && timer);
        window.reset();
        QVERIFY(sensor.isNull());
        QVERIFY(table.isNull());
        QVERIFY(timer.isNull());
    }

    void cleanupTestCase() { Dialogs::setResponder(Dialogs::Responder()); }
};

QTEST_MAIN(TstWindowLifecycle)
#include "tst_windowlifecycle.moc"
