#include "app/appstate.h"
#include "app/logmessagehandler.h"
#include "app/mainwindow.h"
#include "platform/clock.h"
#include "platform/dialogs.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>
#include <clocale>
#include <memory>

namespace {

// The caption: a group box's or menu's title, otherwise the text.
QString textOf(QObject *object)
{
    const QVariant title = object->property("title");
    return title.isValid() ? title.toString() : object->property("text").toString();
}

QStringList actionNames(const QList<QAction *> &actions)
{
    QStringList names;
    for (QAction *action : actions)
        names << (action->menu() ? action->menu()->objectName() : action->objectName());
    return names;
}

struct Cell
{
    const char *name;
    int row, column, rowSpan, columnSpan;
};

} // namespace

// The window as the program builds it: every widget the other parts address
// by name, with the class, text and position they rely on, and the shell's
// own state after construction.
class TstMainWindow : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir settingsDir;
    std::unique_ptr<MainWindow> window;

    template <typename T = QObject>
    T *child(const char *name)
    {
        return window->findChild<T *>(QLatin1String(name));
    }

    void checkGrid(QGridLayout *grid, const QVector<Cell> &cells)
    {
        QVERIFY(grid);
        for (const Cell &cell : cells) {
            QWidget *widget = child<QWidget>(cell.name);
            QVERIFY2(widget, cell.name);
            const int index = grid->indexOf(widget);
            QVERIFY2(index >= 0, cell.name);
            int row, column, rowSpan, columnSpan;
            grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
            QCOMPARE(QVector<int>({row, column, rowSpan, columnSpan}),
                     QVector<int>({cell.row, cell.column, cell.rowSpan, cell.columnSpan}));
        }
    }

private slots:
    void initTestCase()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        qputenv("ORVEX_INSTANCE_KEY", QString("orvex-window-test-%1-%2")
                                          .arg(QCoreApplication::applicationPid())
                                          .arg(QDateTime::currentMSecsSinceEpoch())
                                          .toUtf8());
        Clock::setVirtual();
        AppState::instance().resetForTest();
        Dialogs::setResponder([](const DialogRequest &) { return DialogAnswer::pressed(QMessageBox::No); });
        QCoreApplication::setApplicationVersion(ORVEX_VERSION);
        window = std::make_unique<MainWindow>();
        QCOMPARE(window->instanceState(), 1);
    }

    void objectsClassesAndTexts()
    {
        const struct
        {
            const char *name;
            const char *className;
            const char *text;
        } expected[] = {
            {"centralWidget", "QWidget", nullptr},
            {"menuBar", "QMenuBar", nullptr},
            {"mainToolBar", "QToolBar", nullptr},
            {"statusBar", "QStatusBar", nullptr},
            {"gpbUsbAdapt", "QGroupBox", ""},
            {"frmUsbAdaptSignal", "QFrame", nullptr},
            {"lblUsbAdapter", "QLabel", "USB адаптер не найден"},
            {"lineSnUSBadapter", "QLineEdit", ""},
            {"lblCurrentInterval", "QLabel", "Текущий интервал"},
            {"lblTextTimeTo", "QLabel", "До замеров осталось: "},
            {"lblTimeTo", "QLabel", "TextLabel"},
            {"gpbFile", "QGroupBox", ""},
            {"frmWrFile", "QFrame", nullptr},
            {"lblWriteToFile", "QLabel", "Запись не ведется."},
            {"label_2", "QLabel", "Путь к папке с файлами:"},
            {"lineFilePath", "QLineEdit", ""},
            {"btnOpenPath", "QPushButton", "..."},
            {"groupBoxShtHeat", "QGroupBox", "Нагреватель для датчиков SHT"},
            {"lblShtPeriodHeat", "QLabel", "Пауза (сек)"},
            {"spinBoxShtPeriodHeat", "QSpinBox", nullptr},
            {"labelShtIntervalHeat", "QLabel", "          Вкл. на время (сек)"},
            {"spinBoxShtTimeHeat", "QSpinBox", nullptr},
            {"frameShtHeat", "QFrame", nullptr},
            {"lblTextHeat", "QLabel", "(до 5сек- индивидуально ждем, более - кратно периоду измерений.)"},
            {"gpbTable", "QGroupBox", "Таблица датчиков"},
            {"lblSample", "QLabel", "Ввод образцовой величины"},
            {"btnResetSample1", "QPushButton", "<- Сброс"},
            {"btnResetSample2", "QPushButton", "<- Сброс"},
            {"lblTxtAverage", "QLabel", "Среднее канал 0"},
            {"lblAverage", "QLabel", "000"},
            {"btnCopyAverage", "QPushButton", "копир. средн."},
            {"rbPt100", "QRadioButton", "Pt100"},
            {"rb100P", "QRadioButton", "100П"},
            {"btnSetSubtype", "QPushButton", "<- Установить подтип"},
            {"btnCalibrate", "QPushButton", "Калибровать"},
            {"btnResetCal", "QPushButton", "Сброс калибр."},
            {"tblSens", "QTableWidget", nullptr},
            {"lblFiltreTxt", "QLabel", "Фильтр"},
            {"edtFiltre", "QLineEdit", ""},
            {"btnResetFiltre", "QPushButton", "X"},
            {"menu", "QMenu", "Файл"},
            {"menu_2", "QMenu", "Настройки"},
            {"menu_3", "QMenu", "Совмещенные сенсоры"},
            {"menu_I2C", "QMenu", "Мультихаб I2C"},
            {"menu_4", "QMenu", "Справка"},
            {"action_0", "QAction", "Показывать/записывать канал 0"},
            {"action_1", "QAction", "Показывать/записывать канал 1"},
            {"action_2", "QAction", "Показывать/записывать канал 2"},
            {"action_3", "QAction", "Показывать/записывать канал 3"},
            {"action_4", "QAction", "Сканировать все каналы"},
            {"action_5", "QAction", "Сканировать все типы датчиков"},
            {"action", "QAction", "Выход"},
            {"action_6", "QAction", "Формат имени генерируемых файлов"},
            {"action_7", "QAction", "О программе"},
            {"action_11", "QAction", "Задание текстовых разделителей в отчете"},
        };
        for (const auto &e : expected) {
            QObject *object = child(e.name);
            QVERIFY2(object, e.name);
            QCOMPARE(object->metaObject()->className(), e.className);
            if (e.text)
                QCOMPARE(textOf(object), QString::fromUtf8(e.text));
        }
        QCOMPARE(window->objectName(), QString("MainWindow"));
        QCOMPARE(window->size(), QSize(1179, 621));
        QCOMPARE(window->windowTitle(), QString("Орвекс 25.01.27.0"));
    }

    void menusAndActions()
    {
        QCOMPARE(actionNames(window->menuBar()->actions()), QStringList({"menu", "menu_2", "menu_4"}));
        QCOMPARE(actionNames(child<QMenu>("menu")->actions()), QStringList({"action"}));
        QCOMPARE(actionNames(child<QMenu>("menu_2")->actions()),
                 QStringList({"menu_3", "menu_I2C", "action_6", "action_11"}));
        QCOMPARE(actionNames(child<QMenu>("menu_3")->actions()),
                 QStringList({"action_0", "action_1", "action_2", "action_3"}));
        QCOMPARE(actionNames(child<QMenu>("menu_I2C")->actions()), QStringList({"action_4", "action_5"}));
        QCOMPARE(actionNames(child<QMenu>("menu_4")->actions()), QStringList({"action_7"}));

        QCOMPARE(child<QAction>("action_6")->toolTip(), QString("Формат имени генерируемых файлов"));
        QCOMPARE(window->toolBarArea(child<QToolBar>("mainToolBar")), Qt::TopToolBarArea);
        QVERIFY(child<QToolBar>("mainToolBar")->actions().isEmpty());
    }

    void gridPositions()
    {
        auto *central = qobject_cast<QGridLayout *>(child<QWidget>("centralWidget")->layout());
        checkGrid(central, {{"gpbUsbAdapt", 0, 0, 1, 3}, {"gpbFile", 1, 0, 1, 3}, {"groupBoxShtHeat", 2, 0, 1, 3},
                            {"gpbTable", 3, 0, 1, 3}, {"lblFiltreTxt", 4, 0, 1, 1}, {"edtFiltre", 4, 1, 1, 1},
                            {"btnResetFiltre", 4, 2, 1, 1}});
        QCOMPARE(central->spacing(), 6);
        QCOMPARE(central->contentsMargins(), QMargins(11, 11, 11, 11));

        auto *table = qobject_cast<QGridLayout *>(child<QWidget>("gpbTable")->layout());
        checkGrid(table, {{"lblSample", 1, 0, 1, 1}, {"lineSampleCh1", 1, 2, 1, 1}, {"btnResetSample1", 1, 3, 1, 1},
                          {"lineSampleCh2", 1, 5, 1, 1}, {"btnResetSample2", 1, 6, 1, 1},
                          {"lblTxtAverage", 1, 7, 1, 1}, {"lblAverage", 1, 8, 1, 1}, {"btnCopyAverage", 1, 9, 1, 1},
                          {"rbPt100", 2, 0, 1, 1}, {"rb100P", 2, 1, 1, 1}, {"btnSetSubtype", 2, 2, 1, 1},
                          {"btnCalibrate", 2, 8, 1, 1}, {"btnResetCal", 2, 9, 1, 1}, {"tblSens", 3, 0, 1, 12}});
        QLayoutItem *spacer = table->itemAtPosition(1, 4);
        QVERIFY(spacer && spacer->spacerItem());
    }

    void rowsOfTheGroupBoxes()
    {
        // Left to right; "" is the expanding space before the interval labels.
        const QVector<QPair<const char *, QStringList>> rows{
            {"gpbUsbAdapt", {"frmUsbAdaptSignal", "lblUsbAdapter", "lineSnUSBadapter", "", "lblCurrentInterval",
                             "lblInterval", "lblTextTimeTo", "lblTimeTo"}},
            {"gpbFile", {"frmWrFile", "lblWriteToFile", "label_2", "lineFilePath", "btnOpenPath"}},
            {"groupBoxShtHeat", {"lblShtPeriodHeat", "spinBoxShtPeriodHeat", "labelShtIntervalHeat",
                                 "spinBoxShtTimeHeat", "frameShtHeat", "lblTextHeat"}},
        };
        for (const auto &group : rows) {
            auto *row = qobject_cast<QHBoxLayout *>(child<QWidget>(group.first)->layout());
            QVERIFY2(row, group.first);
            QCOMPARE(row->count(), group.second.size());
            for (int i = 0; i < group.second.size(); ++i) {
                if (group.second[i].isEmpty())
                    QVERIFY(row->itemAt(i)->spacerItem() && (row->itemAt(i)->expandingDirections() & Qt::Horizontal));
                else
                    QCOMPARE(row->indexOf(child<QWidget>(qPrintable(group.second[i]))), i);
            }
        }
        QLayout *usb = child<QWidget>("gpbUsbAdapt")->layout();
        QCOMPARE(usb->spacing(), 6);
        QCOMPARE(usb->contentsMargins(), QMargins(11, 11, 11, 11));
    }

    void widgetProperties()
    {
        auto *copy = child<QAbstractButton>("btnCopyAverage");
        QCOMPARE(copy->toolTip(), QString("Копировать среднее значение в поле \"Образец канал 0\""));
        QCOMPARE(copy->minimumWidth(), 3);

        for (const char *name : {"spinBoxShtPeriodHeat", "spinBoxShtTimeHeat"}) {
            auto *spin = child<QSpinBox>(name);
            QCOMPARE(spin->minimum(), 0);
            QCOMPARE(spin->maximum(), 3600);
            QCOMPARE(spin->value(), 0);
        }
        for (const char *name : {"lineSampleCh1", "lineSampleCh2"})
            QCOMPARE(child<QLineEdit>(name)->alignment(), Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);

        auto *serial = child<QLineEdit>("lineSnUSBadapter");
        QVERIFY(serial->isReadOnly());
        QVERIFY(!serial->hasFrame());
        QCOMPARE(child<QFrame>("frmUsbAdaptSignal")->frameShape(), QFrame::Box);
    }

    void stateAfterConstruction()
    {
        auto *signal = child<QFrame>("frmUsbAdaptSignal");
        QCOMPARE(signal->styleSheet(), QString("background-color: yellow"));
        QCOMPARE(signal->minimumSize(), QSize(15, 10));
        QCOMPARE(child<QFrame>("frmWrFile")->minimumSize(), QSize(15, 15));

        // This run's log file, named after the start-up moment, beside the program.
        QVERIFY(logFile());
        QCOMPARE(logFile()->fileName(), QCoreApplication::applicationDirPath() + "/Logs/2025_01_27_14_03_05.log");
        QVERIFY(QFileInfo(QCoreApplication::applicationDirPath() + "/Logs").isDir());
        // The C library's locale must not turn the decimal point into a comma.
        QCOMPARE(QString::fromLatin1(localeconv()->decimal_point), QString("."));
    }

    void cleanupTestCase()
    {
        Dialogs::setResponder(nullptr);
        window.reset();
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
