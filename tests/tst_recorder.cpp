#include "base/appsettings.h"
#include "base/clock.h"
#include "support/scripteddialogs.h"
#include "support/settingsfolder.h"
#include "support/tablesupport.h"
#include "gui/filenametemplate.h"
#include "table/recorder.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <memory>

using namespace TableSupport;

namespace {
const quint64 Thermometer = 0x28FF641E1D16035Aull; // ROM text 5A03161D1E64FF28
const QByteArray Header =
    "\"Sensor 1WireAddr\";'5A03161D1E64FF28\r\n\"I2C address\";'0\r\nI2C Serial;\r\n"
    "MultiHub Channel;'-1\r\nSubchannel sensor;'0\r\nSensor type;DS18B20 Temperature sensor\r\n"
    "Sensor mark;T\r\nSensor Unit;C\r\n ; ;\r\nDATA;TIME;Value;Sample;Deviation\r\n";
} // namespace

class TstRecorder : public QObject
{
    Q_OBJECT

    SettingsFolder settingsDir;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SensorDevice> dev;
    std::unique_ptr<Recorder> recorder;
    Recorder &rec() const { return *recorder; }
    ScriptedDialogs dialogs;
    std::unique_ptr<FileNameTemplate> window;
    QString chosen; // the last template the window handed to its owner

    // The template window, opened by its owner with the recorder's template
    // "%SN1W%" and none stored; the owner records with what it is handed.
    void openTemplateWindow()
    {
        dialogs.setResponder([](const DialogRequest &) { return DialogAnswer::pressed(QMessageBox::Ok, true); });
        rec().setNameTemplate("%SN1W%");
        chosen = rec().nameTemplate();
        appSettings().remove("Settings/OutFileFormat");
        dialogs.clearHistory();
        window.reset(new FileNameTemplate(rec().nameTemplate(), rec().startTime(), nullptr, &dialogs));
        QObject::connect(window.get(), &FileNameTemplate::templateChosen, [this](const QString &text) {
            chosen = text;
            rec().setNameTemplate(text);
        });
        window->show();
    }
    void click(const char *name) { window->findChild<QAbstractButton *>(name)->click(); }
    QLineEdit *edit() { return window->findChild<QLineEdit *>("edtFileTemplateName"); }
    // The line edit, the preview, and the template as kept by the recorder, handed to the owner and stored.
    QString state()
    {
        return QStringList({edit()->text(), window->findChild<QLabel *>("lblResultat")->text(), rec().nameTemplate(),
                            chosen,
                            appSettings().value("Settings/OutFileFormat", "-").toString()})
            .join('|');
    }

    // A new cycle's reading: 10 s later, a new value.
    int record(double value, int index = 0)
    {
        Clock::advanceMs(10000);
        SensorChannel &ch = dev->channels[index];
        ch.value = value;
        ch.time = Clock::now();
        ch.markFilled();
        return rec().appendReading(*dev, index);
    }
    QString path() const { return rec().filePathFor(*dev, 0); }

private slots:
    void init()
    {
        Clock::setVirtual();
        recorder = std::make_unique<Recorder>(Clock::now());
        dir.reset(new QTemporaryDir);
        rec().setFolder(dir->path());
        rec().setFirstSplit("'");
        rec().setNameTemplate(Recorder::OneWireTemplate);
        dev.reset(makeDevice(Thermometer));
        dev->channels.append(channel(21.5));
    }

    void filesMatchByteForByte()
    {
        QCOMPARE(rec().writeHeader(*dev, 0), 1);
        QCOMPARE(rec().appendReading(*dev, 0), 1);
        rec().setSample0(20);
        QCOMPARE(record(21.5) + record(-0.5) + record(std::nan("")), 3);
        rec().setSample0(NO_SAMPLE);
        rec().setSample1(30);                                  // not for subchannel 0
        QCOMPARE(record(100.126), 1);
        QCOMPARE(rec().fileNameOf(ChannelId::of(*dev, 0)), dir->path() + "/T0_5A03161D1E64FF28.csv");
        QCOMPARE(readFile(path()), readFile(TEST_DATA_DIR "/recorder/ds18b20_default.csv"));

        rec().setFirstSplit("\"");
        rec().setLastSplit("\"");
        rec().setNameTemplate(Recorder::ShortDefaultTemplate);
        Clock::setVirtual();
        dev.reset(makeDevice(0x19C3B2A1000000B3ull));
        dev->channels.append(channel(45.5, 1, 5, 0x88, 0x1234, 0xABCDEF));
        dev->channels[0].type = QStringLiteral("SHT3x Датчик влажности");
        dev->channels[0].mark = "H";
        dev->channels[0].unit = "%";
        rec().setSample1(40.25);
        QCOMPARE(rec().writeHeader(*dev, 0) + rec().appendReading(*dev, 0), 2);
        rec().setSample1(NO_SAMPLE);
        rec().setSample0(10);                                  // not for subchannel 1
        Clock::advanceMs(50000);
        QCOMPARE(record(-12), 1);
        QCOMPARE(QFileInfo(path()).fileName(),
                 QStringLiteral("H1_B3000000A1B2C3190000000000001234-_0000000000ABCDEF_136_5.csv"));
        QCOMPARE(readFile(path()), readFile(TEST_DATA_DIR "/recorder/i2c_custom.csv"));
    }

    void templateExpansion()
    {
        const QString full = Recorder::DefaultTemplate;

        const QList<QPair<QString, QString>> examples = {
            {full, "2025.01.27-14.03.05_T0_5A03161D1E64FF28"}, {Recorder::OneWireTemplate, "T0_5A03161D1E64FF28"},
            {Recorder::I2cTemplate, "T0"}, {"a b:c/d,f", "a_b_c_d_f"}, {"x%ts%y", "x_ts_y"}, {"№%TS%", "NT"},
            {"Ёж-é(1)!", "Ёж-_(1)!"}, {"a__b___c____d", "ab_cd"}, {"_a_%MHCH%_", "_a"}, {"A%I2CA%B", "A_B"},
            // A character outside the basic plane (two UTF-16 units) is one character: one "_".
            {QString::fromUtf8("a\xF0\x9F\x98\x80" "b"), "a_b"}};
        for (const auto &example : examples)
            QCOMPARE(Recorder::expandTemplate(example.first, *dev, 0, rec().startTime()), example.second);
        dev->channels[0].i2cAddress = 0x80;
        dev->channels[0].mark = QStringLiteral("№%SC%");          // text brought in is expanded too
        QCOMPARE(Recorder::expandTemplate("%TS%_%I2CA%", *dev, 0, rec().startTime()), QStringLiteral("N0_128"));

        // Hub channel 0 is a channel like any other; an I2C sensor without a
        // hub is on channel 0 as well, so it keeps its "_0".
        SensorDevice behindBridge = *dev;
        behindBridge.channels[0] = channel(20.0, 0, 0, 0x88, 0, 0x35);
        QCOMPARE(Recorder::expandTemplate(Recorder::I2cTemplate, behindBridge, 0, rec().startTime()), QStringLiteral("T0_0000000000000035_0"));
        QString emoji = QString::fromUtf8("%TS%\xF0\x9F\x98\x80x");
        QVERIFY(Recorder::sanitizeTemplate(emoji));
        QCOMPARE(emoji, QStringLiteral("%TS%_x"));

        // (The full default template on the example device: the template window's preview below.)
        QCOMPARE(rec().filePathFor(*dev, 1), QString()); // no such channel
        QString name = "a!b%c", templ = "a!b%c№", clean = "%TS%_Тест.(1)";
        QVERIFY(Recorder::sanitizeFileName(name) && Recorder::sanitizeTemplate(templ) && !Recorder::sanitizeTemplate(clean));
        QCOMPARE(name + "|" + templ + "|" + clean, QStringLiteral("a!b_c|a_b%cN|%TS%_Тест.(1)"));

        // Two channels the template names alike: the second gets its ROM as
        // the operator reads it (family code last) and its subchannel. File
        // names are data that others' scripts find the readings by.
        rec().setNameTemplate("%TS%%SC%");
        std::unique_ptr<SensorDevice> first(makeDevice(Thermometer)), second(makeDevice(0x28AA0102030405B1ull));
        first->channels.append(channel(21.0));
        second->channels.append(channel(20.0));
        QCOMPARE(QFileInfo(rec().filePathFor(*first, 0)).fileName(), QStringLiteral("T0.csv"));
        QCOMPARE(QFileInfo(rec().filePathFor(*second, 0)).fileName(), QStringLiteral("T0_B10504030201AA28_0.csv"));
    }

    void oneLinePerReading()
    {
        QFile old(path());
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("earlier run\r\n") > 0);
        old.close();
        QCOMPARE(rec().writeHeader(*dev, 0), 1);                   // existing file: continued
        QCOMPARE(rec().appendReading(*dev, 0), 1);
        QCOMPARE(rec().appendReading(*dev, 0), 2);                 // same reading again (a failed read left it)
        QVERIFY(rec().isWritten(*dev, 0));
        QCOMPARE(readFile(path()), QByteArray("earlier run\r\n2025.01.27;14:03:05;21,50\r\n"));

        QVERIFY(QFile::remove(path()));
        QCOMPARE(record(21.75), 1);                              // re-created without a header
        QCOMPARE(readFile(path()), QByteArray("2025.01.27;14:03:15;21,75\r\n"));

        const QString first = path();
        rec().setNameTemplate("other");                            // takes effect, header first; fileName stays
        dev->channels[0].time = QDateTime();                     // a fresh reading without a time
        dev->channels[0].markFilled();
        QCOMPARE(rec().appendReading(*dev, 0), 1);
        const QStringList other = TableSupport::fileLines(dir->path() + "/other.csv");
        QCOMPARE(other.size(), Recorder::HeaderLines + 1);
        QVERIFY(other.first().startsWith("\"Sensor 1WireAddr\";") && other.first().contains("5A03161D1E64FF28"));
        QCOMPARE(other.last(), ";;21,75");
        QCOMPARE(rec().fileNameOf(ChannelId::of(*dev, 0)), first);
    }

    void failuresLeaveNothingHalfWritten()
    {
        const QString folder = dir->path();
        rec().setFolder(folder + "/later");                        // missing folder
        QCOMPARE(rec().writeHeader(*dev, 0) + rec().appendReading(*dev, 0) + rec().appendReading(*dev, 0), -3);
        QVERIFY(!rec().isWritten(*dev, 0));
        QVERIFY(rec().problemText().contains("T0_5A03161D1E64FF28.csv"));
        QVERIFY(QDir().mkpath(folder + "/later"));
        QCOMPARE(rec().appendReading(*dev, 0), 1);                 // the owed header comes first
        QCOMPARE(readFile(path()), Header + "2025.01.27;14:03:05;21,50\r\n");
        QCOMPARE(rec().problemText(), QString());

        rec().setWriteStepForTest([](QFile &f, const QByteArray &bytes) { return f.write(bytes.left(9)); });
        QCOMPARE(record(22.5), -1);
        QVERIFY(!rec().isWritten(*dev, 0));
        QCOMPARE(readFile(path()), Header + "2025.01.27;14:03:05;21,50\r\n");
        QVERIFY(!rec().problemText().isEmpty());
        rec().setWriteStepForTest(nullptr);
        QCOMPARE(rec().appendReading(*dev, 0), 1);
        QCOMPARE(readFile(path()), Header + "2025.01.27;14:03:05;21,50\r\n2025.01.27;14:03:15;22,50\r\n");

        rec().setFolder(folder);                                   // header cut short: no file left
        rec().setWriteStepForTest([](QFile &f, const QByteArray &bytes) { return f.write(bytes.left(9)); });
        QCOMPARE(rec().writeHeader(*dev, 0), -1);
        QVERIFY(!QFile::exists(path()));
        rec().setWriteStepForTest(nullptr);
        QCOMPARE(record(23), 1);
        QCOMPARE(readFile(path()), Header + "2025.01.27;14:03:25;23,00\r\n");

        rec().setFolder(folder + "/gone");                         // a failure nobody retries fades
        QCOMPARE(record(23.5), -1);
        Clock::advanceMs(600001);
        QCOMPARE(rec().problemText(), QString());
        // (A full disk and one that fills up mid-line are tst_diskfaults'.)
    }

    // The template window: each preset shows its template and a preview for
    // a bridge channel; Cancel keeps nothing; OK cleans the template and
    // stores it everywhere, a blank one as the full default.
    void templateWindowPresetsPreviewAndCancel()
    {
        openTemplateWindow();
        QCOMPARE(state(), QStringLiteral("%SN1W%|941955A80300002C|%SN1W%|%SN1W%|-"));
        click("rb1WTemplate");
        QCOMPARE(state(), QStringLiteral("%TS%%SC%_%SN1W%|T1_941955A80300002C|%SN1W%|%SN1W%|-"));
        click("rbI2CTemplate");
        QCOMPARE(state(), QStringLiteral("%TS%%SC%_%I2CSNL%_%MHCH%|T1_0000000000000035_3|%SN1W%|%SN1W%|-"));
        click("rbDefaltTemplate");
        QCOMPARE(state().section('|', 0, 1), QStringLiteral("%TS%%SC%_%SN1W%_%I2CSNH%_%I2CSNL%_%I2CA%_%MHCH%|"
                                                            "T1_941955A80300002C0000000000000035_238_3"));
        click("rbFullDefaultTemplate");
        edit()->clear();                                          // the last preview stays
        QCOMPARE(state(), QStringLiteral("|2025.01.27-14.03.05_T1_941955A80300002C0000000000000035_238_3|"
                                         "%SN1W%|%SN1W%|-"));
        edit()->setText("%TS%:x!");
        click("btnCancel");
        QCOMPARE(state(), QStringLiteral("%TS%:x!|T_x!|%SN1W%|%SN1W%|-"));
        QVERIFY(!window->isVisible() && dialogs.history().isEmpty());
    }

    void templateWindowOkCleansAndStores()
    {
        openTemplateWindow();
        edit()->setText("%TS%%SC% %SN1W%!");
        click("btnOk");
        QCOMPARE(state(), QStringLiteral("%TS%%SC% %SN1W%!|T1_941955A80300002C!|"
                                         "%TS%%SC%_%SN1W%_|%TS%%SC%_%SN1W%_|%TS%%SC%_%SN1W%_"));
        QVERIFY(!window->isVisible());
        QCOMPARE(dialogs.history().size(), 1);
        const DialogRequest box = dialogs.history().first();
        QCOMPARE(box.title + "|" + box.text, QStringLiteral("Информация|Шаблон применяется со следующего замера: новые показания пишутся в файлы с новыми именами."));

        openTemplateWindow();
        edit()->setText("  \t ");
        click("btnOk");
        const QString full = Recorder::DefaultTemplate;
        QCOMPARE(state().split('|').mid(2) << edit()->text(), QStringList({full, full, full, full}));
    }
};

QTEST_MAIN(TstRecorder)
#include "tst_recorder.moc"
