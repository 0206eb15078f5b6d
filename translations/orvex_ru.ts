<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru">
<context>
    <name>AlarmOutput</name>
    <message>
        <source>Тревога: %1 выше верхнего порога %2: %3</source>
        <translation>Тревога: %1 выше верхнего порога %2: %3</translation>
    </message>
    <message>
        <source>Тревога: %1 ниже нижнего порога %2: %3</source>
        <translation>Тревога: %1 ниже нижнего порога %2: %3</translation>
    </message>
    <message>
        <source>Тревога: %1 нет данных: датчик пропал</source>
        <translation>Тревога: %1 нет данных: датчик пропал</translation>
    </message>
    <message>
        <source>Тревога: %1 нет данных %2 циклов</source>
        <translation>Тревога: %1 нет данных %2 циклов</translation>
    </message>
    <message>
        <source>Тревога снята: %1: %2</source>
        <translation>Тревога снята: %1: %2</translation>
    </message>
    <message>
        <source>Ошибка записи файла %1: %2</source>
        <translation>Ошибка записи файла %1: %2</translation>
    </message>
    <message>
        <source>Тревога</source>
        <translation>Тревога</translation>
    </message>
    <message>
        <source>Тревога снята</source>
        <translation>Тревога снята</translation>
    </message>
</context>
<context>
    <name>AlarmRules</name>
    <message>
        <source>канал «%1»: ожидается ROM из 16 шестнадцатеричных цифр, затем /КАНАЛ и /ХАБ/АДРЕС</source>
        <translation>канал «%1»: ожидается ROM из 16 шестнадцатеричных цифр, затем /КАНАЛ и /ХАБ/АДРЕС</translation>
    </message>
    <message>
        <source>канал «%1»: неверный номер канала, хаба или адреса</source>
        <translation>канал «%1»: неверный номер канала, хаба или адреса</translation>
    </message>
    <message>
        <source>пороги «%1»: ожидается НИЖНИЙ:ВЕРХНИЙ</source>
        <translation>пороги «%1»: ожидается НИЖНИЙ:ВЕРХНИЙ</translation>
    </message>
    <message>
        <source>пороги «%1»: неверное число</source>
        <translation>пороги «%1»: неверное число</translation>
    </message>
    <message>
        <source>пороги «%1»: нижний порог выше верхнего</source>
        <translation>пороги «%1»: нижний порог выше верхнего</translation>
    </message>
    <message>
        <source>пороги «%1»: неверный ключ «%2» (hysteresis=, delay=, nodata=)</source>
        <translation>пороги «%1»: неверный ключ «%2» (hysteresis=, delay=, nodata=)</translation>
    </message>
    <message>
        <source>«%1»: ожидается КАНАЛ=НИЖНИЙ:ВЕРХНИЙ</source>
        <translation>«%1»: ожидается КАНАЛ=НИЖНИЙ:ВЕРХНИЙ</translation>
    </message>
</context>
<context>
    <name>ChartWindow</name>
    <message>
        <source>Добавить канал</source>
        <translation>Добавить канал</translation>
    </message>
    <message>
        <source>Открыть файлы измерений…</source>
        <translation>Открыть файлы измерений…</translation>
    </message>
    <message>
        <source>Весь период</source>
        <translation>Весь период</translation>
    </message>
    <message>
        <source>Сохранить PNG…</source>
        <translation>Сохранить PNG…</translation>
    </message>
    <message>
        <source>Сохранить показания (CSV)…</source>
        <translation>Сохранить показания (CSV)…</translation>
    </message>
    <message>
        <source>Сохранить сводку (CSV)…</source>
        <translation>Сохранить сводку (CSV)…</translation>
    </message>
    <message>
        <source>Отменить</source>
        <translation>Отменить</translation>
    </message>
    <message>
        <source>Показания этого запуска</source>
        <translation>Показания этого запуска</translation>
    </message>
    <message>
        <source>График</source>
        <translation>График</translation>
    </message>
    <message>
        <source> и ещё %1</source>
        <translation> и ещё %1</translation>
    </message>
    <message>
        <source>Все каналы уже на графике</source>
        <translation>Все каналы уже на графике</translation>
    </message>
    <message>
        <source>Все каналы</source>
        <translation>Все каналы</translation>
    </message>
    <message>
        <source>Убрать с графика</source>
        <translation>Убрать с графика</translation>
    </message>
    <message>
        <source>Открыть файлы измерений</source>
        <translation>Открыть файлы измерений</translation>
    </message>
    <message>
        <source>Файлы измерений (*.csv);;Все файлы (*)</source>
        <translation>Файлы измерений (*.csv);;Все файлы (*)</translation>
    </message>
    <message>
        <source>Чтение файла %1 из %2: %3</source>
        <translation>Чтение файла %1 из %2: %3</translation>
    </message>
    <message>
        <source>Чтение файлов</source>
        <translation>Чтение файлов</translation>
    </message>
    <message>
        <source>график.</source>
        <translation>график.</translation>
    </message>
    <message>
        <source>Не удалось записать файл «%1».</source>
        <translation>Не удалось записать файл «%1».</translation>
    </message>
    <message>
        <source>Сохранить график (PNG)</source>
        <translation>Сохранить график (PNG)</translation>
    </message>
    <message>
        <source>Сохранить показания графика (CSV)</source>
        <translation>Сохранить показания графика (CSV)</translation>
    </message>
    <message>
        <source>Сохранить сводку графика по интервалам (CSV)</source>
        <translation>Сохранить сводку графика по интервалам (CSV)</translation>
    </message>
</context>
<context>
    <name>FileNameTemplate</name>
    <message>
        <source>Формат имени файлов</source>
        <translation>Формат имени файлов</translation>
    </message>
    <message>
        <source>Заданный шаблон имени файла</source>
        <translation>Заданный шаблон имени файла</translation>
    </message>
    <message>
        <source>Шаблон для датчиков 1-Wire</source>
        <translation>Шаблон для датчиков 1-Wire</translation>
    </message>
    <message>
        <source>Шаблон для датчиков I2C</source>
        <translation>Шаблон для датчиков I2C</translation>
    </message>
    <message>
        <source>Краткий Шаблон по умолчанию</source>
        <translation>Краткий Шаблон по умолчанию</translation>
    </message>
    <message>
        <source>Полный Шаблон по умолчанию</source>
        <translation>Полный Шаблон по умолчанию</translation>
    </message>
    <message>
        <source>Примерный результат</source>
        <translation>Примерный результат</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>
Внимание: у нескольких подключённых каналов одно имя (%1); к имени каждого следующего добавится его серийный номер 1-Wire и номер канала.</source>
        <translation>
Внимание: у нескольких подключённых каналов одно имя (%1); к имени каждого следующего добавится его серийный номер 1-Wire и номер канала.</translation>
    </message>
    <message>
        <source>Информация</source>
        <translation>Информация</translation>
    </message>
    <message>
        <source>Шаблон применяется со следующего замера: новые показания пишутся в файлы с новыми именами.</source>
        <translation>Шаблон применяется со следующего замера: новые показания пишутся в файлы с новыми именами.</translation>
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
        <translation>USB адаптер не найден</translation>
    </message>
    <message>
        <source>Текущий интервал</source>
        <translation>Текущий интервал</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>До замеров осталось: </source>
        <translation>До замеров осталось: </translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation>TextLabel</translation>
    </message>
    <message>
        <source>Запись не ведется.</source>
        <translation>Запись не ведется.</translation>
    </message>
    <message>
        <source>Путь к папке с файлами:</source>
        <translation>Путь к папке с файлами:</translation>
    </message>
    <message>
        <source>Нагреватель для датчиков SHT</source>
        <translation>Нагреватель для датчиков SHT</translation>
    </message>
    <message>
        <source>Пауза (сек)</source>
        <translation>Пауза (сек)</translation>
    </message>
    <message>
        <source>          Вкл. на время (сек)</source>
        <translation>          Вкл. на время (сек)</translation>
    </message>
    <message>
        <source>(до 5сек- индивидуально ждем, более - кратно периоду измерений.)</source>
        <translation>(до 5сек- индивидуально ждем, более - кратно периоду измерений.)</translation>
    </message>
    <message>
        <source>Таблица датчиков</source>
        <translation>Таблица датчиков</translation>
    </message>
    <message>
        <source>Ввод образцовой величины</source>
        <translation>Ввод образцовой величины</translation>
    </message>
    <message>
        <source>Образец канал 0</source>
        <translation>Образец канал 0</translation>
    </message>
    <message>
        <source>&lt;- Сброс</source>
        <translation>&lt;- Сброс</translation>
    </message>
    <message>
        <source>Образец канал 1</source>
        <translation>Образец канал 1</translation>
    </message>
    <message>
        <source>Среднее канал 0</source>
        <translation>Среднее канал 0</translation>
    </message>
    <message>
        <source>000</source>
        <translation>000</translation>
    </message>
    <message>
        <source>Копировать среднее значение в поле &quot;Образец канал 0&quot;</source>
        <translation>Копировать среднее значение в поле &quot;Образец канал 0&quot;</translation>
    </message>
    <message>
        <source>копир. средн.</source>
        <translation>копир. средн.</translation>
    </message>
    <message>
        <source>Pt100</source>
        <translation>Pt100</translation>
    </message>
    <message>
        <source>100П</source>
        <translation>100П</translation>
    </message>
    <message>
        <source>&lt;- Установить подтип</source>
        <translation>&lt;- Установить подтип</translation>
    </message>
    <message>
        <source>Калибровать</source>
        <translation>Калибровать</translation>
    </message>
    <message>
        <source>Сброс калибр.</source>
        <translation>Сброс калибр.</translation>
    </message>
    <message>
        <source>Фильтр</source>
        <translation>Фильтр</translation>
    </message>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>Файл</source>
        <translation>Файл</translation>
    </message>
    <message>
        <source>Настройки</source>
        <translation>Настройки</translation>
    </message>
    <message>
        <source>Совмещенные сенсоры</source>
        <translation>Совмещенные сенсоры</translation>
    </message>
    <message>
        <source>Мультихаб I2C</source>
        <translation>Мультихаб I2C</translation>
    </message>
    <message>
        <source>Справка</source>
        <translation>Справка</translation>
    </message>
    <message>
        <source>Показывать/записывать канал 0</source>
        <translation>Показывать/записывать канал 0</translation>
    </message>
    <message>
        <source>Показывать/записывать канал 1</source>
        <translation>Показывать/записывать канал 1</translation>
    </message>
    <message>
        <source>Показывать/записывать канал 2</source>
        <translation>Показывать/записывать канал 2</translation>
    </message>
    <message>
        <source>Показывать/записывать канал 3</source>
        <translation>Показывать/записывать канал 3</translation>
    </message>
    <message>
        <source>Сканировать все каналы</source>
        <translation>Сканировать все каналы</translation>
    </message>
    <message>
        <source>Сканировать все типы датчиков</source>
        <translation>Сканировать все типы датчиков</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>Формат имени генерируемых файлов</source>
        <translation>Формат имени генерируемых файлов</translation>
    </message>
    <message>
        <source>О программе</source>
        <translation>О программе</translation>
    </message>
    <message>
        <source>Задание текстовых разделителей в отчете</source>
        <translation>Задание текстовых разделителей в отчете</translation>
    </message>
    <message>
        <source>Орвекс</source>
        <translation>Орвекс</translation>
    </message>
    <message>
        <source>Приложение уже запущено.
Вы можете запустить только один экземпляр приложения.</source>
        <translation>Приложение уже запущено.
Вы можете запустить только один экземпляр приложения.</translation>
    </message>
    <message>
        <source>Задание параметров</source>
        <translation>Задание параметров</translation>
    </message>
    <message>
        <source>Включить запись в файл?</source>
        <translation>Включить запись в файл?</translation>
    </message>
    <message>
        <source>Запись отключена. </source>
        <translation>Запись отключена. </translation>
    </message>
    <message>
        <source>Запись включена. </source>
        <translation>Запись включена. </translation>
    </message>
    <message>
        <source>Введите интервал записи (1..300сек):</source>
        <translation>Введите интервал записи (1..300сек):</translation>
    </message>
    <message>
        <source>сек.</source>
        <translation>сек.</translation>
    </message>
    <message>
        <source>Преобразователь USB найден. SN=</source>
        <translation>Преобразователь USB найден. SN=</translation>
    </message>
    <message>
        <source>идет замер</source>
        <translation>идет замер</translation>
    </message>
    <message>
        <source>Преобразователь USB не найден.</source>
        <translation>Преобразователь USB не найден.</translation>
    </message>
    <message>
        <source>Задание разделителя ПЕРЕД числом</source>
        <translation>Задание разделителя ПЕРЕД числом</translation>
    </message>
    <message>
        <source>По умолчанию: &apos;</source>
        <translation>По умолчанию: &apos;</translation>
    </message>
    <message>
        <source>Задание разделителя ПОСЛЕ числа</source>
        <translation>Задание разделителя ПОСЛЕ числа</translation>
    </message>
    <message>
        <source>По умолчанию: </source>
        <translation>По умолчанию: </translation>
    </message>
    <message>
        <source>Возможные варианты: двойные кавычки, одинарная кавычка, отсутствует или другие символы</source>
        <translation>Возможные варианты: двойные кавычки, одинарная кавычка, отсутствует или другие символы</translation>
    </message>
    <message>
        <source>Орвекс — контроль датчиков 1-Wire и I2C.
Tresvant, 2022</source>
        <translation>Орвекс — контроль датчиков 1-Wire и I2C.
Tresvant, 2022</translation>
    </message>
    <message>
        <source>Версия %1</source>
        <translation>Версия %1</translation>
    </message>
    <message>
        <source>Как в системе</source>
        <translation>Как в системе</translation>
    </message>
    <message>
        <source>Язык сменится при следующем запуске программы.</source>
        <translation>Язык сменится при следующем запуске программы.</translation>
    </message>
    <message>
        <source>Подтверждение калибровки</source>
        <translation>Подтверждение калибровки</translation>
    </message>
    <message>
        <source>Калибровка не начата: не задано образцовое значение канала 0. Введите его в поле «Образец канал 0».</source>
        <translation>Калибровка не начата: не задано образцовое значение канала 0. Введите его в поле «Образец канал 0».</translation>
    </message>
    <message>
        <source>Запись новых калибровочных значений безвозвратно сотрёт старые.
Подтверждаете запись новых значений?</source>
        <translation>Запись новых калибровочных значений безвозвратно сотрёт старые.
Подтверждаете запись новых значений?</translation>
    </message>
    <message>
        <source>Подтверждение сброса калибровки</source>
        <translation>Подтверждение сброса калибровки</translation>
    </message>
    <message>
        <source>Сброс калибровочных значений в 0 безвозвратно сотрёт старые.
Подтверждаете запись новых значений?</source>
        <translation>Сброс калибровочных значений в 0 безвозвратно сотрёт старые.
Подтверждаете запись новых значений?</translation>
    </message>
    <message>
        <source>Установка типа сенсора</source>
        <translation>Установка типа сенсора</translation>
    </message>
    <message>
        <source>Следует выбрать один из типов сенсора</source>
        <translation>Следует выбрать один из типов сенсора</translation>
    </message>
    <message>
        <source>Показать в проводнике</source>
        <translation>Показать в проводнике</translation>
    </message>
    <message>
        <source>Открыть папку в файловом менеджере</source>
        <translation>Открыть папку в файловом менеджере</translation>
    </message>
    <message>
        <source>Показать график</source>
        <translation>Показать график</translation>
    </message>
    <message>
        <source>Последовательный адаптер DS2480B найден. SN=</source>
        <translation>Последовательный адаптер DS2480B найден. SN=</translation>
    </message>
    <message>
        <source>Мастер 1-Wire ядра Linux найден. SN=</source>
        <translation>Мастер 1-Wire ядра Linux найден. SN=</translation>
    </message>
    <message>
        <source>Имитация шины 1-Wire подключена. SN=</source>
        <translation>Имитация шины 1-Wire подключена. SN=</translation>
    </message>
    <message>
        <source>Последовательный адаптер DS2480B не найден.</source>
        <translation>Последовательный адаптер DS2480B не найден.</translation>
    </message>
    <message>
        <source>Мастер 1-Wire ядра Linux не найден.</source>
        <translation>Мастер 1-Wire ядра Linux не найден.</translation>
    </message>
    <message>
        <source>Имитация шины 1-Wire не отвечает.</source>
        <translation>Имитация шины 1-Wire не отвечает.</translation>
    </message>
    <message>
        <source>%1: нет такого порта (подключён ли адаптер?)</source>
        <translation>%1: нет такого порта (подключён ли адаптер?)</translation>
    </message>
    <message>
        <source>%1: адаптер пропал (отключён?)</source>
        <translation>%1: адаптер пропал (отключён?)</translation>
    </message>
    <message>
        <source>%1: DS2480B не отвечает (подключён ли там адаптер 1-Wire?)</source>
        <translation>%1: DS2480B не отвечает (подключён ли там адаптер 1-Wire?)</translation>
    </message>
    <message>
        <source>%1: шина 1-Wire замкнута</source>
        <translation>%1: шина 1-Wire замкнута</translation>
    </message>
    <message>
        <source>%1: не подключён</source>
        <translation>%1: не подключён</translation>
    </message>
    <message>
        <source>%1: нет прав доступа (правило udev 60-orvex.rules, см. руководство)</source>
        <translation>%1: нет прав доступа (правило udev 60-orvex.rules, см. руководство)</translation>
    </message>
    <message>
        <source>%1: занят другой программой</source>
        <translation>%1: занят другой программой</translation>
    </message>
    <message>
        <source>не подключён ни один адаптер USB 1-Wire (DS2490, 04FA:2490)</source>
        <translation>не подключён ни один адаптер USB 1-Wire (DS2490, 04FA:2490)</translation>
    </message>
    <message>
        <source>Адаптер не найден</source>
        <translation>Адаптер не найден</translation>
    </message>
    <message>
        <source>Тревог: %1</source>
        <translation>Тревог: %1</translation>
    </message>
    <message>
        <source>Тревог нет</source>
        <translation>Тревог нет</translation>
    </message>
    <message>
        <source>Пороги тревоги…</source>
        <translation>Пороги тревоги…</translation>
    </message>
    <message>
        <source>Записать пороги в датчик</source>
        <translation>Записать пороги в датчик</translation>
    </message>
    <message>
        <source>Верхний порог TH датчика %1, °C:</source>
        <translation>Верхний порог TH датчика %1, °C:</translation>
    </message>
    <message>
        <source>Нижний порог TL, °C (не выше %1):</source>
        <translation>Нижний порог TL, °C (не выше %1):</translation>
    </message>
    <message>
        <source>Пороги будут записаны в датчик после текущего цикла</source>
        <translation>Пороги будут записаны в датчик после текущего цикла</translation>
    </message>
    <message>
        <source>Пороги тревоги</source>
        <translation>Пороги тревоги</translation>
    </message>
    <message>
        <source>Канал %1
НИЖНИЙ:ВЕРХНИЙ (любой можно не указывать), затем по желанию
hysteresis=ГИСТЕРЕЗИС delay=ПОКАЗАНИЙ nodata=ЦИКЛОВ; пустая строка снимает пороги</source>
        <translation>Канал %1
НИЖНИЙ:ВЕРХНИЙ (любой можно не указывать), затем по желанию
hysteresis=ГИСТЕРЕЗИС delay=ПОКАЗАНИЙ nodata=ЦИКЛОВ; пустая строка снимает пороги</translation>
    </message>
    <message>
        <source>Замер длился %1 с, дольше интервала %2 с: следующий начнётся позже срока</source>
        <translation>Замер длился %1 с, дольше интервала %2 с: следующий начнётся позже срока</translation>
    </message>
    <message>
        <source>Знаки перед каждым номером в заголовке файла измерений (серийный номер 1-Wire, адрес и серийный номер I2C, номера каналов), чтобы табличный редактор читал номер как текст и не терял ведущие нули, например &apos;0B01145C0731AA28. Пустое поле: без знаков.</source>
        <translation>Знаки перед каждым номером в заголовке файла измерений (серийный номер 1-Wire, адрес и серийный номер I2C, номера каналов), чтобы табличный редактор читал номер как текст и не терял ведущие нули, например &apos;0B01145C0731AA28. Пустое поле: без знаков.</translation>
    </message>
    <message>
        <source>Знаки после каждого номера в заголовке файла измерений. Пустое поле: без знаков.</source>
        <translation>Знаки после каждого номера в заголовке файла измерений. Пустое поле: без знаков.</translation>
    </message>
    <message>
        <source>Замеры по сетке интервала (от начала до начала)</source>
        <translation>Замеры по сетке интервала (от начала до начала)</translation>
    </message>
    <message>
        <source>Замер начинается точно через интервал после начала предыдущего, а не через интервал после ближайшего тика после его конца</source>
        <translation>Замер начинается точно через интервал после начала предыдущего, а не через интервал после ближайшего тика после его конца</translation>
    </message>
    <message>
        <source>Публикация MQTT…</source>
        <translation>Публикация MQTT…</translation>
    </message>
    <message>
        <source>Графики</source>
        <translation>Графики</translation>
    </message>
    <message>
        <source>График выбранного канала</source>
        <translation>График выбранного канала</translation>
    </message>
    <message>
        <source>Открыть файлы измерений…</source>
        <translation>Открыть файлы измерений…</translation>
    </message>
    <message>
        <source>Руководство пользователя</source>
        <translation>Руководство пользователя</translation>
    </message>
    <message>
        <source>Руководство пользователя не найдено: %1</source>
        <translation>Руководство пользователя не найдено: %1</translation>
    </message>
    <message>
        <source>Публикация MQTT</source>
        <translation>Публикация MQTT</translation>
    </message>
    <message>
        <source>Показания публикуются брокеру MQTT, когда задан адрес; пустой адрес выключает публикацию. Пароль не хранится в настройках: только файл, первая строка которого — пароль. Изменения применятся при следующем запуске программы.</source>
        <translation>Показания публикуются брокеру MQTT, когда задан адрес; пустой адрес выключает публикацию. Пароль не хранится в настройках: только файл, первая строка которого — пароль. Изменения применятся при следующем запуске программы.</translation>
    </message>
    <message>
        <source>Адрес брокера</source>
        <translation>Адрес брокера</translation>
    </message>
    <message>
        <source>mqtt://узел[:порт][/префикс] или mqtts://… для TLS</source>
        <translation>mqtt://узел[:порт][/префикс] или mqtts://… для TLS</translation>
    </message>
    <message>
        <source>Пользователь</source>
        <translation>Пользователь</translation>
    </message>
    <message>
        <source>Файл пароля</source>
        <translation>Файл пароля</translation>
    </message>
    <message>
        <source>Сертификат CA (PEM)</source>
        <translation>Сертификат CA (PEM)</translation>
    </message>
    <message>
        <source>Пусто: сертификаты системы</source>
        <translation>Пусто: сертификаты системы</translation>
    </message>
    <message>
        <source>Префикс тем</source>
        <translation>Префикс тем</translation>
    </message>
    <message>
        <source>Если в адресе нет пути; по умолчанию orvex</source>
        <translation>Если в адресе нет пути; по умолчанию orvex</translation>
    </message>
    <message>
        <source>Обнаружение в Home Assistant</source>
        <translation>Обнаружение в Home Assistant</translation>
    </message>
    <message>
        <source>файл пароля не читается: %1</source>
        <translation>файл пароля не читается: %1</translation>
    </message>
    <message>
        <source>Настройки MQTT не сохранены: %1</source>
        <translation>Настройки MQTT не сохранены: %1</translation>
    </message>
    <message>
        <source>Настройки MQTT сохранены; они применятся при следующем запуске программы.</source>
        <translation>Настройки MQTT сохранены; они применятся при следующем запуске программы.</translation>
    </message>
    <message>
        <source>Открыть папку</source>
        <translation>Открыть папку</translation>
    </message>
    <message>
        <source>Не найден файловый менеджер, который открыл бы папку:
%1</source>
        <translation>Не найден файловый менеджер, который открыл бы папку:
%1</translation>
    </message>
    <message>
        <source>серийный номер 1-Wire или I2C, тип датчика</source>
        <translation>серийный номер 1-Wire или I2C, тип датчика</translation>
    </message>
    <message>
        <source>Показываются строки, в серийном номере 1-Wire, серийном номере I2C или типе которых есть этот текст (без учёта регистра)</source>
        <translation>Показываются строки, в серийном номере 1-Wire, серийном номере I2C или типе которых есть этот текст (без учёта регистра)</translation>
    </message>
</context>
<context>
    <name>Max31850</name>
    <message>
        <source>ВНИМАНИЕ!</source>
        <translation>ВНИМАНИЕ!</translation>
    </message>
    <message>
        <source>Ошибка значений калибровки. Эталонное значение не задано, калибровка не записана!</source>
        <translation>Ошибка значений калибровки. Эталонное значение не задано, калибровка не записана!</translation>
    </message>
    <message>
        <source>Ошибка значений калибровки. Датчик не дал значения температуры, калибровка не записана!</source>
        <translation>Ошибка значений калибровки. Датчик не дал значения температуры, калибровка не записана!</translation>
    </message>
    <message>
        <source>Ошибка значений калибровки. Смещение не может быть более 5 градусов!</source>
        <translation>Ошибка значений калибровки. Смещение не может быть более 5 градусов!</translation>
    </message>
</context>
<context>
    <name>MeasurementFileReader</name>
    <message>
        <source>Файл «%1», строка %2: %3</source>
        <translation>Файл «%1», строка %2: %3</translation>
    </message>
    <message>
        <source>Файл «%1» пуст или не дописан: в нём нет ни одной целой строки.</source>
        <translation>Файл «%1» пуст или не дописан: в нём нет ни одной целой строки.</translation>
    </message>
    <message>
        <source>заголовок файла не дописан.</source>
        <translation>заголовок файла не дописан.</translation>
    </message>
    <message>
        <source>это не файл измерений (ожидалось «%1»).</source>
        <translation>это не файл измерений (ожидалось «%1»).</translation>
    </message>
    <message>
        <source>заголовок повреждён (%1).</source>
        <translation>заголовок повреждён (%1).</translation>
    </message>
    <message>
        <source>нет номера 1-Wire</source>
        <translation>нет номера 1-Wire</translation>
    </message>
    <message>
        <source>нет адреса I2C</source>
        <translation>нет адреса I2C</translation>
    </message>
    <message>
        <source>неверный серийный номер I2C</source>
        <translation>неверный серийный номер I2C</translation>
    </message>
    <message>
        <source>нет канала мультихаба</source>
        <translation>нет канала мультихаба</translation>
    </message>
    <message>
        <source>нет номера канала датчика</source>
        <translation>нет номера канала датчика</translation>
    </message>
    <message>
        <source>строка повреждена и пропущена</source>
        <translation>строка повреждена и пропущена</translation>
    </message>
    <message>
        <source> (всего повреждённых строк: %1)</source>
        <translation> (всего повреждённых строк: %1)</translation>
    </message>
    <message>
        <source>Файл «%1» не открывается: %2</source>
        <translation>Файл «%1» не открывается: %2</translation>
    </message>
</context>
<context>
    <name>MeasurementSession</name>
    <message>
        <source>Пороги записаны в датчик и сохранены в его EEPROM.</source>
        <translation>Пороги записаны в датчик и сохранены в его EEPROM.</translation>
    </message>
    <message>
        <source>Это не термометр DS18S20/DS18B20 на шине: пороги не записаны.</source>
        <translation>Это не термометр DS18S20/DS18B20 на шине: пороги не записаны.</translation>
    </message>
    <message>
        <source>Последнее показание датчика не прошло проверку: пороги не записаны.</source>
        <translation>Последнее показание датчика не прошло проверку: пороги не записаны.</translation>
    </message>
    <message>
        <source>Преобразователь не найден: пороги не записаны.</source>
        <translation>Преобразователь не найден: пороги не записаны.</translation>
    </message>
    <message>
        <source>Пороги должны быть целыми градусами от −55 до +125 °C, нижний не выше верхнего: не записаны.</source>
        <translation>Пороги должны быть целыми градусами от −55 до +125 °C, нижний не выше верхнего: не записаны.</translation>
    </message>
    <message>
        <source>Датчик не ответил: пороги не записаны.</source>
        <translation>Датчик не ответил: пороги не записаны.</translation>
    </message>
    <message>
        <source>Память датчика прочитана с ошибкой (CRC): пороги не записаны.</source>
        <translation>Память датчика прочитана с ошибкой (CRC): пороги не записаны.</translation>
    </message>
    <message>
        <source>Проверочное чтение не совпало с записанным: пороги не сохранены в EEPROM датчика.</source>
        <translation>Проверочное чтение не совпало с записанным: пороги не сохранены в EEPROM датчика.</translation>
    </message>
    <message>
        <source>Пороги не записаны (код %1).</source>
        <translation>Пороги не записаны (код %1).</translation>
    </message>
</context>
<context>
    <name>MqttConfig</name>
    <message>
        <source>не удалось прочитать файл пароля %1: %2</source>
        <translation>не удалось прочитать файл пароля %1: %2</translation>
    </message>
</context>
<context>
    <name>MqttLink</name>
    <message>
        <source>клиент MQTT не создан</source>
        <translation>клиент MQTT не создан</translation>
    </message>
    <message>
        <source>файл сертификатов ЦС %1 не содержит сертификатов</source>
        <translation>файл сертификатов ЦС %1 не содержит сертификатов</translation>
    </message>
    <message>
        <source>TLS не настраивается: %1</source>
        <translation>TLS не настраивается: %1</translation>
    </message>
    <message>
        <source>файл сертификатов ЦС %1 не читается</source>
        <translation>файл сертификатов ЦС %1 не читается</translation>
    </message>
    <message>
        <source>брокер не ответил за %1 с</source>
        <translation>брокер не ответил за %1 с</translation>
    </message>
    <message>
        <source>брокер не подтверждает сообщения (нет подтверждения за %1 с)</source>
        <translation>брокер не подтверждает сообщения (нет подтверждения за %1 с)</translation>
    </message>
    <message>
        <source>брокер отказал в доступе: неверное имя пользователя или пароль</source>
        <translation>брокер отказал в доступе: неверное имя пользователя или пароль</translation>
    </message>
    <message>
        <source>брокер отказал в доступе: неверное имя пользователя или пароль, или нет прав</source>
        <translation>брокер отказал в доступе: неверное имя пользователя или пароль, или нет прав</translation>
    </message>
    <message>
        <source>брокер отклонил идентификатор клиента</source>
        <translation>брокер отклонил идентификатор клиента</translation>
    </message>
    <message>
        <source>брокер отклонил подключение: </source>
        <translation>брокер отклонил подключение: </translation>
    </message>
    <message>
        <source>ошибка TLS: </source>
        <translation>ошибка TLS: </translation>
    </message>
    <message>
        <source>согласование не удалось</source>
        <translation>согласование не удалось</translation>
    </message>
    <message>
        <source>адрес брокера %1 не найден</source>
        <translation>адрес брокера %1 не найден</translation>
    </message>
    <message>
        <source>нет связи: </source>
        <translation>нет связи: </translation>
    </message>
    <message>
        <source>связь потеряна</source>
        <translation>связь потеряна</translation>
    </message>
    <message>
        <source>брокер перестал отвечать</source>
        <translation>брокер перестал отвечать</translation>
    </message>
    <message>
        <source>брокер закрыл соединение во время согласования (порт без TLS?)</source>
        <translation>брокер закрыл соединение во время согласования (порт без TLS?)</translation>
    </message>
</context>
<context>
    <name>MqttPublisher</name>
    <message>
        <source>MQTT: выключено</source>
        <translation>MQTT: выключено</translation>
    </message>
    <message>
        <source>MQTT: подключение к %1</source>
        <translation>MQTT: подключение к %1</translation>
    </message>
    <message>
        <source>MQTT: подключено к %1</source>
        <translation>MQTT: подключено к %1</translation>
    </message>
    <message>
        <source>MQTT: нет связи с %1 (%2), повторное подключение</source>
        <translation>MQTT: нет связи с %1 (%2), повторное подключение</translation>
    </message>
    <message>
        <source>MQTT: ошибка: %1</source>
        <translation>MQTT: ошибка: %1</translation>
    </message>
    <message>
        <source>; в очереди %1</source>
        <translation>; в очереди %1</translation>
    </message>
    <message>
        <source>; очередь полна (%1), отброшено старых показаний: %2</source>
        <translation>; очередь полна (%1), отброшено старых показаний: %2</translation>
    </message>
    <message>
        <source>; отброшено сообщений, которые брокер не примет: %1</source>
        <translation>; отброшено сообщений, которые брокер не примет: %1</translation>
    </message>
    <message>
        <source>; очередь не записывается: %1</source>
        <translation>; очередь не записывается: %1</translation>
    </message>
    <message>
        <source>; только в памяти, пропадут при остановке: %1</source>
        <translation>; только в памяти, пропадут при остановке: %1</translation>
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
        <translation>  --alarm CHANNEL=LOW:HIGH  пороги тревоги канала (можно повторять): CHANNEL — ROM, как его
                  выводит `read`, затем /SUB для подканала, отличного от 0, и
                  /HUB/ADDRESS за мостом; любая граница может быть пустой; после пробела
                  можно указать hysteresis=H delay=N nodata=N; переходы выводятся
                  в стандартный поток ошибок и в alarms.csv в папке --record
  --alarms FILE   те же строки, по одной в строке (# начинает комментарий)
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
        <translation>использование: orvexctl scan [--bus=VALUE ...] [--verbose]
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
        <translation>  --cycles N      число циклов измерения (по умолчанию 1); 0 — до остановки (SIGTERM, SIGINT):
                  текущий цикл завершается, файлы и очередь дописываются, код выхода 0
  --interval S    секунд от начала одного цикла до начала следующего (по умолчанию 0)
  --fast          только для имитируемой шины: работа в виртуальном времени, без настоящих
                  ожиданий; на последовательной шине — по файлу часов эмулятора адаптера
                  в ORVEX_SHARED_CLOCK (ds2480-emu --clock)
  --start T       с --fast: начало виртуальных часов, местное время yyyy-MM-ddThh:mm:ss
                  (по умолчанию — текущее)
  --help, -h      вывести этот текст и завершить работу; --version: вывести версию и завершить
  --record DIR    записывать файлы измерений в папку DIR (создаётся, если её нет), как окно
  --template TEMPLATE  шаблон имён файлов для --record (по умолчанию — сохранённая настройка
                  Settings/OutFileFormat, иначе %DATE%-%TIME%_%TS%%SC%_%SN1W%_%I2CSNH%_%I2CSNL%_%I2CA%_%MHCH%)
  --verbose       выводить сообщения журнала программы в стандартный поток ошибок
  ports           последовательные порты (или указанные PORT) и отвечает ли на них адаптер DS2480B
  types           типы микросхем, допустимые в файле шины (sim:FILE): семейство по умолчанию
                  и ключи, которые читает каждый тип
</translation>
    </message>
    <message>
        <source>the bus (default: ORVEX_BUS, else %1)</source>
        <translation>шина (по умолчанию: ORVEX_BUS, иначе %1)</translation>
    </message>
    <message>
        <source>, else </source>
        <translation>, иначе </translation>
    </message>
    <message>
        <source>no I2C sensor answers</source>
        <translation>ни один датчик I2C не отвечает</translation>
    </message>
    <message>
        <source>cycle %1</source>
        <translation>цикл %1</translation>
    </message>
    <message>
        <source>no serial ports</source>
        <translation>нет последовательных портов</translation>
    </message>
    <message>
        <source>--cycles takes a whole number from 0 (0: until stopped)</source>
        <translation>--cycles: нужно целое число от 0 (0 — до остановки)</translation>
    </message>
    <message>
        <source>--interval takes whole seconds from 0 to 86400</source>
        <translation>--interval: нужно целое число секунд от 0 до 86400</translation>
    </message>
    <message>
        <source>--start takes a local time yyyy-MM-ddThh:mm:ss</source>
        <translation>--start: нужно местное время в виде yyyy-MM-ddThh:mm:ss</translation>
    </message>
    <message>
        <source>--record takes a folder</source>
        <translation>--record: нужна папка</translation>
    </message>
    <message>
        <source>--template takes a file-name template</source>
        <translation>--template: нужен шаблон имён файлов</translation>
    </message>
    <message>
        <source>unknown option &quot;%1&quot;</source>
        <translation>неизвестный параметр «%1»</translation>
    </message>
    <message>
        <source>--start needs --fast</source>
        <translation>--start требует --fast</translation>
    </message>
    <message>
        <source>--start takes a local time yyyy-MM-ddThh:mm:ss, not &quot;%1&quot;</source>
        <translation>--start: нужно местное время в виде yyyy-MM-ddThh:mm:ss, а не «%1»</translation>
    </message>
    <message>
        <source>--template needs --record</source>
        <translation>--template требует --record</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is no folder and cannot be made one</source>
        <translation>«%1» — не папка, и создать её нельзя</translation>
    </message>
    <message>
        <source>made the folder &quot;%1&quot;</source>
        <translation>создана папка «%1»</translation>
    </message>
    <message>
        <source>--fast needs a simulated bus, or the emulated adapter&apos;s clock file in ORVEX_SHARED_CLOCK</source>
        <translation>--fast требует имитируемой шины или файла часов эмулятора адаптера в ORVEX_SHARED_CLOCK</translation>
    </message>
    <message>
        <source>no command</source>
        <translation>не указана команда</translation>
    </message>
    <message>
        <source>unknown command &quot;%1&quot;</source>
        <translation>неизвестная команда «%1»</translation>
    </message>
    <message>
        <source>thresholds takes a ROM and TL:TH in whole degrees, e.g. 28FF641E1D160300 10:30</source>
        <translation>thresholds: нужны ROM и TL:TH в целых градусах, например 28FF641E1D160300 10:30</translation>
    </message>
    <message>
        <source>the driver</source>
        <translation>драйвер</translation>
    </message>
    <message>
        <source>the one USB adapter when exactly one is plugged in</source>
        <translation>USB-адаптер, если подключён ровно один</translation>
    </message>
    <message>
        <source>the kernel&apos;s 1-Wire master when it has exactly one</source>
        <translation>мастер 1-Wire ядра, если он ровно один</translation>
    </message>
    <message>
        <source>  --metrics [ADDRESS:]PORT  serve /metrics for Prometheus; the address defaults
                     to 127.0.0.1
</source>
        <translation>  --metrics [ADDRESS:]PORT  отдавать /metrics для Prometheus; адрес по умолчанию
                     127.0.0.1
</translation>
    </message>
    <message>
        <source>  --owserver [ADDRESS:]PORT  serve the latest readings over the owserver protocol
                     (owread, owdir, Home Assistant); the address defaults to
                     127.0.0.1, the protocol&apos;s usual port is 4304
</source>
        <translation>  --owserver [ADDRESS:]PORT  отдавать последние показания по протоколу owserver
                     (owread, owdir, Home Assistant); адрес по умолчанию
                     127.0.0.1, обычный порт протокола — 4304
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
        <translation>  --mqtt URL      публиковать каждое показание на брокере MQTT mqtt://host[:port][/prefix]
                  (mqtts:// для TLS)
  --no-discovery  без сообщений обнаружения Home Assistant
  --mqtt-client-id ID, --mqtt-user NAME, --mqtt-password-file FILE, --mqtt-ca FILE
                  идентификатор клиента, имя пользователя, файл с паролем
                  (иначе ORVEX_MQTT_PASSWORD), сертификаты УЦ брокера для mqtts
  --mqtt-queue DIR  папка очереди, которая копится, пока брокер недоступен
  --mqtt-wait S   в конце ждать до S секунд, пока брокер примет очередь (по умолчанию 5)
</translation>
    </message>
    <message>
        <source>the demo bus</source>
        <translation>демонстрационная шина</translation>
    </message>
    <message>
        <source>  --web [ADDRESS:]PORT  serve the live web page and its JSON API; the address
                     defaults to 127.0.0.1
  --web-passwords FILE  USER:HASH lines (crypt hashes) of those who may change
                     alarm limits from the page; without it the page is
                     read-only
</source>
        <translation>  --web [ADDRESS:]PORT  отдавать живую веб-страницу и её JSON API; адрес по умолчанию
                     127.0.0.1
  --web-passwords FILE  строки ПОЛЬЗОВАТЕЛЬ:ХЕШ (хеши crypt) тех, кто может менять
                     пороги тревог со страницы; без него страница только для чтения
</translation>
    </message>
    <message>
        <source>web page on http://%1/</source>
        <translation>веб-страница: http://%1/</translation>
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
        <translation>коды выхода: 0 — выполнено; 1 — адаптер не открылся (ports: ни один DS2480B не ответил);
  2 — неверный параметр, шина или файл (нечитаемый файл пароля MQTT или файл УЦ, файл УЦ без
  сертификата, очередь занята); 3 — брокер MQTT отверг учётные данные или не удалось установить
  TLS, 4 — брокер MQTT вообще недоступен: показания остаются в очереди; 5 — показания не
  доставлены: брокер не принял их все за время ожидания в конце (они остаются в очереди) или
  очередь не смогла сохранить часть из них (они потеряны); запуск, остановленный сигналом,
  завершается с кодом 0, если всё недоставленное осталось в очереди; 6 — пороги не записаны в
  термометр; 7 — в папку --record записаны не все показания (сколько — сказано в stderr)
</translation>
    </message>
    <message>
        <source>not read: the adapter did not open</source>
        <translation>не прочитано: адаптер не открылся</translation>
    </message>
    <message>
        <source>not read: the adapter was lost during the cycle</source>
        <translation>не прочитано: адаптер пропал во время цикла</translation>
    </message>
    <message>
        <source>not read: not found by this cycle&apos;s search</source>
        <translation>не прочитано: не найдено поиском в этом цикле</translation>
    </message>
    <message>
        <source>not read: the device did not answer</source>
        <translation>не прочитано: устройство не ответило</translation>
    </message>
    <message>
        <source>not read in this cycle</source>
        <translation>не прочитано в этом цикле</translation>
    </message>
    <message>
        <source>the adapter was lost during the cycle</source>
        <translation>адаптер пропал во время цикла</translation>
    </message>
    <message numerus="yes">
        <source>%n reading(s) could not be written</source>
        <translation>
            <numerusform>не записано показаний: %n</numerusform>
            <numerusform>не записано показаний: %n</numerusform>
            <numerusform>не записано показаний: %n</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>PublishQueue</name>
    <message>
        <source>не удалось создать папку очереди %1</source>
        <translation>не удалось создать папку очереди %1</translation>
    </message>
    <message>
        <source>очередь %1 занята другой программой (%2, pid %3)</source>
        <translation>очередь %1 занята другой программой (%2, pid %3)</translation>
    </message>
    <message>
        <source>нет доступа к очереди %1</source>
        <translation>нет доступа к очереди %1</translation>
    </message>
    <message>
        <source>не удалось прочитать очередь %1: %2</source>
        <translation>не удалось прочитать очередь %1: %2</translation>
    </message>
    <message>
        <source>очередь %1 хранит %2 сообщ. для %3; укажите для %4 другую папку очереди</source>
        <translation>очередь %1 хранит %2 сообщ. для %3; укажите для %4 другую папку очереди</translation>
    </message>
</context>
<context>
    <name>Recorder</name>
    <message>
        <source>Шаблон даёт одно имя файла нескольким каналам (%1): каналов с добавленным серийным номером: %2</source>
        <translation>Шаблон даёт одно имя файла нескольким каналам (%1): каналов с добавленным серийным номером: %2</translation>
    </message>
    <message>
        <source>Ошибка записи файла </source>
        <translation>Ошибка записи файла </translation>
    </message>
    <message>
        <source> (файлов с ошибкой: </source>
        <translation> (файлов с ошибкой: </translation>
    </message>
</context>
<context>
    <name>Sensor</name>
    <message>
        <source>нет ответа</source>
        <translation>нет ответа</translation>
    </message>
    <message>
        <source>ошибка CRC</source>
        <translation>ошибка CRC</translation>
    </message>
    <message>
        <source>нет преобразования (значение при включении)</source>
        <translation>нет преобразования (значение при включении)</translation>
    </message>
    <message>
        <source>обрыв термопары</source>
        <translation>обрыв термопары</translation>
    </message>
    <message>
        <source>замыкание термопары на землю (GND)</source>
        <translation>замыкание термопары на землю (GND)</translation>
    </message>
    <message>
        <source>замыкание термопары на питание (VCC)</source>
        <translation>замыкание термопары на питание (VCC)</translation>
    </message>
    <message>
        <source>неисправность термопары</source>
        <translation>неисправность термопары</translation>
    </message>
    <message>
        <source>напряжение термопары вне таблицы</source>
        <translation>напряжение термопары вне таблицы</translation>
    </message>
    <message>
        <source>нет значения (причина в журнале)</source>
        <translation>нет значения (причина в журнале)</translation>
    </message>
    <message>
        <source>счётчик пошёл назад</source>
        <translation>счётчик пошёл назад</translation>
    </message>
    <message>
        <source>нет сильной подтяжки для преобразования (питание от линии данных)</source>
        <translation>нет сильной подтяжки для преобразования (питание от линии данных)</translation>
    </message>
</context>
<context>
    <name>SensorType</name>
    <message>
        <source>DS18S20 Temperature sensor</source>
        <translation>DS18S20, датчик температуры</translation>
    </message>
    <message>
        <source>DS18B20 Temperature sensor</source>
        <translation>DS18B20, датчик температуры</translation>
    </message>
    <message>
        <source>MAX31850 Temperature sensor</source>
        <translation>MAX31850, термопара</translation>
    </message>
    <message>
        <source>MAX31850 Thermocouple Cold-Junction sensor</source>
        <translation>MAX31850, холодный спай термопары</translation>
    </message>
    <message>
        <source>MAX31850 Emulator</source>
        <translation>MAX31850, эмулятор</translation>
    </message>
    <message>
        <source>MAX31850 Emulator Pt100</source>
        <translation>MAX31850, эмулятор Pt100</translation>
    </message>
    <message>
        <source>MAX31850 Emulator 100П</source>
        <translation>MAX31850, эмулятор 100П</translation>
    </message>
    <message>
        <source>MAX31850 Emulator Thermocouple Cold-Junction sensor</source>
        <translation>MAX31850, эмулятор, холодный спай</translation>
    </message>
    <message>
        <source>SHT3x temperature channel</source>
        <translation>SHT3x, температура</translation>
    </message>
    <message>
        <source>SHT3x humidity channel</source>
        <translation>SHT3x, влажность</translation>
    </message>
    <message>
        <source>STS3x temperature channel</source>
        <translation>STS3x, температура</translation>
    </message>
    <message>
        <source>HDC1080 temperature channel</source>
        <translation>HDC1080, температура</translation>
    </message>
    <message>
        <source>HDC1080 humidity channel</source>
        <translation>HDC1080, влажность</translation>
    </message>
    <message>
        <source>BMP280 pressure channel</source>
        <translation>BMP280, давление</translation>
    </message>
    <message>
        <source>BMP280 temperature channel</source>
        <translation>BMP280, температура</translation>
    </message>
    <message>
        <source>D6F OMRON pressure channel</source>
        <translation>D6F OMRON, перепад давления</translation>
    </message>
    <message>
        <source>D6F OMRON temperature channel</source>
        <translation>D6F OMRON, температура</translation>
    </message>
    <message>
        <source>SDC30 CO2 channel</source>
        <translation>SDC30, CO2</translation>
    </message>
    <message>
        <source>SDC30 temperature channel</source>
        <translation>SDC30, температура</translation>
    </message>
    <message>
        <source>SDC30 humidity channel</source>
        <translation>SDC30, влажность</translation>
    </message>
    <message>
        <source>DS1822 Temperature sensor</source>
        <translation>DS1822, датчик температуры</translation>
    </message>
    <message>
        <source>DS28EA00 Temperature sensor</source>
        <translation>DS28EA00, датчик температуры</translation>
    </message>
    <message>
        <source>DS1825 Temperature sensor</source>
        <translation>DS1825, датчик температуры</translation>
    </message>
    <message>
        <source>DS2438 Temperature sensor</source>
        <translation>DS2438, температура</translation>
    </message>
    <message>
        <source>DS2438 Supply voltage VDD</source>
        <translation>DS2438, напряжение питания VDD</translation>
    </message>
    <message>
        <source>DS2438 A/D input voltage VAD</source>
        <translation>DS2438, напряжение на входе VAD</translation>
    </message>
    <message>
        <source>DS2438 Current sense voltage</source>
        <translation>DS2438, напряжение на датчике тока</translation>
    </message>
    <message>
        <source>DS2438 Humidity (HIH-4000)</source>
        <translation>DS2438, влажность (HIH-4000)</translation>
    </message>
    <message>
        <source>DS2450 A/D input A</source>
        <translation>DS2450, вход АЦП A</translation>
    </message>
    <message>
        <source>DS2450 A/D input B</source>
        <translation>DS2450, вход АЦП B</translation>
    </message>
    <message>
        <source>DS2450 A/D input C</source>
        <translation>DS2450, вход АЦП C</translation>
    </message>
    <message>
        <source>DS2450 A/D input D</source>
        <translation>DS2450, вход АЦП D</translation>
    </message>
    <message>
        <source>DS2423 Counter A</source>
        <translation>DS2423, счётчик A</translation>
    </message>
    <message>
        <source>DS2423 Counter B</source>
        <translation>DS2423, счётчик B</translation>
    </message>
    <message>
        <source>DS2413 PIO A sensed</source>
        <translation>DS2413, вход PIO A</translation>
    </message>
    <message>
        <source>DS2413 PIO B sensed</source>
        <translation>DS2413, вход PIO B</translation>
    </message>
    <message>
        <source>DS2413 PIO A output on</source>
        <translation>DS2413, выход PIO A включён</translation>
    </message>
    <message>
        <source>DS2413 PIO B output on</source>
        <translation>DS2413, выход PIO B включён</translation>
    </message>
    <message>
        <source>DS2408 PIO 0 sensed</source>
        <translation>DS2408, вход PIO 0</translation>
    </message>
    <message>
        <source>DS2408 PIO 1 sensed</source>
        <translation>DS2408, вход PIO 1</translation>
    </message>
    <message>
        <source>DS2408 PIO 2 sensed</source>
        <translation>DS2408, вход PIO 2</translation>
    </message>
    <message>
        <source>DS2408 PIO 3 sensed</source>
        <translation>DS2408, вход PIO 3</translation>
    </message>
    <message>
        <source>DS2408 PIO 4 sensed</source>
        <translation>DS2408, вход PIO 4</translation>
    </message>
    <message>
        <source>DS2408 PIO 5 sensed</source>
        <translation>DS2408, вход PIO 5</translation>
    </message>
    <message>
        <source>DS2408 PIO 6 sensed</source>
        <translation>DS2408, вход PIO 6</translation>
    </message>
    <message>
        <source>DS2408 PIO 7 sensed</source>
        <translation>DS2408, вход PIO 7</translation>
    </message>
    <message>
        <source>DS2408 PIO 0 activity latch</source>
        <translation>DS2408, защёлка активности PIO 0</translation>
    </message>
    <message>
        <source>DS2408 PIO 1 activity latch</source>
        <translation>DS2408, защёлка активности PIO 1</translation>
    </message>
    <message>
        <source>DS2408 PIO 2 activity latch</source>
        <translation>DS2408, защёлка активности PIO 2</translation>
    </message>
    <message>
        <source>DS2408 PIO 3 activity latch</source>
        <translation>DS2408, защёлка активности PIO 3</translation>
    </message>
    <message>
        <source>DS2408 PIO 4 activity latch</source>
        <translation>DS2408, защёлка активности PIO 4</translation>
    </message>
    <message>
        <source>DS2408 PIO 5 activity latch</source>
        <translation>DS2408, защёлка активности PIO 5</translation>
    </message>
    <message>
        <source>DS2408 PIO 6 activity latch</source>
        <translation>DS2408, защёлка активности PIO 6</translation>
    </message>
    <message>
        <source>DS2408 PIO 7 activity latch</source>
        <translation>DS2408, защёлка активности PIO 7</translation>
    </message>
    <message>
        <source>, address %1</source>
        <translation>, адрес %1</translation>
    </message>
</context>
<context>
    <name>SensorUnit</name>
    <message>
        <source>count</source>
        <translation>имп.</translation>
    </message>
</context>
<context>
    <name>TableMan</name>
    <message>
        <source>Серийный номер 1W</source>
        <translation>Серийный номер 1W</translation>
    </message>
    <message>
        <source>Канал
датчика</source>
        <translation>Канал
датчика</translation>
    </message>
    <message>
        <source>Мультихаб
Номер
канала</source>
        <translation>Канал
мультихаба</translation>
    </message>
    <message>
        <source>Тип</source>
        <translation>Тип</translation>
    </message>
    <message>
        <source>Значение</source>
        <translation>Значение</translation>
    </message>
    <message>
        <source>Калибровочное смещение</source>
        <translation>Калибровочное смещение</translation>
    </message>
    <message>
        <source>Ед.изм.</source>
        <translation>Ед.изм.</translation>
    </message>
    <message>
        <source>Отклон. канал 0</source>
        <translation>Отклон. канал 0</translation>
    </message>
    <message>
        <source>Отклон. канал 1</source>
        <translation>Отклон. канал 1</translation>
    </message>
    <message>
        <source>Имя файла</source>
        <translation>Имя файла</translation>
    </message>
    <message>
        <source>время неизвестно</source>
        <translation>время неизвестно</translation>
    </message>
    <message>
        <source>Датчик не ответил в последнем цикле; последнее показание: %1 (%2)</source>
        <translation>Датчик не ответил в последнем цикле; последнее показание: %1 (%2)</translation>
    </message>
    <message>
        <source>Нет значения: %1 (попытка %2)</source>
        <translation>Нет значения: %1 (попытка %2)</translation>
    </message>
    <message>
        <source>причина неизвестна</source>
        <translation>причина неизвестна</translation>
    </message>
    <message>
        <source>Показание устарело: получено %1, новых нет дольше двух интервалов</source>
        <translation>Показание устарело: получено %1, новых нет дольше двух интервалов</translation>
    </message>
    <message>
        <source>▲ ВЫШЕ ПОРОГА</source>
        <translation>▲ ВЫШЕ ПОРОГА</translation>
    </message>
    <message>
        <source>▼ НИЖЕ ПОРОГА</source>
        <translation>▼ НИЖЕ ПОРОГА</translation>
    </message>
    <message>
        <source>⚠ НЕТ ДАННЫХ</source>
        <translation>⚠ НЕТ ДАННЫХ</translation>
    </message>
    <message>
        <source>нижний %1</source>
        <translation>нижний %1</translation>
    </message>
    <message>
        <source>верхний %1</source>
        <translation>верхний %1</translation>
    </message>
    <message>
        <source>гистерезис %1</source>
        <translation>гистерезис %1</translation>
    </message>
    <message numerus="yes">
        <source>задержка %n показаний</source>
        <translation>
            <numerusform>задержка %n показаний</numerusform>
            <numerusform>задержка %n показаний</numerusform>
            <numerusform>задержка %n показаний</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>нет данных после %n циклов</source>
        <translation>
            <numerusform>нет данных после %n циклов</numerusform>
            <numerusform>нет данных после %n циклов</numerusform>
            <numerusform>нет данных после %n циклов</numerusform>
        </translation>
    </message>
    <message>
        <source>Пороги тревоги: %1</source>
        <translation>Пороги тревоги: %1</translation>
    </message>
    <message>
        <source>аппаратная тревога</source>
        <translation>аппаратная тревога</translation>
    </message>
    <message>
        <source>Пороги датчика: TL %1 °C, TH %2 °C</source>
        <translation>Пороги датчика: TL %1 °C, TH %2 °C</translation>
    </message>
    <message>
        <source>Аппаратная тревога: последнее преобразование вышло за пороги датчика</source>
        <translation>Аппаратная тревога: последнее преобразование вышло за пороги датчика</translation>
    </message>
</context>
<context>
    <name>TrendPlot</name>
    <message>
        <source>Нет каналов: добавьте канал или откройте файлы измерений</source>
        <translation>Нет каналов: добавьте канал или откройте файлы измерений</translation>
    </message>
    <message>
        <source>нет данных</source>
        <translation>нет данных</translation>
    </message>
    <message>
        <source>Образец канал %1: %2</source>
        <translation>Образец канал %1: %2</translation>
    </message>
    <message>
        <source>ошибка чтения (</source>
        <translation>ошибка чтения (</translation>
    </message>
</context>
<context>
    <name>WebPage</name>
    <message>
        <source>Орвекс</source>
        <translation>Орвекс</translation>
    </message>
    <message>
        <source>Показания</source>
        <translation>Показания</translation>
    </message>
    <message>
        <source>Шины</source>
        <translation>Шины</translation>
    </message>
    <message>
        <source>Серийный номер 1W</source>
        <translation>Серийный номер 1W</translation>
    </message>
    <message>
        <source>Канал датчика</source>
        <translation>Канал датчика</translation>
    </message>
    <message>
        <source>Канал мультихаба</source>
        <translation>Канал мультихаба</translation>
    </message>
    <message>
        <source>Серийный номер I2C</source>
        <translation>Серийный номер I2C</translation>
    </message>
    <message>
        <source>Тип</source>
        <translation>Тип</translation>
    </message>
    <message>
        <source>Значение</source>
        <translation>Значение</translation>
    </message>
    <message>
        <source>Время</source>
        <translation>Время</translation>
    </message>
    <message>
        <source>Тревога</source>
        <translation>Тревога</translation>
    </message>
    <message>
        <source>Последовательный адаптер DS2480B</source>
        <translation>Последовательный адаптер DS2480B</translation>
    </message>
    <message>
        <source>Преобразователь USB</source>
        <translation>Преобразователь USB</translation>
    </message>
    <message>
        <source>Мастер 1-Wire ядра Linux</source>
        <translation>Мастер 1-Wire ядра Linux</translation>
    </message>
    <message>
        <source>Имитация шины 1-Wire</source>
        <translation>Имитация шины 1-Wire</translation>
    </message>
    <message>
        <source>Драйвер TMEX</source>
        <translation>Драйвер TMEX</translation>
    </message>
    <message>
        <source>на связи</source>
        <translation>на связи</translation>
    </message>
    <message>
        <source>нет связи</source>
        <translation>нет связи</translation>
    </message>
    <message>
        <source>последний цикл: %1 мс</source>
        <translation>последний цикл: %1 мс</translation>
    </message>
    <message>
        <source>ещё ни одного цикла</source>
        <translation>ещё ни одного цикла</translation>
    </message>
    <message>
        <source>норма</source>
        <translation>норма</translation>
    </message>
    <message>
        <source>выше верхнего порога</source>
        <translation>выше верхнего порога</translation>
    </message>
    <message>
        <source>ниже нижнего порога</source>
        <translation>ниже нижнего порога</translation>
    </message>
    <message>
        <source>нет данных</source>
        <translation>нет данных</translation>
    </message>
    <message>
        <source>не прочитан в последнем цикле</source>
        <translation>не прочитан в последнем цикле</translation>
    </message>
    <message>
        <source>нет ответа</source>
        <translation>нет ответа</translation>
    </message>
    <message>
        <source>ошибка CRC</source>
        <translation>ошибка CRC</translation>
    </message>
    <message>
        <source>нет преобразования</source>
        <translation>нет преобразования</translation>
    </message>
    <message>
        <source>обрыв термопары</source>
        <translation>обрыв термопары</translation>
    </message>
    <message>
        <source>замыкание термопары на землю</source>
        <translation>замыкание термопары на землю</translation>
    </message>
    <message>
        <source>замыкание термопары на питание</source>
        <translation>замыкание термопары на питание</translation>
    </message>
    <message>
        <source>неисправность термопары</source>
        <translation>неисправность термопары</translation>
    </message>
    <message>
        <source>напряжение термопары вне таблицы</source>
        <translation>напряжение термопары вне таблицы</translation>
    </message>
    <message>
        <source>ошибка чтения</source>
        <translation>ошибка чтения</translation>
    </message>
    <message>
        <source>Графики</source>
        <translation>Графики</translation>
    </message>
    <message>
        <source>Добавить график</source>
        <translation>Добавить график</translation>
    </message>
    <message>
        <source>Убрать</source>
        <translation>Убрать</translation>
    </message>
    <message>
        <source>Час</source>
        <translation>Час</translation>
    </message>
    <message>
        <source>Сутки</source>
        <translation>Сутки</translation>
    </message>
    <message>
        <source>Неделя</source>
        <translation>Неделя</translation>
    </message>
    <message>
        <source>Нет показаний за этот промежуток</source>
        <translation>Нет показаний за этот промежуток</translation>
    </message>
    <message>
        <source>Из файлов: %1</source>
        <translation>Из файлов: %1</translation>
    </message>
    <message>
        <source>Показания этого запуска</source>
        <translation>Показания этого запуска</translation>
    </message>
    <message>
        <source>Графики не рисуются: не установлен пакет libjs-chart.js.</source>
        <translation>Графики не рисуются: не установлен пакет libjs-chart.js.</translation>
    </message>
    <message>
        <source>Тревоги</source>
        <translation>Тревоги</translation>
    </message>
    <message>
        <source>Действующие</source>
        <translation>Действующие</translation>
    </message>
    <message>
        <source>Тревог нет</source>
        <translation>Тревог нет</translation>
    </message>
    <message>
        <source>Последние переходы</source>
        <translation>Последние переходы</translation>
    </message>
    <message>
        <source>Переходов не было</source>
        <translation>Переходов не было</translation>
    </message>
    <message>
        <source>Дата</source>
        <translation>Дата</translation>
    </message>
    <message>
        <source>Канал</source>
        <translation>Канал</translation>
    </message>
    <message>
        <source>Состояние</source>
        <translation>Состояние</translation>
    </message>
    <message>
        <source>Порог</source>
        <translation>Порог</translation>
    </message>
    <message>
        <source>Пороги</source>
        <translation>Пороги</translation>
    </message>
    <message>
        <source>без порогов</source>
        <translation>без порогов</translation>
    </message>
    <message>
        <source>Изменить пороги</source>
        <translation>Изменить пороги</translation>
    </message>
    <message>
        <source>Пороги канала %1: НИЖНИЙ:ВЕРХНИЙ, затем по желанию hysteresis=H delay=N nodata=N; пусто — снять пороги</source>
        <translation>Пороги канала %1: НИЖНИЙ:ВЕРХНИЙ, затем по желанию hysteresis=H delay=N nodata=N; пусто — снять пороги</translation>
    </message>
    <message>
        <source>Пороги приняты и действуют со следующего показания.</source>
        <translation>Пороги приняты и действуют со следующего показания.</translation>
    </message>
    <message>
        <source>Пороги не приняты: %1</source>
        <translation>Пороги не приняты: %1</translation>
    </message>
    <message>
        <source>Нет связи со станцией, повторяю…</source>
        <translation>Нет связи со станцией, повторяю…</translation>
    </message>
    <message>
        <source>Обновлено: %1</source>
        <translation>Обновлено: %1</translation>
    </message>
    <message>
        <source>счётчик пошёл назад</source>
        <translation>счётчик пошёл назад</translation>
    </message>
    <message>
        <source>нет сильной подтяжки для преобразования</source>
        <translation>нет сильной подтяжки для преобразования</translation>
    </message>
</context>
<context>
    <name>W1Master</name>
    <message>
        <source>нет доступа к netlink: %1</source>
        <translation>нет доступа к netlink: %1</translation>
    </message>
    <message>
        <source>питание от линии данных: %1</source>
        <translation>питание от линии данных: %1</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Программа не может начать работу:
</source>
        <translation>Программа не может начать работу:
</translation>
    </message>
    <message>
        <source>нет дисплея (не заданы DISPLAY и WAYLAND_DISPLAY), окно не откроется; шину можно прочитать в терминале: %1</source>
        <translation>нет дисплея (не заданы DISPLAY и WAYLAND_DISPLAY), окно не откроется; шину можно прочитать в терминале: %1</translation>
    </message>
</context>
</TS>
