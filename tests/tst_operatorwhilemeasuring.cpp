#include "base/logmessagehandler.h"
#include "gui/mainwindow.h"
#include "base/clock.h"
#include "gui/dialogs.h"
#include "sensors/sensor.h"
#include "sim/simbusloader.h"
#include "sim/simds18b20.h"
#include "sim/simmax31850.h"
#include "sim/simpt100emulator.h"
#include "support/tablesupport.h"
#include "support/windowrig.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

using TableSupport::fileLines;

namespace {

// Data lines per file, each cut to "date;time;value"; each file's header and
// time order checked.
QMap<QString, QStringList> dataLineStarts(const QString &folder)
{
    QMap<QString, QStringList> files = TableSupport::measurementFiles(folder);
    for (QStringList &lines : files)
        for (QString &line : lines)
            line = line.section(';', 0, 2);
    return files;
}

// The visible top-level widget of class T with this window title, or null.
template <typename T>
T *shownWindow(const QString &title)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *t = qobject_cast<T *>(w); t && t->isVisible() && t->windowTitle() == title)
            return t;
    }
    return nullptr;
}

// An operator who acts at every kind of moment of a cycle: a chain of posted
// events advances one step each time the program lets events run (conversion
// waits, the pause of every log call, the read dispatch), and every few
// dozen steps one command is given through the window's widgets.
class Operator : public QObject
{
public:
    explicit Operator(WindowRig &rig)
        : m_rig(rig)
    {
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }

    // Inside a thermocouple fill (between its two channels) the next step acts.
    void setInsideFill(bool inside)
    {
        m_insideFill = inside;
        if (inside)
            m_countdown = 1;
    }

    int actions = 0;
    int duringConversion = 0; // the strong pull-up feeding a conversion
    int insideFill = 0;

protected:
    void customEvent(QEvent *) override
    {
        if (--m_countdown <= 0) {
            act();
            m_countdown = 1 + int(next() % 1000);
        }
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }

private:
    quint32 next()
    {
        m_seed = m_seed * 1664525u + 1013904223u;
        return m_seed >> 8;
    }

    void act()
    {
        ++actions;
        duringConversion += m_rig.f.bus().strongPullupOn() ? 1 : 0;
        insideFill += m_insideFill ? 1 : 0;
        const char *samples[] = {"21,5", "350.25", "abc", "36,6"};
        const quint32 kind = next() % 8, pick = next();
        if (kind < 2)
            m_rig.enter(pick % 2 ? "lineSampleCh1" : "lineSampleCh2", samples[pick / 2 % 4]);
        else if (kind == 2)
            m_rig.child<QAbstractButton>(pick % 2 ? "btnResetSample1" : "btnResetSample2")->click();
        else if (kind < 5)
            m_rig.child<QAction>(pick % 2 ? "action_0" : "action_1")->trigger();
        else if (kind == 5)
            m_rig.child<QAbstractButton>("btnCopyAverage")->click();
        else if (kind == 6)
            m_rig.child<QLineEdit>("edtFiltre")->setText(pick % 2 ? "28" : "3b");
        else
            m_rig.child<QAbstractButton>("btnResetFiltre")->click();
    }

    WindowRig &m_rig;
    quint32 m_seed = 20250127;
    int m_countdown = 1;
    bool m_insideFill = false;
};

// The real dialogs for the scope: no responder, none declined by itself.
struct RealDialogs
{
    const QByteArray declining = qgetenv("ORVEX_DIALOGS");
    explicit RealDialogs(ScriptedDialogs &dialogs)
    {
        qunsetenv("ORVEX_DIALOGS");
        dialogs.setResponder(nullptr);
    }
    ~RealDialogs() { qputenv("ORVEX_DIALOGS", declining); }
};

Operator *activeOperator = nullptr;

// The program's own handler (every log call runs events for 10 ms), and the
// operator acts inside every thermocouple fill.
void fillWatchingHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (activeOperator && text.startsWith(QLatin1String("max31850Set")))
        activeOperator->setInsideFill(true);
    if (activeOperator && text.startsWith(QLatin1String("max318502Set")))
        activeOperator->setInsideFill(false);
    logMessageHandler(type, context, text);
}

} // namespace

// What the operator does while the window measures: commands at any moment
// of a cycle, dialogs left open, and closing the window with others open.
class TstOperatorWhileMeasuring : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { WindowRig::prepareProcess(); }

    void init()
    {
        Clock::setVirtual();
    }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
    }

    // 300 cycles of the demo bus with recording on, and commands given at
    // every kind of moment, also while a thermometer converts and inside
    // every thermocouple fill (new devices in the first cycle included). Each
    // file holds its header once, then its readings in time order, none twice
    // and none made up; every reading that was shown at the end of its cycle
    // is there.
    void commandsAtAnyMomentLoseAndRepeatNothing()
    {
        WindowRig rig(SimBusLoader::loadDemo(nullptr));
        rig.f.backend().setTrafficLogging(false);
        rig.start(true, 5);
        rig.window->show();
        qInstallMessageHandler(fillWatchingHandler);
        Operator person(rig);
        activeOperator = &person;

        QMap<QString, QSet<QString>> produced; // per file: every reading the drivers gave
        QMap<QString, QStringList> shown;       // per file: the readings shown at the end of their cycle
        QMap<QString, uint64_t> shownReading;
        QMap<QString, QString> types;
        TableMan *table = rig.window->tableManager();
        for (int cycle = 0; cycle < 300; ++cycle) {
            Clock::advanceMs(qint64(cycle) * 5000 - Clock::tickMs());
            rig.tick();
            for (SensorDevice *d : qAsConst(*rig.window->sensorObject()->devices())) {
                for (int i = 0; i < d->channels.size(); ++i) {
                    const SensorChannel &c = d->channels[i];
                    const QString path = rig.window->measurementSession()->recorder().filePathFor(*d, i);
                    produced[path] << TableSupport::dataLine(c);
                    types[path] = c.type;
                    if (table->findRow(romToText(d->rom, false), c.subchannel, c.hubChannel, c.i2cAddress) >= 0
                        && shownReading.value(path) != c.reading) {
                        shownReading[path] = c.reading;
                        shown[path] << TableSupport::dataLine(c);
                    }
                }
            }
        }
        activeOperator = nullptr;
        qInstallMessageHandler(nullptr);
        qInfo("%d commands given, %d during conversions, %d inside a thermocouple fill", person.actions,
              person.duringConversion, person.insideFill);

        const QMap<QString, QStringList> files = dataLineStarts(rig.folder.path());
        QCOMPARE(files.keys(), produced.keys());
        for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
            QCOMPARE(fileLines(it.key()).value(5), "Sensor type;" + types[it.key()]);
            const QStringList &data = it.value();
            for (const QString &line : data)
                QVERIFY2(produced[it.key()].contains(line), qPrintable(it.key() + ": " + line));
            for (const QString &reading : shown[it.key()])
                QVERIFY2(data.contains(reading), qPrintable(it.key() + ": " + reading));
            QVERIFY(data.size() >= 150);
        }
        QVERIFY(person.duringConversion > 250);
        QVERIFY(person.insideFill >= 600); // every one of them
    }

    // A tick that falls inside a table update (an operator command whose
    // writing logs, and logging runs events) leaves the bus and the device
    // list alone and comes again; the update finishes undisturbed.
    void tickInsideTableUpdateWaits()
    {
        WindowRig rig;
        rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 1), 20.0));
        rig.start(true, 5);
        rig.tick();
        rig.child<QAction>("action_0")->trigger(); // the row goes
        rig.tickAfter(5000);                       // a reading not written
        static WindowRig *inside = nullptr;
        static int traffic = -1;
        inside = &rig;
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
            if (inside && text.contains(QLatin1String("DEV="))) {
                const int before = inside->trafficSize();
                inside->window->onAppTimer();
                traffic = inside->trafficSize() - before;
            }
        });
        Clock::advanceMs(5000);
        rig.child<QAction>("action_0")->trigger(); // the row comes back and its reading is written
        inside = nullptr;
        qInstallMessageHandler(nullptr);
        QCOMPARE(traffic, 0);
        QVERIFY(rig.window->applicationTimer()->isActive());
        rig.window->applicationTimer()->stop();
        const QMap<QString, QStringList> files = dataLineStarts(rig.folder.path());
        QVERIFY(files.size() == 1 && files.first().size() == 2);
    }

    // Every dialog that can open while the window measures, opened inside a
    // cycle, stays open across several intervals without holding up a cycle
    // or a file line; answered later, it takes effect. The thermocouple
    // calibration warning opens from inside a device read.
    void dialogsLeftOpenDoNotStopMeasuring()
    {
        WindowRig rig;
        rig.switches.pt100Mode = true;
        auto *emulator = rig.f.add(std::make_unique<SimPt100Emulator>(SimFixture::rom(0x3B, 0x17), 36.6, 0.25f));
        rig.f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 0x4C), 358.0));
        rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 1), 20.0));
        rig.start(true, 5);
        rig.tick();
        rig.enter("lineSampleCh1", "100");
        rig.dialogs.setResponder([](const DialogRequest &) { // the operator answers later
            ScriptedDialogs::Answer later;
            later.pending = true;
            return later;
        });
        int cycles = 1;
        auto measureOn = [&](int intervals) {
            for (int k = 0; k < intervals; ++k, ++cycles)
                rig.tickAfter(5000);
            QSet<int> lines; // data lines in each of the five files
            for (const QStringList &data : dataLineStarts(rig.folder.path()))
                lines << data.size();
            return lines == QSet<int>({cycles}) && dataLineStarts(rig.folder.path()).size() == 5;
        };
        const std::function<void()> openers[] = {
            [&] { rig.child<QAction>("action_7")->trigger(); },
            [&] { rig.child<QAbstractButton>("btnCalibrate")->click(); },
            [&] { rig.child<QAbstractButton>("btnResetCal")->click(); },
            [&] { rig.child<QAbstractButton>("btnSetSubtype")->click(); },
            [&] { rig.child<QAction>("action_11")->trigger(); },
            [&] {
                rig.child<QAction>("action_6")->trigger();
                shownWindow<QWidget>("Формат имени файлов")->findChild<QAbstractButton *>("btnOk")->click();
            },
        };
        for (const std::function<void()> &open : openers) {
            QTimer::singleShot(0, rig.window.get(), open);
            QVERIFY(measureOn(1));
        }
        QVERIFY(measureOn(3));
        auto pendingTitles = [&] {
            QStringList titles;
            for (int i = 0; i < rig.dialogs.pendingCount(); ++i)
                titles << rig.dialogs.pendingRequest(i).title;
            return titles;
        };
        QCOMPARE(pendingTitles(), QStringList({"О программе", "Подтверждение калибровки", "Подтверждение сброса калибровки",
                                               "Установка типа сенсора", "Задание разделителя ПЕРЕД числом", "Информация"}));

        DialogAnswer first = DialogAnswer::pressed(QMessageBox::Ok, true);
        first.textValue = "\"";
        for (const DialogAnswer &answer : {DialogAnswer::pressed(QMessageBox::Ok), DialogAnswer::pressed(QMessageBox::Yes),
                                           DialogAnswer::pressed(QMessageBox::No), DialogAnswer::pressed(QMessageBox::Yes),
                                           first})
            rig.dialogs.answerPending(answer);
        QVERIFY(shownWindow<QWidget>("Формат имени файлов"));
        rig.dialogs.answerPending(DialogAnswer::pressed(QMessageBox::Ok));
        QVERIFY(!shownWindow<QWidget>("Формат имени файлов"));
        QCOMPARE(pendingTitles(), QStringList({"Задание разделителя ПОСЛЕ числа"}));
        // Calibrating against 100 °C would need an offset beyond 5 °C: the
        // warning opens inside the emulator's read; nothing is written.
        QVERIFY(measureOn(3));
        QCOMPARE(pendingTitles(), QStringList({"Задание разделителя ПОСЛЕ числа", "ВНИМАНИЕ!"}));
        QCOMPARE(emulator->offsetWrites(), 0);
        DialogAnswer last = DialogAnswer::pressed(QMessageBox::Ok, true);
        last.textValue = ";";
        rig.dialogs.answerPending(last);
        QCOMPARE(rig.window->measurementSession()->recorder().firstSplit()
                     + rig.window->measurementSession()->recorder().lastSplit(),
                 QString("\";"));
    }

    // Without a responder ask() shows the real dialog, modal for the
    // operator, and returns at once; the window goes on measuring while it is
    // open, and closing it delivers the answer.
    void askShowsTheRealDialogAndReturns()
    {
        WindowRig rig;
        rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 1), 20.0));
        rig.start(true, 5);
        rig.tick();
        RealDialogs real(rig.dialogs);
        QList<DialogAnswer> answers;
        rig.dialogs.ask(nullptr, DialogRequest::message(QMessageBox::Question, "Вопрос", "Да?", QMessageBox::Yes | QMessageBox::No),
                     [&](const DialogAnswer &a) { answers << a; });
        auto *box = shownWindow<QMessageBox>("Вопрос");
        QVERIFY(box && answers.isEmpty());
        QCOMPARE(box->windowModality(), Qt::ApplicationModal);
        rig.child<QAction>("action_7")->trigger(); // the About box, real too
        QVERIFY(shownWindow<QMessageBox>("О программе"));
        for (int k = 0; k < 3; ++k)
            rig.tickAfter(5000);
        QCOMPARE(dataLineStarts(rig.folder.path()).first().size(), 4);
        box->button(QMessageBox::Yes)->click();
        QCOMPARE(answers.size(), 1);
        QCOMPARE(answers.first().button, QMessageBox::Yes);
        shownWindow<QMessageBox>("О программе")->button(QMessageBox::Ok)->click();
    }

    // Exit, or closing the main window, ends the program although the
    // template window and a dialog are open: they close, the timer stops and
    // the event loop returns (so the process exits and gives up the
    // single-instance segment).
    void closingEndsTheProgramWithOtherWindowsOpen()
    {
        for (const char *how : {"Выход", "close"}) {
            WindowRig rig;
            rig.start(false, 0);
            RealDialogs real(rig.dialogs);
            rig.window->show();
            rig.child<QAction>("action_6")->trigger();
            rig.child<QAction>("action_7")->trigger();
            QVERIFY(shownWindow<QWidget>("Формат имени файлов") && shownWindow<QMessageBox>("О программе"));
            rig.window->applicationTimer()->start();

            QTimer stuck; // ends the loop if closing did not
            stuck.setSingleShot(true);
            QObject::connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(99); });
            stuck.start(5000);
            QTimer::singleShot(0, rig.window.get(), [&] {
                if (QByteArray(how) == "close")
                    rig.window->close();
                else
                    rig.child<QAction>("action")->trigger();
            });
            const int result = QCoreApplication::exec();
            stuck.stop();
            QCOMPARE(result, 0);
            QVERIFY(rig.window->exitRequested());
            QVERIFY(!rig.window->applicationTimer()->isActive());
            QVERIFY(!shownWindow<QWidget>("Формат имени файлов"));
            QVERIFY(!shownWindow<QMessageBox>("О программе"));
        }
    }
};

QTEST_MAIN(TstOperatorWhileMeasuring)
#include "tst_operatorwhilemeasuring.moc"
