#include "app/logmessagehandler.h"
#include "sensors/sensor.h"
#include "support/windowrig.h"
#include "table/tableman.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <QToolBar>
#include <QtTest>
#include <clocale>

namespace {

// The caption: a group box's or menu's title, otherwise the text.
QString textOf(QObject *object)
{
    const QVariant title = object->property("title");
    return title.isValid() ? title.toString() : object->property("text").toString();
}

// Where an object sits: a widget in a grid "row column rowSpan columnSpan",
// in a row its index; a menu or an action "menu index" in the menu (or menu
// bar) that holds it.
QString placeOf(QObject *object)
{
    QAction *action = qobject_cast<QMenu *>(object) ? static_cast<QMenu *>(object)->menuAction()
                                                     : qobject_cast<QAction *>(object);
    if (action) {
        QWidget *holder = action->associatedWidgets().value(0);
        return holder ? holder->objectName() + ' ' + QString::number(holder->actions().indexOf(action)) : "nowhere";
    }
    auto *widget = static_cast<QWidget *>(object);
    QLayout *layout = widget->parentWidget() ? widget->parentWidget()->layout() : nullptr;
    const int index = layout ? layout->indexOf(widget) : -1;
    if (auto *grid = qobject_cast<QGridLayout *>(layout); grid && index >= 0) {
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
        return QString("%1 %2 %3 %4").arg(row).arg(column).arg(rowSpan).arg(columnSpan);
    }
    return QString::number(index);
}

} // namespace

// The window as the program builds it: every object the other parts address
// by name, with the class, text and place they rely on, the shell's own state
// after construction, and everything it made released with it.
class TstMainWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowRig> rig;

private slots:
    void initTestCase()
    {
        WindowRig::prepareProcess();
        QCoreApplication::setApplicationVersion(ORVEX_VERSION);
        rig = std::make_unique<WindowRig>();
        rig->start(false, 0);
        QCOMPARE(rig->window->instanceState(), 1);
    }

    void objectsClassesTextsAndPlaces()
    {
        const struct
        {
            const char *name, *className, *text, *place; // null: not checked
        } expected[] = {
            {"centralWidget", "QWidget", nullptr, nullptr},
            {"gpbUsbAdapt", "QGroupBox", "", "0 0 1 3"},
            {"frmUsbAdaptSignal", "QFrame", nullptr, "0"},
            {"lblUsbAdapter", "QLabel", "USB адаптер не найден", "1"},
            {"lineSnUSBadapter", "QLineEdit", "", "2"}, // 3: the space before the interval
            {"lblCurrentInterval", "QLabel", "Текущий интервал", "4"},
            {"lblInterval", "QLabel", nullptr, "5"},
            {"lblTextTimeTo", "QLabel", "До замеров осталось: ", "6"},
            {"lblTimeTo", "QLabel", "TextLabel", "7"},
            {"gpbFile", "QGroupBox", "", "1 0 1 3"},
            {"frmWrFile", "QFrame", nullptr, "0"},
            {"lblWriteToFile", "QLabel", "Запись не ведется.", "1"},
            {"label_2", "QLabel", "Путь к папке с файлами:", "2"},
            {"lineFilePath", "QLineEdit", "", "3"},
            {"btnOpenPath", "QPushButton", "...", "4"},
            {"groupBoxShtHeat", "QGroupBox", "Нагреватель для датчиков SHT", "2 0 1 3"},
            {"lblShtPeriodHeat", "QLabel", "Пауза (сек)", "0"},
            {"spinBoxShtPeriodHeat", "QSpinBox", nullptr, "1"},
            {"labelShtIntervalHeat", "QLabel", "          Вкл. на время (сек)", "2"},
            {"spinBoxShtTimeHeat", "QSpinBox", nullptr, "3"},
            {"frameShtHeat", "QFrame", nullptr, "4"},
            {"lblTextHeat", "QLabel", "(до 5сек- индивидуально ждем, более - кратно периоду измерений.)", "5"},
            {"gpbTable", "QGroupBox", "Таблица датчиков", "3 0 1 3"},
            {"lblSample", "QLabel", "Ввод образцовой величины", "1 0 1 1"},
            {"lineSampleCh1", "QLineEdit", nullptr, "1 2 1 1"},
            {"btnResetSample1", "QPushButton", "<- Сброс", "1 3 1 1"}, // 1 4: a spacer
            {"lineSampleCh2", "QLineEdit", nullptr, "1 5 1 1"},
            {"btnResetSample2", "QPushButton", "<- Сброс", "1 6 1 1"},
            {"lblTxtAverage", "QLabel", "Среднее канал 0", "1 7 1 1"},
            {"lblAverage", "QLabel", "000", "1 8 1 1"},
            {"btnCopyAverage", "QPushButton", "копир. средн.", "1 9 1 1"},
            {"rbPt100", "QRadioButton", "Pt100", "2 0 1 1"},
            {"rb100P", "QRadioButton", "100П", "2 1 1 1"},
            {"btnSetSubtype", "QPushButton", "<- Установить подтип", "2 2 1 1"},
            {"btnCalibrate", "QPushButton", "Калибровать", "2 8 1 1"},
            {"btnResetCal", "QPushButton", "Сброс калибр.", "2 9 1 1"},
            {"tblSens", "QTableWidget", nullptr, "3 0 1 12"},
            {"lblFiltreTxt", "QLabel", "Фильтр", "4 0 1 1"},
            {"edtFiltre", "QLineEdit", "", "4 1 1 1"},
            {"btnResetFiltre", "QPushButton", "X", "4 2 1 1"},
            {"menuBar", "QMenuBar", nullptr, nullptr},
            {"menu", "QMenu", "Файл", "menuBar 0"},
            {"action", "QAction", "Выход", "menu 0"},
            {"menu_2", "QMenu", "Настройки", "menuBar 1"},
            {"menu_3", "QMenu", "Совмещенные сенсоры", "menu_2 0"},
            {"action_0", "QAction", "Показывать/записывать канал 0", "menu_3 0"},
            {"action_1", "QAction", "Показывать/записывать канал 1", "menu_3 1"},
            {"action_2", "QAction", "Показывать/записывать канал 2", "menu_3 2"},
            {"action_3", "QAction", "Показывать/записывать канал 3", "menu_3 3"},
            {"menu_I2C", "QMenu", "Мультихаб I2C", "menu_2 1"},
            {"action_4", "QAction", "Сканировать все каналы", "menu_I2C 0"},
            {"action_5", "QAction", "Сканировать все типы датчиков", "menu_I2C 1"},
            {"action_6", "QAction", "Формат имени генерируемых файлов", "menu_2 2"},
            {"action_11", "QAction", "Задание текстовых разделителей в отчете", "menu_2 3"},
            {"menu_4", "QMenu", "Справка", "menuBar 2"},
            {"action_7", "QAction", "О программе", "menu_4 0"},
            {"mainToolBar", "QToolBar", nullptr, nullptr},
            {"statusBar", "QStatusBar", nullptr, nullptr},
        };
        for (const auto &e : expected) {
            QObject *object = rig->child<QObject>(e.name);
            QVERIFY2(object, e.name);
            QCOMPARE(object->metaObject()->className(), e.className);
            if (e.text)
                QCOMPARE(textOf(object), QString::fromUtf8(e.text));
            if (e.place)
                QVERIFY2(placeOf(object) == e.place, qPrintable(QString(e.name) + " at " + placeOf(object)));
        }
        QCOMPARE(rig->window->menuBar()->actions().size(), 3);
        QCOMPARE(rig->window->centralWidget(), rig->child("centralWidget"));
        QVERIFY(rig->child("gpbUsbAdapt")->layout()->itemAt(3)->spacerItem());
        QVERIFY(qobject_cast<QGridLayout *>(rig->child("gpbTable")->layout())->itemAtPosition(1, 4)->spacerItem());
        QCOMPARE(rig->child<QAction>("action_6")->toolTip(), QString("Формат имени генерируемых файлов"));
        QCOMPARE(rig->child("btnCopyAverage")->toolTip(), QString("Копировать среднее значение в поле \"Образец канал 0\""));
        QVERIFY(rig->child<QLineEdit>("lineSnUSBadapter")->isReadOnly());
        QCOMPARE(rig->window->toolBarArea(rig->child<QToolBar>("mainToolBar")), Qt::TopToolBarArea);
        QVERIFY(rig->child("mainToolBar")->actions().isEmpty());
        QCOMPARE(rig->window->objectName() + ' ' + rig->window->windowTitle(), QString("MainWindow Орвекс 25.01.27.0"));
        QCOMPARE(rig->window->size(), QSize(1179, 621));
    }

    void stateAfterConstruction()
    {
        QCOMPARE(rig->style("frmUsbAdaptSignal"), QString("background-color: yellow"));
        // This run's log file, named after the start-up moment, beside the program.
        QVERIFY(logFile());
        QCOMPARE(logFile()->fileName(), QCoreApplication::applicationDirPath() + "/Logs/2025_01_27_14_03_05.log");
        QVERIFY(QFileInfo(QCoreApplication::applicationDirPath() + "/Logs").isDir());
        // The C library's locale must not turn the decimal point into a comma.
        QCOMPARE(QString::fromLatin1(localeconv()->decimal_point), QString("."));
    }

    // Destroying the window releases the sensor object, the table manager
    // and the timer it made (the acquisition with them; the sanitizer build
    // checks that nothing else is left).
    void destructionReleasesWhatTheWindowMade()
    {
        const QPointer<Sensor> sensor = rig->window->sensorObject();
        const QPointer<TableMan> table = rig->window->tableManager();
        const QPointer<QTimer> timer = rig->window->applicationTimer();
        QVERIFY(sensor && table && timer);
        rig.reset();
        QVERIFY(sensor.isNull() && table.isNull() && timer.isNull());
        Dialogs::setResponder(nullptr);
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
