#include "app/appstate.h"
#include "app/mainwindow.h"
#include "i2c/heaterschedule.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "sim/simbusloader.h"
#include "sim/simds28e17.h"
#include "sim/simmultihub.h"
#include "sim/simsht3x.h"
#include "support/simfixture.h"
#include "table/tableman.h"

#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// The bridges in the window: the heater spin boxes, closing during a bridge
// read, and the table's hub and I2C serial columns.
class TstBridgeWindow : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir settingsDir;

    // The row showing (ROM text, subchannel, hub channel, address byte), as the table keys it.
    static int row(MainWindow &window, const char *rom, int subchannel, int hubChannel, int address)
    {
        return window.tableManager()->findRow(QLatin1String(rom), uint8_t(subchannel), hubChannel, uint8_t(address));
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        qputenv("ORVEX_INSTANCE_KEY",
                QString("orvex-bridgewindow-test-%1").arg(QCoreApplication::applicationPid()).toUtf8());
        Clock::setVirtual();
        AppState::instance().resetForTest();
        // No recording: every tick measures.
        Dialogs::setResponder([](const DialogRequest &) { return DialogAnswer::pressed(QMessageBox::No); });
    }

    void heaterSpinBoxes()
    {
        SimFixture f;
        MainWindow window;
        QCOMPARE(window.instanceState(), 1);
        heaterSchedules()[0x1234] = HeaterSchedule();
        window.findChild<QSpinBox *>("spinBoxShtPeriodHeat")->setValue(12);
        window.findChild<QSpinBox *>("spinBoxShtTimeHeat")->setValue(4);
        QCOMPARE(shtHeaterPause(), 12);
        QCOMPARE(shtHeaterOnTime(), 4);
        QCOMPARE(heaterSchedules().value(0x1234).pause, 12);
        QCOMPARE(heaterSchedules().value(0x1234).onTime, 4);
    }

    // Closing the window while a bridge is walked ends the read after the
    // channel in progress, leaves the hub on channel 0 and the cycle ends
    // with the bridges' broadcast as usual.
    void closingDuringABridgeRead()
    {
        SimFixture f;
        auto *bridge = f.add(std::make_unique<SimDs28e17>(SimFixture::rom(0x19, 0x5A5A)));
        SimMultiHub *hub = bridge->i2c().setHub(std::make_unique<SimMultiHub>());
        hub->add(std::make_unique<SimSht3x>(), 30);
        MainWindow window;
        window.applicationTimer()->stop();
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (hub->selectedChannel() == 3)
                window.close();
        });
        closer.start(0);
        const int bytesBefore = hub->channelBytesTaken();
        window.onAppTimer();
        closer.stop();
        QVERIFY(window.exitRequested());
        QCOMPARE(hub->selectedChannel(), 0);
        QCOMPARE(hub->channelBytesTaken() - bytesBefore, 5); // channels 0 to 3, then back to 0
        QCOMPARE(bridge->sleeps(), 1);
        QCOMPARE(window.findChild<QTableWidget *>("tblSens")->rowCount(), 0);
    }

    // The demo bus in the window: the hub channel and I2C serial columns
    // show, with the texts of the records.
    void hubAndSerialColumns()
    {
        SimFixture f(SimBusLoader::loadDemo(nullptr));
        MainWindow window;
        window.applicationTimer()->stop();
        window.onAppTimer();
        auto *table = window.findChild<QTableWidget *>("tblSens");
        QVERIFY(!table->isColumnHidden(TableMan::ColHubChannel));
        QVERIFY(!table->isColumnHidden(TableMan::ColI2cSerial));
        QCOMPARE(table->rowCount(), 22);

        const int scd = row(window, "A900000B812E5C19", 0, 9, 0xC2);
        QVERIFY(scd >= 0);
        QCOMPARE(table->item(scd, TableMan::ColHubChannel)->text(), QStringLiteral("9"));
        QCOMPARE(table->item(scd, TableMan::ColI2cSerial)->text(), QStringLiteral("2D9F 4C1E0A5B44761C07"));
        QCOMPARE(table->item(scd, TableMan::ColType)->text(), QStringLiteral("SDC30 CO2 channel"));
        QCOMPARE(table->item(scd, TableMan::ColUnit)->text(), QStringLiteral("ppm"));

        const int d6f = row(window, "A900000B812E5C19", 1, 8, 0xD8);
        QVERIFY(d6f >= 0);
        QCOMPARE(table->item(d6f, TableMan::ColI2cSerial)->text(), QString());
        const int thermometer = row(window, "9503161D1E64FF28", 0, -1, 0);
        QVERIFY(thermometer >= 0);
        QCOMPARE(table->item(thermometer, TableMan::ColHubChannel)->text(), QStringLiteral("-1"));
        window.close();
    }
};

QTEST_MAIN(TstBridgeWindow)
#include "tst_bridgewindow.moc"
