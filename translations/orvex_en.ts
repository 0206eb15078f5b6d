<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>AlarmOutput</name>
    <message>
        <source>Тревога: %1 выше верхнего порога %2: %3</source>
        <translation>Alarm: %1 above the high limit %2: %3</translation>
    </message>
    <message>
        <source>Тревога: %1 ниже нижнего порога %2: %3</source>
        <translation>Alarm: %1 below the low limit %2: %3</translation>
    </message>
    <message>
        <source>Тревога: %1 нет данных: датчик пропал</source>
        <translation>Alarm: %1 no data: the sensor is gone</translation>
    </message>
    <message>
        <source>Тревога: %1 нет данных %2 циклов</source>
        <translation>Alarm: %1 no data for %2 cycles</translation>
    </message>
    <message>
        <source>Тревога снята: %1: %2</source>
        <translation>Alarm cleared: %1: %2</translation>
    </message>
    <message>
        <source>Ошибка записи файла %1: %2</source>
        <translation>Error writing file %1: %2</translation>
    </message>
    <message>
        <source>Тревога</source>
        <translation>Alarm</translation>
    </message>
    <message>
        <source>Тревога снята</source>
        <translation>Alarm cleared</translation>
    </message>
</context>
<context>
    <name>AlarmRules</name>
    <message>
        <source>канал «%1»: ожидается ROM из 16 шестнадцатеричных цифр, затем /КАНАЛ и /ХАБ/АДРЕС</source>
        <translation>channel “%1”: expected a ROM of 16 hexadecimal digits, then /CHANNEL and /HUB/ADDRESS</translation>
    </message>
    <message>
        <source>канал «%1»: неверный номер канала, хаба или адреса</source>
        <translation>channel “%1”: invalid channel, hub or address number</translation>
    </message>
    <message>
        <source>пороги «%1»: ожидается НИЖНИЙ:ВЕРХНИЙ</source>
        <translation>limits “%1”: expected LOW:HIGH</translation>
    </message>
    <message>
        <source>пороги «%1»: неверное число</source>
        <translation>limits “%1”: invalid number</translation>
    </message>
    <message>
        <source>пороги «%1»: нижний порог выше верхнего</source>
        <translation>limits “%1”: the low limit is above the high one</translation>
    </message>
    <message>
        <source>пороги «%1»: неверный ключ «%2» (hysteresis=, delay=, nodata=)</source>
        <translation>limits “%1”: unknown key “%2” (hysteresis=, delay=, nodata=)</translation>
    </message>
    <message>
        <source>«%1»: ожидается КАНАЛ=НИЖНИЙ:ВЕРХНИЙ</source>
        <translation>“%1”: expected CHANNEL=LOW:HIGH</translation>
    </message>
</context>
<context>
    <name>ChartWindow</name>
    <message>
        <source>Добавить канал</source>
        <translation>Add channel</translation>
    </message>
    <message>
        <source>Открыть файлы измерений…</source>
        <translation>Open measurement files…</translation>
    </message>
    <message>
        <source>Весь период</source>
        <translation>Whole run</translation>
    </message>
    <message>
        <source>Сохранить PNG…</source>
        <translation>Save PNG…</translation>
    </message>
    <message>
        <source>Сохранить показания (CSV)…</source>
        <translation>Save readings (CSV)…</translation>
    </message>
    <message>
        <source>Сохранить сводку (CSV)…</source>
        <translation>Save summary (CSV)…</translation>
    </message>
    <message>
        <source>Отменить</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Показания этого запуска</source>
        <translation>Readings of this run</translation>
    </message>
    <message>
        <source>График</source>
        <translation>Chart</translation>
    </message>
    <message>
        <source> и ещё %1</source>
        <translation> and %1 more</translation>
    </message>
    <message>
        <source>Все каналы уже на графике</source>
        <translation>All channels are on the chart already</translation>
    </message>
    <message>
        <source>Все каналы</source>
        <translation>All channels</translation>
    </message>
    <message>
        <source>Убрать с графика</source>
        <translation>Remove from the chart</translation>
    </message>
    <message>
        <source>Открыть файлы измерений</source>
        <translation>Open measurement files</translation>
    </message>
    <message>
        <source>Файлы измерений (*.csv);;Все файлы (*)</source>
        <translation>Measurement files (*.csv);;All files (*)</translation>
    </message>
    <message>
        <source>Чтение файла %1 из %2: %3</source>
        <translation>Reading file %1 of %2: %3</translation>
    </message>
    <message>
        <source>Чтение файлов</source>
        <translation>Reading files</translation>
    </message>
    <message>
        <source>график.</source>
        <translation>chart.</translation>
    </message>
    <message>
        <source>Не удалось записать файл «%1».</source>
        <translation>Could not write the file “%1”.</translation>
    </message>
    <message>
        <source>Сохранить график (PNG)</source>
        <translation>Save the chart (PNG)</translation>
    </message>
    <message>
        <source>Сохранить показания графика (CSV)</source>
        <translation>Save the chart’s readings (CSV)</translation>
    </message>
    <message>
        <source>Сохранить сводку графика по интервалам (CSV)</source>
        <translation>Save the chart’s summary by intervals (CSV)</translation>
    </message>
</context>
<context>
    <name>FileNameTemplate</name>
    <message>
        <source>Формат имени файлов</source>
        <translation>File name format</translation>
    </message>
    <message>
        <source>Заданный шаблон имени файла</source>
        <translation>File name template</translation>
    </message>
    <message>
        <source>Шаблон для датчиков 1-Wire</source>
        <translation>Template for 1-Wire sensors</translation>
    </message>
    <message>
        <source>Шаблон для датчиков I2C</source>
        <translation>Template for I2C sensors</translation>
    </message>
    <message>
        <source>Краткий Шаблон по умолчанию</source>
        <translation>Short default template</translation>
    </message>
    <message>
        <source>Полный Шаблон по умолчанию</source>
        <translation>Full default template</translation>
    </message>
    <message>
        <source>Примерный результат</source>
        <translation>Example result</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>
Внимание: у нескольких подключённых каналов одно имя (%1); к имени каждого следующего добавится его серийный номер 1-Wire и номер канала.</source>
        <translation>
Warning: several connected channels get the same name (%1); the 1-Wire serial number and the channel number will be added to the name of each further one.</translation>
    </message>
    <message>
        <source>Информация</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Шаблон применяется со следующего замера: новые показания пишутся в файлы с новыми именами.</source>
        <translation>The template applies from the next measurement: new readings are written into files with the new names.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation>MainWindow</translation>
    </message>
    <message>
        <source>USB адаптер не найден</source>
        <translation>USB adapter not found</translation>
    </message>
    <message>
        <source>Текущий интервал</source>
        <translation>Current interval</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>До замеров осталось: </source>
        <translation>Next measurement in: </translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation>TextLabel</translation>
    </message>
    <message>
        <source>Запись не ведется.</source>
        <translation>Not recording.</translation>
    </message>
    <message>
        <source>Путь к папке с файлами:</source>
        <translation>Folder of the files:</translation>
    </message>
    <message>
        <source>Нагреватель для датчиков SHT</source>
        <translation>Heater of the SHT sensors</translation>
    </message>
    <message>
        <source>Пауза (сек)</source>
        <translation>Pause (s)</translation>
    </message>
    <message>
        <source>          Вкл. на время (сек)</source>
        <translation>          On for (s)</translation>
    </message>
    <message>
        <source>(до 5сек- индивидуально ждем, более - кратно периоду измерений.)</source>
        <translation>(up to 5 s: waited for each; longer: in multiples of the measurement period.)</translation>
    </message>
    <message>
        <source>Таблица датчиков</source>
        <translation>Sensor table</translation>
    </message>
    <message>
        <source>Ввод образцовой величины</source>
        <translation>Reference values</translation>
    </message>
    <message>
        <source>Образец канал 0</source>
        <translation>Reference channel 0</translation>
    </message>
    <message>
        <source>&lt;- Сброс</source>
        <translation>&lt;- Reset</translation>
    </message>
    <message>
        <source>Образец канал 1</source>
        <translation>Reference channel 1</translation>
    </message>
    <message>
        <source>Среднее канал 0</source>
        <translation>Average channel 0</translation>
    </message>
    <message>
        <source>000</source>
        <translation>000</translation>
    </message>
    <message>
        <source>Копировать среднее значение в поле &quot;Образец канал 0&quot;</source>
        <translation>Copy the average into the field &quot;Reference channel 0&quot;</translation>
    </message>
    <message>
        <source>копир. средн.</source>
        <translation>copy avg.</translation>
    </message>
    <message>
        <source>Pt100</source>
        <translation>Pt100</translation>
    </message>
    <message>
        <source>100П</source>
        <translation>100P</translation>
    </message>
    <message>
        <source>&lt;- Установить подтип</source>
        <translation>&lt;- Set subtype</translation>
    </message>
    <message>
        <source>Калибровать</source>
        <translation>Calibrate</translation>
    </message>
    <message>
        <source>Сброс калибр.</source>
        <translation>Reset calib.</translation>
    </message>
    <message>
        <source>Фильтр</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>Файл</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Настройки</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Совмещенные сенсоры</source>
        <translation>Combined sensors</translation>
    </message>
    <message>
        <source>Мультихаб I2C</source>
        <translation>I2C multihub</translation>
    </message>
    <message>
        <source>Справка</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Показывать/записывать канал 0</source>
        <translation>Show/record channel 0</translation>
    </message>
    <message>
        <source>Показывать/записывать канал 1</source>
        <translation>Show/record channel 1</translation>
    </message>
    <message>
        <source>Показывать/записывать канал 2</source>
        <translation>Show/record channel 2</translation>
    </message>
    <message>
        <source>Показывать/записывать канал 3</source>
        <translation>Show/record channel 3</translation>
    </message>
    <message>
        <source>Сканировать все каналы</source>
        <translation>Scan all channels</translation>
    </message>
    <message>
        <source>Сканировать все типы датчиков</source>
        <translation>Scan all sensor types</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Формат имени генерируемых файлов</source>
        <translation>Format of the file names</translation>
    </message>
    <message>
        <source>О программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Задание текстовых разделителей в отчете</source>
        <translation>Text separators in the files</translation>
    </message>
    <message>
        <source>Орвекс</source>
        <translation>Orvex</translation>
    </message>
    <message>
        <source>Приложение уже запущено.
Вы можете запустить только один экземпляр приложения.</source>
        <translation>The program is running already.
Only one copy of the program can run.</translation>
    </message>
    <message>
        <source>Задание параметров</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Включить запись в файл?</source>
        <translation>Record into files?</translation>
    </message>
    <message>
        <source>Запись отключена. </source>
        <translation>Recording is off. </translation>
    </message>
    <message>
        <source>Запись включена. </source>
        <translation>Recording is on. </translation>
    </message>
    <message>
        <source>Введите интервал записи (1..300сек):</source>
        <translation>Recording interval (1..300 s):</translation>
    </message>
    <message>
        <source>сек.</source>
        <translation> s</translation>
    </message>
    <message>
        <source>Преобразователь USB найден. SN=</source>
        <translation>USB adapter found. SN=</translation>
    </message>
    <message>
        <source>идет замер</source>
        <translation>measuring</translation>
    </message>
    <message>
        <source>Преобразователь USB не найден.</source>
        <translation>USB adapter not found.</translation>
    </message>
    <message>
        <source>Задание разделителя ПЕРЕД числом</source>
        <translation>Separator BEFORE the number</translation>
    </message>
    <message>
        <source>По умолчанию: &apos;</source>
        <translation>Default: &apos;</translation>
    </message>
    <message>
        <source>Задание разделителя ПОСЛЕ числа</source>
        <translation>Separator AFTER the number</translation>
    </message>
    <message>
        <source>По умолчанию: </source>
        <translation>Default: </translation>
    </message>
    <message>
        <source>Возможные варианты: двойные кавычки, одинарная кавычка, отсутствует или другие символы</source>
        <translation>Possible choices: double quotes, a single quote, none, or other characters</translation>
    </message>
    <message>
        <source>Орвекс — контроль датчиков 1-Wire и I2C.
Tresvant, 2022</source>
        <translation>Orvex — monitoring 1-Wire and I2C sensors.
Tresvant, 2022</translation>
    </message>
    <message>
        <source>Версия %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Как в системе</source>
        <translation>System language</translation>
    </message>
    <message>
        <source>Язык сменится при следующем запуске программы.</source>
        <translation>The language changes when the program is started next.</translation>
    </message>
    <message>
        <source>Подтверждение калибровки</source>
        <translation>Confirm calibration</translation>
    </message>
    <message>
        <source>Калибровка не начата: не задано образцовое значение канала 0. Введите его в поле «Образец канал 0».</source>
        <translation>Calibration not started: no reference value for channel 0. Enter it in the field &quot;Reference channel 0&quot;.</translation>
    </message>
    <message>
        <source>Запись новых калибровочных значений безвозвратно сотрёт старые.
Подтверждаете запись новых значений?</source>
        <translation>Writing new calibration values erases the old ones for good.
Write the new values?</translation>
    </message>
    <message>
        <source>Подтверждение сброса калибровки</source>
        <translation>Confirm calibration reset</translation>
    </message>
    <message>
        <source>Сброс калибровочных значений в 0 безвозвратно сотрёт старые.
Подтверждаете запись новых значений?</source>
        <translation>Resetting the calibration values to 0 erases the old ones for good.
Write the new values?</translation>
    </message>
    <message>
        <source>Установка типа сенсора</source>
        <translation>Sensor type</translation>
    </message>
    <message>
        <source>Следует выбрать один из типов сенсора</source>
        <translation>Choose one of the sensor types</translation>
    </message>
    <message>
        <source>Показать в проводнике</source>
        <translation>Show in Explorer</translation>
    </message>
    <message>
        <source>Открыть папку в файловом менеджере</source>
        <translation>Open the folder in the file manager</translation>
    </message>
    <message>
        <source>Показать график</source>
        <translation>Show chart</translation>
    </message>
    <message>
        <source>Последовательный адаптер DS2480B найден. SN=</source>
        <translation>DS2480B serial adapter found. SN=</translation>
    </message>
    <message>
        <source>Мастер 1-Wire ядра Linux найден. SN=</source>
        <translation>Linux kernel 1-Wire master found. SN=</translation>
    </message>
    <message>
        <source>Имитация шины 1-Wire подключена. SN=</source>
        <translation>Simulated 1-Wire bus connected. SN=</translation>
    </message>
    <message>
        <source>Последовательный адаптер DS2480B не найден.</source>
        <translation>DS2480B serial adapter not found.</translation>
    </message>
    <message>
        <source>Мастер 1-Wire ядра Linux не найден.</source>
        <translation>Linux kernel 1-Wire master not found.</translation>
    </message>
    <message>
        <source>Имитация шины 1-Wire не отвечает.</source>
        <translation>Simulated 1-Wire bus does not answer.</translation>
    </message>
    <message>
        <source>%1: нет такого порта (подключён ли адаптер?)</source>
        <translation>%1: no such port (is the adapter plugged in?)</translation>
    </message>
    <message>
        <source>%1: адаптер пропал (отключён?)</source>
        <translation>%1: the adapter is gone (unplugged?)</translation>
    </message>
    <message>
        <source>%1: DS2480B не отвечает (подключён ли там адаптер 1-Wire?)</source>
        <translation>%1: no DS2480B answers (is a 1-Wire adapter plugged in there?)</translation>
    </message>
    <message>
        <source>%1: шина 1-Wire замкнута</source>
        <translation>%1: the 1-Wire bus is shorted</translation>
    </message>
    <message>
        <source>%1: не подключён</source>
        <translation>%1: not plugged in</translation>
    </message>
    <message>
        <source>%1: нет прав доступа (правило udev 60-orvex.rules, см. руководство)</source>
        <translation>%1: permission denied (udev rule 60-orvex.rules, see the user guide)</translation>
    </message>
    <message>
        <source>%1: занят другой программой</source>
        <translation>%1: held by another program</translation>
    </message>
    <message>
        <source>не подключён ни один адаптер USB 1-Wire (DS2490, 04FA:2490)</source>
        <translation>no USB 1-Wire adapter (DS2490, 04FA:2490) is plugged in</translation>
    </message>
    <message>
        <source>Адаптер не найден</source>
        <translation>Adapter not found</translation>
    </message>
    <message>
        <source>Тревог: %1</source>
        <translation>Alarms: %1</translation>
    </message>
    <message>
        <source>Тревог нет</source>
        <translation>No alarms</translation>
    </message>
    <message>
        <source>Пороги тревоги…</source>
        <translation>Alarm limits…</translation>
    </message>
    <message>
        <source>Записать пороги в датчик</source>
        <translation>Write thresholds to sensor</translation>
    </message>
    <message>
        <source>Верхний порог TH датчика %1, °C:</source>
        <translation>High threshold TH of sensor %1, °C:</translation>
    </message>
    <message>
        <source>Нижний порог TL, °C (не выше %1):</source>
        <translation>Low threshold TL, °C (not above %1):</translation>
    </message>
    <message>
        <source>Пороги будут записаны в датчик после текущего цикла</source>
        <translation>The thresholds will be written to the sensor after the current cycle</translation>
    </message>
    <message>
        <source>Пороги тревоги</source>
        <translation>Alarm limits</translation>
    </message>
    <message>
        <source>Канал %1
НИЖНИЙ:ВЕРХНИЙ (любой можно не указывать), затем по желанию
hysteresis=ГИСТЕРЕЗИС delay=ПОКАЗАНИЙ nodata=ЦИКЛОВ; пустая строка снимает пороги</source>
        <translation>Channel %1
LOW:HIGH (either may be left out), then optionally
hysteresis=HYSTERESIS delay=READINGS nodata=CYCLES; an empty line removes the limits</translation>
    </message>
    <message>
        <source>Замер длился %1 с, дольше интервала %2 с: следующий начнётся позже срока</source>
        <translation>The measurement took %1 s, longer than the interval of %2 s: the next one starts late</translation>
    </message>
    <message>
        <source>Знаки перед каждым номером в заголовке файла измерений (серийный номер 1-Wire, адрес и серийный номер I2C, номера каналов), чтобы табличный редактор читал номер как текст и не терял ведущие нули, например &apos;0B01145C0731AA28. Пустое поле: без знаков.</source>
        <translation>Characters put before each number in a measurement file&apos;s header (the 1-Wire serial number, the I2C address and serial number, the channel numbers), so that a spreadsheet reads the number as text and keeps its leading zeros, for example &apos;0B01145C0731AA28. Empty: no characters.</translation>
    </message>
    <message>
        <source>Знаки после каждого номера в заголовке файла измерений. Пустое поле: без знаков.</source>
        <translation>Characters put after each number in a measurement file&apos;s header. Empty: no characters.</translation>
    </message>
    <message>
        <source>Замеры по сетке интервала (от начала до начала)</source>
        <translation>Measure on the interval&apos;s grid (start to start)</translation>
    </message>
    <message>
        <source>Замер начинается точно через интервал после начала предыдущего, а не через интервал после ближайшего тика после его конца</source>
        <translation>A measurement starts exactly one interval after the start of the previous one, not one interval after the first tick after its end</translation>
    </message>
    <message>
        <source>Публикация MQTT…</source>
        <translation>MQTT publishing…</translation>
    </message>
    <message>
        <source>Графики</source>
        <translation>Charts</translation>
    </message>
    <message>
        <source>График выбранного канала</source>
        <translation>Chart of the selected channel</translation>
    </message>
    <message>
        <source>Открыть файлы измерений…</source>
        <translation>Open measurement files…</translation>
    </message>
    <message>
        <source>Руководство пользователя</source>
        <translation>User guide</translation>
    </message>
    <message>
        <source>Руководство пользователя не найдено: %1</source>
        <translation>The user guide is not there: %1</translation>
    </message>
    <message>
        <source>Публикация MQTT</source>
        <translation>MQTT publishing</translation>
    </message>
    <message>
        <source>Показания публикуются брокеру MQTT, когда задан адрес; пустой адрес выключает публикацию. Пароль не хранится в настройках: только файл, первая строка которого — пароль. Изменения применятся при следующем запуске программы.</source>
        <translation>The readings are published to an MQTT broker when its address is set; an empty address turns publishing off. The password is not kept in the settings, only the file whose first line is the password. The changes apply from the next start of the program.</translation>
    </message>
    <message>
        <source>Адрес брокера</source>
        <translation>Broker address</translation>
    </message>
    <message>
        <source>mqtt://узел[:порт][/префикс] или mqtts://… для TLS</source>
        <translation>mqtt://host[:port][/prefix], or mqtts://… for TLS</translation>
    </message>
    <message>
        <source>Пользователь</source>
        <translation>User</translation>
    </message>
    <message>
        <source>Файл пароля</source>
        <translation>Password file</translation>
    </message>
    <message>
        <source>Сертификат CA (PEM)</source>
        <translation>CA certificate (PEM)</translation>
    </message>
    <message>
        <source>Пусто: сертификаты системы</source>
        <translation>Empty: the system&apos;s certificates</translation>
    </message>
    <message>
        <source>Префикс тем</source>
        <translation>Topic prefix</translation>
    </message>
    <message>
        <source>Если в адресе нет пути; по умолчанию orvex</source>
        <translation>When the address has no path; default orvex</translation>
    </message>
    <message>
        <source>Обнаружение в Home Assistant</source>
        <translation>Home Assistant discovery</translation>
    </message>
    <message>
        <source>файл пароля не читается: %1</source>
        <translation>the password file cannot be read: %1</translation>
    </message>
    <message>
        <source>Настройки MQTT не сохранены: %1</source>
        <translation>The MQTT settings were not saved: %1</translation>
    </message>
    <message>
        <source>Настройки MQTT сохранены; они применятся при следующем запуске программы.</source>
        <translation>The MQTT settings are saved; they apply from the next start of the program.</translation>
    </message>
    <message>
        <source>Открыть папку</source>
        <translation>Open the folder</translation>
    </message>
    <message>
        <source>Не найден файловый менеджер, который открыл бы папку:
%1</source>
        <translation>No file manager was found to open the folder:
%1</translation>
    </message>
    <message>
        <source>серийный номер 1-Wire или I2C, тип датчика</source>
        <translation>1-Wire or I2C serial number, sensor type</translation>
    </message>
    <message>
        <source>Показываются строки, в серийном номере 1-Wire, серийном номере I2C или типе которых есть этот текст (без учёта регистра)</source>
        <translation>Shows the rows whose 1-Wire serial number, I2C serial number or type holds this text (in any letter case)</translation>
    </message>
</context>
<context>
    <name>Max31850</name>
    <message>
        <source>ВНИМАНИЕ!</source>
        <translation>WARNING!</translation>
    </message>
    <message>
        <source>Ошибка значений калибровки. Эталонное значение не задано, калибровка не записана!</source>
        <translation>Calibration values are wrong. No reference value is set; the calibration was not written!</translation>
    </message>
    <message>
        <source>Ошибка значений калибровки. Датчик не дал значения температуры, калибровка не записана!</source>
        <translation>Calibration values are wrong. The sensor gave no temperature; the calibration was not written!</translation>
    </message>
    <message>
        <source>Ошибка значений калибровки. Смещение не может быть более 5 градусов!</source>
        <translation>Calibration values are wrong. The offset cannot exceed 5 degrees!</translation>
    </message>
</context>
<context>
    <name>MeasurementFileReader</name>
    <message>
        <source>Файл «%1», строка %2: %3</source>
        <translation>File “%1”, line %2: %3</translation>
    </message>
    <message>
        <source>Файл «%1» пуст или не дописан: в нём нет ни одной целой строки.</source>
        <translation>File “%1” is empty or unfinished: it holds no whole line.</translation>
    </message>
    <message>
        <source>заголовок файла не дописан.</source>
        <translation>the file’s header is unfinished.</translation>
    </message>
    <message>
        <source>это не файл измерений (ожидалось «%1»).</source>
        <translation>this is not a measurement file (expected “%1”).</translation>
    </message>
    <message>
        <source>заголовок повреждён (%1).</source>
        <translation>the header is damaged (%1).</translation>
    </message>
    <message>
        <source>нет номера 1-Wire</source>
        <translation>no 1-Wire number</translation>
    </message>
    <message>
        <source>нет адреса I2C</source>
        <translation>no I2C address</translation>
    </message>
    <message>
        <source>неверный серийный номер I2C</source>
        <translation>bad I2C serial number</translation>
    </message>
    <message>
        <source>нет канала мультихаба</source>
        <translation>no multihub channel</translation>
    </message>
    <message>
        <source>нет номера канала датчика</source>
        <translation>no sensor channel number</translation>
    </message>
    <message>
        <source>строка повреждена и пропущена</source>
        <translation>the line is damaged and skipped</translation>
    </message>
    <message>
        <source> (всего повреждённых строк: %1)</source>
        <translation> (damaged lines in all: %1)</translation>
    </message>
    <message>
        <source>Файл «%1» не открывается: %2</source>
        <translation>File “%1” does not open: %2</translation>
    </message>
</context>
<context>
    <name>MeasurementSession</name>
    <message>
        <source>Пороги записаны в датчик и сохранены в его EEPROM.</source>
        <translation>The thresholds were written to the sensor and saved in its EEPROM.</translation>
    </message>
    <message>
        <source>Это не термометр DS18S20/DS18B20 на шине: пороги не записаны.</source>
        <translation>This is not a DS18S20/DS18B20 thermometer on the bus: thresholds not written.</translation>
    </message>
    <message>
        <source>Последнее показание датчика не прошло проверку: пороги не записаны.</source>
        <translation>The sensor’s last reading failed its checks: thresholds not written.</translation>
    </message>
    <message>
        <source>Преобразователь не найден: пороги не записаны.</source>
        <translation>Adapter not found: thresholds not written.</translation>
    </message>
    <message>
        <source>Пороги должны быть целыми градусами от −55 до +125 °C, нижний не выше верхнего: не записаны.</source>
        <translation>Thresholds must be whole degrees from −55 to +125 °C, the low one not above the high one: not written.</translation>
    </message>
    <message>
        <source>Датчик не ответил: пороги не записаны.</source>
        <translation>The sensor did not answer: thresholds not written.</translation>
    </message>
    <message>
        <source>Память датчика прочитана с ошибкой (CRC): пороги не записаны.</source>
        <translation>The sensor’s memory read back with an error (CRC): thresholds not written.</translation>
    </message>
    <message>
        <source>Проверочное чтение не совпало с записанным: пороги не сохранены в EEPROM датчика.</source>
        <translation>The verifying read did not match what was written: thresholds not saved in the sensor’s EEPROM.</translation>
    </message>
    <message>
        <source>Пороги не записаны (код %1).</source>
        <translation>Thresholds not written (code %1).</translation>
    </message>
</context>
<context>
    <name>MqttConfig</name>
    <message>
        <source>не удалось прочитать файл пароля %1: %2</source>
        <translation>could not read the password file %1: %2</translation>
    </message>
</context>
<context>
    <name>MqttLink</name>
    <message>
        <source>клиент MQTT не создан</source>
        <translation>the MQTT client was not created</translation>
    </message>
    <message>
        <source>файл сертификатов ЦС %1 не содержит сертификатов</source>
        <translation>the CA certificate file %1 holds no certificate</translation>
    </message>
    <message>
        <source>TLS не настраивается: %1</source>
        <translation>TLS cannot be set up: %1</translation>
    </message>
    <message>
        <source>файл сертификатов ЦС %1 не читается</source>
        <translation>the CA certificate file %1 cannot be read</translation>
    </message>
    <message>
        <source>брокер не ответил за %1 с</source>
        <translation>the broker did not answer within %1 s</translation>
    </message>
    <message>
        <source>брокер не подтверждает сообщения (нет подтверждения за %1 с)</source>
        <translation>the broker does not acknowledge messages (no acknowledgement within %1 s)</translation>
    </message>
    <message>
        <source>брокер отказал в доступе: неверное имя пользователя или пароль</source>
        <translation>the broker refused access: wrong user name or password</translation>
    </message>
    <message>
        <source>брокер отказал в доступе: неверное имя пользователя или пароль, или нет прав</source>
        <translation>the broker refused access: wrong user name or password, or no permission</translation>
    </message>
    <message>
        <source>брокер отклонил идентификатор клиента</source>
        <translation>the broker rejected the client identifier</translation>
    </message>
    <message>
        <source>брокер отклонил подключение: </source>
        <translation>the broker refused the connection: </translation>
    </message>
    <message>
        <source>ошибка TLS: </source>
        <translation>TLS error: </translation>
    </message>
    <message>
        <source>согласование не удалось</source>
        <translation>the handshake failed</translation>
    </message>
    <message>
        <source>адрес брокера %1 не найден</source>
        <translation>the broker’s address %1 was not found</translation>
    </message>
    <message>
        <source>нет связи: </source>
        <translation>no connection: </translation>
    </message>
    <message>
        <source>связь потеряна</source>
        <translation>connection lost</translation>
    </message>
    <message>
        <source>брокер перестал отвечать</source>
        <translation>the broker stopped answering</translation>
    </message>
    <message>
        <source>брокер закрыл соединение во время согласования (порт без TLS?)</source>
        <translation>the broker closed the connection during the handshake (a port without TLS?)</translation>
    </message>
</context>
<context>
    <name>MqttPublisher</name>
    <message>
        <source>MQTT: выключено</source>
        <translation>MQTT: off</translation>
    </message>
    <message>
        <source>MQTT: подключение к %1</source>
        <translation>MQTT: connecting to %1</translation>
    </message>
    <message>
        <source>MQTT: подключено к %1</source>
        <translation>MQTT: connected to %1</translation>
    </message>
    <message>
        <source>MQTT: нет связи с %1 (%2), повторное подключение</source>
        <translation>MQTT: no connection to %1 (%2), reconnecting</translation>
    </message>
    <message>
        <source>MQTT: ошибка: %1</source>
        <translation>MQTT: error: %1</translation>
    </message>
    <message>
        <source>; в очереди %1</source>
        <translation>; queued %1</translation>
    </message>
    <message>
        <source>; очередь полна (%1), отброшено старых показаний: %2</source>
        <translation>; queue full (%1), old readings dropped: %2</translation>
    </message>
    <message>
        <source>; отброшено сообщений, которые брокер не примет: %1</source>
        <translation>; messages dropped that the broker will not take: %1</translation>
    </message>
    <message>
        <source>; очередь не записывается: %1</source>
        <translation>; the queue cannot be written: %1</translation>
    </message>
    <message>
        <source>; только в памяти, пропадут при остановке: %1</source>
        <translation>; in memory only, lost when stopped: %1</translation>
    </message>
</context>
<context>
    <name>Orvexctl</name>
    <message>
        <source>  --alarm CHANNEL=LOW:HIGH  alarm limits of a channel (repeatable): CHANNEL is the ROM as
                  `read` prints it, then /SUB for a subchannel other than 0 and
                  /HUB/ADDRESS behind a bridge; either bound may be empty; optional
                  hysteresis=H delay=N nodata=N after a space; transitions go to
                  standard error and alarms.csv in the --record folder
  --alarms FILE   the same lines, one a line (# starts a comment)
</source>
        <translation>  --alarm CHANNEL=LOW:HIGH  alarm limits of a channel (repeatable): CHANNEL is the ROM as
                  `read` prints it, then /SUB for a subchannel other than 0 and
                  /HUB/ADDRESS behind a bridge; either bound may be empty; optional
                  hysteresis=H delay=N nodata=N after a space; transitions go to
                  standard error and alarms.csv in the --record folder
  --alarms FILE   the same lines, one a line (# starts a comment)
</translation>
    </message>
    <message>
        <source>usage: orvexctl scan [--bus=VALUE ...] [--verbose]
       orvexctl ports [PORT...]
       orvexctl types
       orvexctl thresholds ROM TL:TH [--bus=VALUE ...] [--fast] [--verbose]
       orvexctl read [--bus=VALUE ...] [--cycles N] [--interval S] [--fast [--start T]]
                     [--record DIR [--template TEMPLATE]] [--verbose]
</source>
        <translation>usage: orvexctl scan [--bus=VALUE ...] [--verbose]
       orvexctl ports [PORT...]
       orvexctl types
       orvexctl thresholds ROM TL:TH [--bus=VALUE ...] [--fast] [--verbose]
       orvexctl read [--bus=VALUE ...] [--cycles N] [--interval S] [--fast [--start T]]
                     [--record DIR [--template TEMPLATE]] [--verbose]
</translation>
    </message>
    <message>
        <source>  --cycles N      measurement cycles to run (default 1); 0: until stopped (SIGTERM, SIGINT), which
                  ends the cycle under way, writes out files and queue, and exits 0
  --interval S    seconds from the start of one cycle to the next (default 0)
  --fast          simulated bus only: run in virtual time, without real waiting; over a serial
                  bus, the emulated adapter&apos;s clock file in ORVEX_SHARED_CLOCK (ds2480-emu --clock)
  --start T       with --fast: the virtual clock&apos;s start, local time yyyy-MM-ddThh:mm:ss (default: now)
  --help, -h      print this text and stop; --version: print the version and stop
  --record DIR    write the measurement files into the folder DIR (made when missing), as the window does
  --template TEMPLATE  file-name template for --record (default: the stored setting
                  Settings/OutFileFormat, else %DATE%-%TIME%_%TS%%SC%_%SN1W%_%I2CSNH%_%I2CSNL%_%I2CA%_%MHCH%)
  --verbose       print the program&apos;s log messages on standard error
  ports           the serial ports (or the PORTs given) and whether a DS2480B adapter answers there
  types           the chip types a bus file (sim:FILE) may hold: default family and the keys each reads
</source>
        <translation>  --cycles N      measurement cycles to run (default 1); 0: until stopped (SIGTERM, SIGINT), which
                  ends the cycle under way, writes out files and queue, and exits 0
  --interval S    seconds from the start of one cycle to the next (default 0)
  --fast          simulated bus only: run in virtual time, without real waiting; over a serial
                  bus, the emulated adapter&apos;s clock file in ORVEX_SHARED_CLOCK (ds2480-emu --clock)
  --start T       with --fast: the virtual clock&apos;s start, local time yyyy-MM-ddThh:mm:ss (default: now)
  --help, -h      print this text and stop; --version: print the version and stop
  --record DIR    write the measurement files into the folder DIR (made when missing), as the window does
  --template TEMPLATE  file-name template for --record (default: the stored setting
                  Settings/OutFileFormat, else %DATE%-%TIME%_%TS%%SC%_%SN1W%_%I2CSNH%_%I2CSNL%_%I2CA%_%MHCH%)
  --verbose       print the program&apos;s log messages on standard error
  ports           the serial ports (or the PORTs given) and whether a DS2480B adapter answers there
  types           the chip types a bus file (sim:FILE) may hold: default family and the keys each reads
</translation>
    </message>
    <message>
        <source>the bus (default: ORVEX_BUS, else %1)</source>
        <translation>the bus (default: ORVEX_BUS, else %1)</translation>
    </message>
    <message>
        <source>, else </source>
        <translation>, else </translation>
    </message>
    <message>
        <source>no I2C sensor answers</source>
        <translation>no I2C sensor answers</translation>
    </message>
    <message>
        <source>cycle %1</source>
        <translation>cycle %1</translation>
    </message>
    <message>
        <source>no serial ports</source>
        <translation>no serial ports</translation>
    </message>
    <message>
        <source>--cycles takes a whole number from 0 (0: until stopped)</source>
        <translation>--cycles takes a whole number from 0 (0: until stopped)</translation>
    </message>
    <message>
        <source>--interval takes whole seconds from 0 to 86400</source>
        <translation>--interval takes whole seconds from 0 to 86400</translation>
    </message>
    <message>
        <source>--start takes a local time yyyy-MM-ddThh:mm:ss</source>
        <translation>--start takes a local time yyyy-MM-ddThh:mm:ss</translation>
    </message>
    <message>
        <source>--record takes a folder</source>
        <translation>--record takes a folder</translation>
    </message>
    <message>
        <source>--template takes a file-name template</source>
        <translation>--template takes a file-name template</translation>
    </message>
    <message>
        <source>unknown option &quot;%1&quot;</source>
        <translation>unknown option &quot;%1&quot;</translation>
    </message>
    <message>
        <source>--start needs --fast</source>
        <translation>--start needs --fast</translation>
    </message>
    <message>
        <source>--start takes a local time yyyy-MM-ddThh:mm:ss, not &quot;%1&quot;</source>
        <translation>--start takes a local time yyyy-MM-ddThh:mm:ss, not &quot;%1&quot;</translation>
    </message>
    <message>
        <source>--template needs --record</source>
        <translation>--template needs --record</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no folder and cannot be made one</source>
        <translation>&quot;%1&quot; is no folder and cannot be made one</translation>
    </message>
    <message>
        <source>made the folder &quot;%1&quot;</source>
        <translation>made the folder &quot;%1&quot;</translation>
    </message>
    <message>
        <source>--fast needs a simulated bus, or the emulated adapter&apos;s clock file in ORVEX_SHARED_CLOCK</source>
        <translation>--fast needs a simulated bus, or the emulated adapter&apos;s clock file in ORVEX_SHARED_CLOCK</translation>
    </message>
    <message>
        <source>no command</source>
        <translation>no command</translation>
    </message>
    <message>
        <source>unknown command &quot;%1&quot;</source>
        <translation>unknown command &quot;%1&quot;</translation>
    </message>
    <message>
        <source>thresholds takes a ROM and TL:TH in whole degrees, e.g. 28FF641E1D160300 10:30</source>
        <translation>thresholds takes a ROM and TL:TH in whole degrees, e.g. 28FF641E1D160300 10:30</translation>
    </message>
    <message>
        <source>the driver</source>
        <translation>the driver</translation>
    </message>
    <message>
        <source>the one USB adapter when exactly one is plugged in</source>
        <translation>the one USB adapter when exactly one is plugged in</translation>
    </message>
    <message>
        <source>the kernel&apos;s 1-Wire master when it has exactly one</source>
        <translation>the kernel&apos;s 1-Wire master when it has exactly one</translation>
    </message>
    <message>
        <source>  --metrics [ADDRESS:]PORT  serve /metrics for Prometheus; the address defaults
                     to 127.0.0.1
</source>
        <translation>  --metrics [ADDRESS:]PORT  serve /metrics for Prometheus; the address defaults
                     to 127.0.0.1
</translation>
    </message>
    <message>
        <source>  --owserver [ADDRESS:]PORT  serve the latest readings over the owserver protocol
                     (owread, owdir, Home Assistant); the address defaults to
                     127.0.0.1, the protocol&apos;s usual port is 4304
</source>
        <translation>  --owserver [ADDRESS:]PORT  serve the latest readings over the owserver protocol
                     (owread, owdir, Home Assistant); the address defaults to
                     127.0.0.1, the protocol&apos;s usual port is 4304
</translation>
    </message>
    <message>
        <source>  --mqtt URL      publish every reading to the MQTT broker mqtt://host[:port][/prefix] (mqtts:// for TLS)
  --no-discovery  no Home Assistant discovery messages
  --mqtt-client-id ID, --mqtt-user NAME, --mqtt-password-file FILE, --mqtt-ca FILE
                  client identifier, user name, the file holding the password
                  (else ORVEX_MQTT_PASSWORD), certificates of the broker&apos;s CA for mqtts
  --mqtt-queue DIR  the folder of the queue kept while the broker is away
  --mqtt-wait S   at the end, wait up to S seconds for the broker to take the queue (default 5)
</source>
        <translation>  --mqtt URL      publish every reading to the MQTT broker mqtt://host[:port][/prefix] (mqtts:// for TLS)
  --no-discovery  no Home Assistant discovery messages
  --mqtt-client-id ID, --mqtt-user NAME, --mqtt-password-file FILE, --mqtt-ca FILE
                  client identifier, user name, the file holding the password
                  (else ORVEX_MQTT_PASSWORD), certificates of the broker&apos;s CA for mqtts
  --mqtt-queue DIR  the folder of the queue kept while the broker is away
  --mqtt-wait S   at the end, wait up to S seconds for the broker to take the queue (default 5)
</translation>
    </message>
    <message>
        <source>the demo bus</source>
        <translation>the demo bus</translation>
    </message>
    <message>
        <source>  --web [ADDRESS:]PORT  serve the live web page and its JSON API; the address
                     defaults to 127.0.0.1
  --web-passwords FILE  USER:HASH lines (crypt hashes) of those who may change
                     alarm limits from the page; without it the page is
                     read-only
</source>
        <translation>  --web [ADDRESS:]PORT  serve the live web page and its JSON API; the address
                     defaults to 127.0.0.1
  --web-passwords FILE  USER:HASH lines (crypt hashes) of those who may change
                     alarm limits from the page; without it the page is
                     read-only
</translation>
    </message>
    <message>
        <source>web page on http://%1/</source>
        <translation>web page on http://%1/</translation>
    </message>
    <message>
        <source>exit codes: 0 done; 1 the adapter did not open (ports: no DS2480B answered); 2 a bad option, bus or
  file (an unreadable MQTT password or CA file, a CA file without a certificate, a queue in use);
  3 the MQTT broker refused the credentials or TLS failed, 4 the MQTT broker was not reached at all:
  the readings stay queued; 5 readings were not delivered: the broker did not take them all in the
  wait at the end (they stay queued), or the queue could not keep some (they are lost); a run
  stopped by a signal ends 0 when all it did not deliver stays queued; 6 thresholds were not written
  into the thermometer; 7 the --record folder did not take every reading (the count is on stderr)
</source>
        <translation>exit codes: 0 done; 1 the adapter did not open (ports: no DS2480B answered); 2 a bad option, bus or
  file (an unreadable MQTT password or CA file, a CA file without a certificate, a queue in use);
  3 the MQTT broker refused the credentials or TLS failed, 4 the MQTT broker was not reached at all:
  the readings stay queued; 5 readings were not delivered: the broker did not take them all in the
  wait at the end (they stay queued), or the queue could not keep some (they are lost); a run
  stopped by a signal ends 0 when all it did not deliver stays queued; 6 thresholds were not written
  into the thermometer; 7 the --record folder did not take every reading (the count is on stderr)
</translation>
    </message>
    <message>
        <source>not read: the adapter did not open</source>
        <translation>not read: the adapter did not open</translation>
    </message>
    <message>
        <source>not read: the adapter was lost during the cycle</source>
        <translation>not read: the adapter was lost during the cycle</translation>
    </message>
    <message>
        <source>not read: not found by this cycle&apos;s search</source>
        <translation>not read: not found by this cycle&apos;s search</translation>
    </message>
    <message>
        <source>not read: the device did not answer</source>
        <translation>not read: the device did not answer</translation>
    </message>
    <message>
        <source>not read in this cycle</source>
        <translation>not read in this cycle</translation>
    </message>
    <message>
        <source>the adapter was lost during the cycle</source>
        <translation>the adapter was lost during the cycle</translation>
    </message>
    <message numerus="yes">
        <source>%n reading(s) could not be written</source>
        <translation>
            <numerusform>%n reading could not be written</numerusform>
            <numerusform>%n readings could not be written</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>PublishQueue</name>
    <message>
        <source>не удалось создать папку очереди %1</source>
        <translation>could not create the queue folder %1</translation>
    </message>
    <message>
        <source>очередь %1 занята другой программой (%2, pid %3)</source>
        <translation>the queue %1 is in use by another program (%2, pid %3)</translation>
    </message>
    <message>
        <source>нет доступа к очереди %1</source>
        <translation>no access to the queue %1</translation>
    </message>
    <message>
        <source>не удалось прочитать очередь %1: %2</source>
        <translation>could not read the queue %1: %2</translation>
    </message>
    <message>
        <source>очередь %1 хранит %2 сообщ. для %3; укажите для %4 другую папку очереди</source>
        <translation>the queue %1 holds %2 messages for %3; give %4 another queue folder</translation>
    </message>
</context>
<context>
    <name>Recorder</name>
    <message>
        <source>Шаблон даёт одно имя файла нескольким каналам (%1): каналов с добавленным серийным номером: %2</source>
        <translation>The template gives several channels one file name (%1): channels with the serial number added: %2</translation>
    </message>
    <message>
        <source>Ошибка записи файла </source>
        <translation>Error writing the file </translation>
    </message>
    <message>
        <source> (файлов с ошибкой: </source>
        <translation> (files with errors: </translation>
    </message>
</context>
<context>
    <name>Sensor</name>
    <message>
        <source>нет ответа</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>ошибка CRC</source>
        <translation>CRC error</translation>
    </message>
    <message>
        <source>нет преобразования (значение при включении)</source>
        <translation>no conversion (power-on value)</translation>
    </message>
    <message>
        <source>обрыв термопары</source>
        <translation>thermocouple open</translation>
    </message>
    <message>
        <source>замыкание термопары на землю (GND)</source>
        <translation>thermocouple shorted to ground (GND)</translation>
    </message>
    <message>
        <source>замыкание термопары на питание (VCC)</source>
        <translation>thermocouple shorted to supply (VCC)</translation>
    </message>
    <message>
        <source>неисправность термопары</source>
        <translation>thermocouple fault</translation>
    </message>
    <message>
        <source>напряжение термопары вне таблицы</source>
        <translation>thermocouple voltage outside the table</translation>
    </message>
    <message>
        <source>нет значения (причина в журнале)</source>
        <translation>no value (reason in the log)</translation>
    </message>
    <message>
        <source>счётчик пошёл назад</source>
        <translation>the counter went back</translation>
    </message>
    <message>
        <source>нет сильной подтяжки для преобразования (питание от линии данных)</source>
        <translation>no strong pull-up for the conversion (parasite power)</translation>
    </message>
</context>
<context>
    <name>SensorType</name>
    <message>
        <source>DS18S20 Temperature sensor</source>
        <translation>DS18S20 Temperature sensor</translation>
    </message>
    <message>
        <source>DS18B20 Temperature sensor</source>
        <translation>DS18B20 Temperature sensor</translation>
    </message>
    <message>
        <source>MAX31850 Temperature sensor</source>
        <translation>MAX31850 Temperature sensor</translation>
    </message>
    <message>
        <source>MAX31850 Thermocouple Cold-Junction sensor</source>
        <translation>MAX31850 Thermocouple Cold-Junction sensor</translation>
    </message>
    <message>
        <source>MAX31850 Emulator</source>
        <translation>MAX31850 Emulator</translation>
    </message>
    <message>
        <source>MAX31850 Emulator Pt100</source>
        <translation>MAX31850 Emulator Pt100</translation>
    </message>
    <message>
        <source>MAX31850 Emulator 100П</source>
        <translation>MAX31850 Emulator 100P</translation>
    </message>
    <message>
        <source>MAX31850 Emulator Thermocouple Cold-Junction sensor</source>
        <translation>MAX31850 Emulator Thermocouple Cold-Junction sensor</translation>
    </message>
    <message>
        <source>SHT3x temperature channel</source>
        <translation>SHT3x temperature channel</translation>
    </message>
    <message>
        <source>SHT3x humidity channel</source>
        <translation>SHT3x humidity channel</translation>
    </message>
    <message>
        <source>STS3x temperature channel</source>
        <translation>STS3x temperature channel</translation>
    </message>
    <message>
        <source>HDC1080 temperature channel</source>
        <translation>HDC1080 temperature channel</translation>
    </message>
    <message>
        <source>HDC1080 humidity channel</source>
        <translation>HDC1080 humidity channel</translation>
    </message>
    <message>
        <source>BMP280 pressure channel</source>
        <translation>BMP280 pressure channel</translation>
    </message>
    <message>
        <source>BMP280 temperature channel</source>
        <translation>BMP280 temperature channel</translation>
    </message>
    <message>
        <source>D6F OMRON pressure channel</source>
        <translation>D6F OMRON pressure channel</translation>
    </message>
    <message>
        <source>D6F OMRON temperature channel</source>
        <translation>D6F OMRON temperature channel</translation>
    </message>
    <message>
        <source>SDC30 CO2 channel</source>
        <translation>SDC30 CO2 channel</translation>
    </message>
    <message>
        <source>SDC30 temperature channel</source>
        <translation>SDC30 temperature channel</translation>
    </message>
    <message>
        <source>SDC30 humidity channel</source>
        <translation>SDC30 humidity channel</translation>
    </message>
    <message>
        <source>DS1822 Temperature sensor</source>
        <translation>DS1822 Temperature sensor</translation>
    </message>
    <message>
        <source>DS28EA00 Temperature sensor</source>
        <translation>DS28EA00 Temperature sensor</translation>
    </message>
    <message>
        <source>DS1825 Temperature sensor</source>
        <translation>DS1825 Temperature sensor</translation>
    </message>
    <message>
        <source>DS2438 Temperature sensor</source>
        <translation>DS2438 Temperature sensor</translation>
    </message>
    <message>
        <source>DS2438 Supply voltage VDD</source>
        <translation>DS2438 Supply voltage VDD</translation>
    </message>
    <message>
        <source>DS2438 A/D input voltage VAD</source>
        <translation>DS2438 A/D input voltage VAD</translation>
    </message>
    <message>
        <source>DS2438 Current sense voltage</source>
        <translation>DS2438 Current sense voltage</translation>
    </message>
    <message>
        <source>DS2438 Humidity (HIH-4000)</source>
        <translation>DS2438 Humidity (HIH-4000)</translation>
    </message>
    <message>
        <source>DS2450 A/D input A</source>
        <translation>DS2450 A/D input A</translation>
    </message>
    <message>
        <source>DS2450 A/D input B</source>
        <translation>DS2450 A/D input B</translation>
    </message>
    <message>
        <source>DS2450 A/D input C</source>
        <translation>DS2450 A/D input C</translation>
    </message>
    <message>
        <source>DS2450 A/D input D</source>
        <translation>DS2450 A/D input D</translation>
    </message>
    <message>
        <source>DS2423 Counter A</source>
        <translation>DS2423 Counter A</translation>
    </message>
    <message>
        <source>DS2423 Counter B</source>
        <translation>DS2423 Counter B</translation>
    </message>
    <message>
        <source>DS2413 PIO A sensed</source>
        <translation>DS2413 PIO A sensed</translation>
    </message>
    <message>
        <source>DS2413 PIO B sensed</source>
        <translation>DS2413 PIO B sensed</translation>
    </message>
    <message>
        <source>DS2413 PIO A output on</source>
        <translation>DS2413 PIO A output on</translation>
    </message>
    <message>
        <source>DS2413 PIO B output on</source>
        <translation>DS2413 PIO B output on</translation>
    </message>
    <message>
        <source>DS2408 PIO 0 sensed</source>
        <translation>DS2408 PIO 0 sensed</translation>
    </message>
    <message>
        <source>DS2408 PIO 1 sensed</source>
        <translation>DS2408 PIO 1 sensed</translation>
    </message>
    <message>
        <source>DS2408 PIO 2 sensed</source>
        <translation>DS2408 PIO 2 sensed</translation>
    </message>
    <message>
        <source>DS2408 PIO 3 sensed</source>
        <translation>DS2408 PIO 3 sensed</translation>
    </message>
    <message>
        <source>DS2408 PIO 4 sensed</source>
        <translation>DS2408 PIO 4 sensed</translation>
    </message>
    <message>
        <source>DS2408 PIO 5 sensed</source>
        <translation>DS2408 PIO 5 sensed</translation>
    </message>
    <message>
        <source>DS2408 PIO 6 sensed</source>
        <translation>DS2408 PIO 6 sensed</translation>
    </message>
    <message>
        <source>DS2408 PIO 7 sensed</source>
        <translation>DS2408 PIO 7 sensed</translation>
    </message>
    <message>
        <source>DS2408 PIO 0 activity latch</source>
        <translation>DS2408 PIO 0 activity latch</translation>
    </message>
    <message>
        <source>DS2408 PIO 1 activity latch</source>
        <translation>DS2408 PIO 1 activity latch</translation>
    </message>
    <message>
        <source>DS2408 PIO 2 activity latch</source>
        <translation>DS2408 PIO 2 activity latch</translation>
    </message>
    <message>
        <source>DS2408 PIO 3 activity latch</source>
        <translation>DS2408 PIO 3 activity latch</translation>
    </message>
    <message>
        <source>DS2408 PIO 4 activity latch</source>
        <translation>DS2408 PIO 4 activity latch</translation>
    </message>
    <message>
        <source>DS2408 PIO 5 activity latch</source>
        <translation>DS2408 PIO 5 activity latch</translation>
    </message>
    <message>
        <source>DS2408 PIO 6 activity latch</source>
        <translation>DS2408 PIO 6 activity latch</translation>
    </message>
    <message>
        <source>DS2408 PIO 7 activity latch</source>
        <translation>DS2408 PIO 7 activity latch</translation>
    </message>
    <message>
        <source>, address %1</source>
        <translation>, address %1</translation>
    </message>
</context>
<context>
    <name>SensorUnit</name>
    <message>
        <source>count</source>
        <translation>count</translation>
    </message>
</context>
<context>
    <name>TableMan</name>
    <message>
        <source>Серийный номер 1W</source>
        <translation>1W serial number</translation>
    </message>
    <message>
        <source>Канал
датчика</source>
        <translation>Sensor
channel</translation>
    </message>
    <message>
        <source>Мультихаб
Номер
канала</source>
        <translation>Multihub
channel
number</translation>
    </message>
    <message>
        <source>Тип</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>Значение</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>Калибровочное смещение</source>
        <translation>Calibration offset</translation>
    </message>
    <message>
        <source>Ед.изм.</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>Отклон. канал 0</source>
        <translation>Deviation ch. 0</translation>
    </message>
    <message>
        <source>Отклон. канал 1</source>
        <translation>Deviation ch. 1</translation>
    </message>
    <message>
        <source>Имя файла</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>время неизвестно</source>
        <translation>time unknown</translation>
    </message>
    <message>
        <source>Датчик не ответил в последнем цикле; последнее показание: %1 (%2)</source>
        <translation>The sensor did not answer in the last cycle; last reading: %1 (%2)</translation>
    </message>
    <message>
        <source>Нет значения: %1 (попытка %2)</source>
        <translation>No value: %1 (attempt %2)</translation>
    </message>
    <message>
        <source>причина неизвестна</source>
        <translation>reason unknown</translation>
    </message>
    <message>
        <source>Показание устарело: получено %1, новых нет дольше двух интервалов</source>
        <translation>Reading out of date: received %1, none newer for more than two intervals</translation>
    </message>
    <message>
        <source>▲ ВЫШЕ ПОРОГА</source>
        <translation>▲ ABOVE LIMIT</translation>
    </message>
    <message>
        <source>▼ НИЖЕ ПОРОГА</source>
        <translation>▼ BELOW LIMIT</translation>
    </message>
    <message>
        <source>⚠ НЕТ ДАННЫХ</source>
        <translation>⚠ NO DATA</translation>
    </message>
    <message>
        <source>нижний %1</source>
        <translation>low %1</translation>
    </message>
    <message>
        <source>верхний %1</source>
        <translation>high %1</translation>
    </message>
    <message>
        <source>гистерезис %1</source>
        <translation>hysteresis %1</translation>
    </message>
    <message numerus="yes">
        <source>задержка %n показаний</source>
        <translation>
            <numerusform>delay %n reading</numerusform>
            <numerusform>delay %n readings</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>нет данных после %n циклов</source>
        <translation>
            <numerusform>no data after %n cycle</numerusform>
            <numerusform>no data after %n cycles</numerusform>
        </translation>
    </message>
    <message>
        <source>Пороги тревоги: %1</source>
        <translation>Alarm limits: %1</translation>
    </message>
    <message>
        <source>аппаратная тревога</source>
        <translation>hardware alarm</translation>
    </message>
    <message>
        <source>Пороги датчика: TL %1 °C, TH %2 °C</source>
        <translation>Sensor thresholds: TL %1 °C, TH %2 °C</translation>
    </message>
    <message>
        <source>Аппаратная тревога: последнее преобразование вышло за пороги датчика</source>
        <translation>Hardware alarm: the last conversion left the sensor’s thresholds</translation>
    </message>
</context>
<context>
    <name>TrendPlot</name>
    <message>
        <source>Нет каналов: добавьте канал или откройте файлы измерений</source>
        <translation>No channels: add a channel or open measurement files</translation>
    </message>
    <message>
        <source>нет данных</source>
        <translation>no data</translation>
    </message>
    <message>
        <source>Образец канал %1: %2</source>
        <translation>Reference channel %1: %2</translation>
    </message>
    <message>
        <source>ошибка чтения (</source>
        <translation>read error (</translation>
    </message>
</context>
<context>
    <name>WebPage</name>
    <message>
        <source>Орвекс</source>
        <translation>Orvex</translation>
    </message>
    <message>
        <source>Показания</source>
        <translation>Readings</translation>
    </message>
    <message>
        <source>Шины</source>
        <translation>Buses</translation>
    </message>
    <message>
        <source>Серийный номер 1W</source>
        <translation>1-Wire serial</translation>
    </message>
    <message>
        <source>Канал датчика</source>
        <translation>Sensor channel</translation>
    </message>
    <message>
        <source>Канал мультихаба</source>
        <translation>Hub channel</translation>
    </message>
    <message>
        <source>Серийный номер I2C</source>
        <translation>I2C serial</translation>
    </message>
    <message>
        <source>Тип</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>Значение</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>Время</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Тревога</source>
        <translation>Alarm</translation>
    </message>
    <message>
        <source>Последовательный адаптер DS2480B</source>
        <translation>DS2480B serial adapter</translation>
    </message>
    <message>
        <source>Преобразователь USB</source>
        <translation>USB adapter</translation>
    </message>
    <message>
        <source>Мастер 1-Wire ядра Linux</source>
        <translation>Linux kernel 1-Wire master</translation>
    </message>
    <message>
        <source>Имитация шины 1-Wire</source>
        <translation>Simulated 1-Wire bus</translation>
    </message>
    <message>
        <source>Драйвер TMEX</source>
        <translation>TMEX driver</translation>
    </message>
    <message>
        <source>на связи</source>
        <translation>up</translation>
    </message>
    <message>
        <source>нет связи</source>
        <translation>down</translation>
    </message>
    <message>
        <source>последний цикл: %1 мс</source>
        <translation>last cycle: %1 ms</translation>
    </message>
    <message>
        <source>ещё ни одного цикла</source>
        <translation>no cycle yet</translation>
    </message>
    <message>
        <source>норма</source>
        <translation>normal</translation>
    </message>
    <message>
        <source>выше верхнего порога</source>
        <translation>above the high limit</translation>
    </message>
    <message>
        <source>ниже нижнего порога</source>
        <translation>below the low limit</translation>
    </message>
    <message>
        <source>нет данных</source>
        <translation>no data</translation>
    </message>
    <message>
        <source>не прочитан в последнем цикле</source>
        <translation>not read in the last cycle</translation>
    </message>
    <message>
        <source>нет ответа</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>ошибка CRC</source>
        <translation>CRC error</translation>
    </message>
    <message>
        <source>нет преобразования</source>
        <translation>no conversion</translation>
    </message>
    <message>
        <source>обрыв термопары</source>
        <translation>thermocouple open</translation>
    </message>
    <message>
        <source>замыкание термопары на землю</source>
        <translation>thermocouple shorted to ground</translation>
    </message>
    <message>
        <source>замыкание термопары на питание</source>
        <translation>thermocouple shorted to supply</translation>
    </message>
    <message>
        <source>неисправность термопары</source>
        <translation>thermocouple fault</translation>
    </message>
    <message>
        <source>напряжение термопары вне таблицы</source>
        <translation>thermocouple voltage outside the table</translation>
    </message>
    <message>
        <source>ошибка чтения</source>
        <translation>read error</translation>
    </message>
    <message>
        <source>Графики</source>
        <translation>Charts</translation>
    </message>
    <message>
        <source>Добавить график</source>
        <translation>Add chart</translation>
    </message>
    <message>
        <source>Убрать</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>Час</source>
        <translation>Hour</translation>
    </message>
    <message>
        <source>Сутки</source>
        <translation>Day</translation>
    </message>
    <message>
        <source>Неделя</source>
        <translation>Week</translation>
    </message>
    <message>
        <source>Нет показаний за этот промежуток</source>
        <translation>No readings in this span</translation>
    </message>
    <message>
        <source>Из файлов: %1</source>
        <translation>From files: %1</translation>
    </message>
    <message>
        <source>Показания этого запуска</source>
        <translation>Readings of this run</translation>
    </message>
    <message>
        <source>Графики не рисуются: не установлен пакет libjs-chart.js.</source>
        <translation>No charts: the package libjs-chart.js is not installed.</translation>
    </message>
    <message>
        <source>Тревоги</source>
        <translation>Alarms</translation>
    </message>
    <message>
        <source>Действующие</source>
        <translation>Active</translation>
    </message>
    <message>
        <source>Тревог нет</source>
        <translation>No alarms</translation>
    </message>
    <message>
        <source>Последние переходы</source>
        <translation>Last transitions</translation>
    </message>
    <message>
        <source>Переходов не было</source>
        <translation>No transitions</translation>
    </message>
    <message>
        <source>Дата</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>Канал</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>Состояние</source>
        <translation>State</translation>
    </message>
    <message>
        <source>Порог</source>
        <translation>Limit</translation>
    </message>
    <message>
        <source>Пороги</source>
        <translation>Limits</translation>
    </message>
    <message>
        <source>без порогов</source>
        <translation>no limits</translation>
    </message>
    <message>
        <source>Изменить пороги</source>
        <translation>Change limits</translation>
    </message>
    <message>
        <source>Пороги канала %1: НИЖНИЙ:ВЕРХНИЙ, затем по желанию hysteresis=H delay=N nodata=N; пусто — снять пороги</source>
        <translation>Limits of %1: LOW:HIGH, then if wanted hysteresis=H delay=N nodata=N; empty removes them</translation>
    </message>
    <message>
        <source>Пороги приняты и действуют со следующего показания.</source>
        <translation>Limits taken; they apply from the next reading.</translation>
    </message>
    <message>
        <source>Пороги не приняты: %1</source>
        <translation>Limits refused: %1</translation>
    </message>
    <message>
        <source>Нет связи со станцией, повторяю…</source>
        <translation>No connection to the station, retrying…</translation>
    </message>
    <message>
        <source>Обновлено: %1</source>
        <translation>Updated: %1</translation>
    </message>
    <message>
        <source>счётчик пошёл назад</source>
        <translation>the counter went back</translation>
    </message>
    <message>
        <source>нет сильной подтяжки для преобразования</source>
        <translation>no strong pull-up for the conversion</translation>
    </message>
</context>
<context>
    <name>W1Master</name>
    <message>
        <source>нет доступа к netlink: %1</source>
        <translation>no netlink access: %1</translation>
    </message>
    <message>
        <source>питание от линии данных: %1</source>
        <translation>powered from the data line: %1</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Программа не может начать работу:
</source>
        <translation>The program cannot start:
</translation>
    </message>
    <message>
        <source>нет дисплея (не заданы DISPLAY и WAYLAND_DISPLAY), окно не откроется; шину можно прочитать в терминале: %1</source>
        <translation>no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open; to read the bus in a terminal: %1</translation>
    </message>
</context>
</TS>
