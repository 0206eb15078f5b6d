#include "gui/filenametemplate.h"

#include "base/appsettings.h"
#include "base/clock.h"
#include "gui/dialogs.h"
#include "table/recorder.h"
#include "ui_filenametemplate.h"

#include <QCoreApplication>
#include <QLayout>
#include <QPointer>
#include <QSettings>

FileNameTemplate::FileNameTemplate(const QString &nameTemplate, const QDateTime &startTime,
                                   const QVector<SensorDevice *> *devices, Dialogs *dialogs, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::FileNameTemplate)
    , m_ownDialogs(dialogs ? nullptr : std::make_unique<Dialogs>())
    , m_dialogs(dialogs ? dialogs : m_ownDialogs.get())
    , m_startTime(startTime)
    , m_devices(devices)
{
    ui->setupUi(this);
    ui->lblResultat->setWordWrap(true);

    exampleDevice.key = 0x2C000003A8551994ull;
    for (int i = 0; i < 8; ++i)
        exampleDevice.rom.append(short((exampleDevice.key >> (8 * i)) & 0xFF));
    SensorChannel channel;
    channel.value = 0;
    channel.rangeMax = 125.0;
    channel.rangeMin = -40.0;
    channel.unit = QStringLiteral("C");
    channel.type = QStringLiteral("DS18S20 Temperature sensor");
    channel.mark = QStringLiteral("T");
    channel.i2cSerialLow = 0x35;
    channel.i2cAddress = 0xEE;
    channel.hubChannel = 3;
    channel.subchannel = 1;
    channel.updated = 1;
    channel.time = Clock::now();
    exampleDevice.channels.append(channel);

    ui->edtFileTemplateName->setText(nameTemplate);
}

FileNameTemplate::~FileNameTemplate()
{
    delete ui;
}

void FileNameTemplate::on_rb1WTemplate_clicked()
{
    ui->edtFileTemplateName->setText(QString::fromLatin1(Recorder::OneWireTemplate));
}

void FileNameTemplate::on_rbI2CTemplate_clicked()
{
    ui->edtFileTemplateName->setText(QString::fromLatin1(Recorder::I2cTemplate));
}

void FileNameTemplate::on_rbDefaltTemplate_clicked()
{
    ui->edtFileTemplateName->setText(QString::fromLatin1(Recorder::ShortDefaultTemplate));
}

void FileNameTemplate::on_rbFullDefaultTemplate_clicked()
{
    ui->edtFileTemplateName->setText(QString::fromLatin1(Recorder::FullDefaultTemplate));
}

// Shows the name as typed; an empty entry keeps the last example.
void FileNameTemplate::on_edtFileTemplateName_textChanged(const QString &arg1)
{
    if (arg1.isEmpty())
        return;
    QString text = Recorder::expandTemplate(arg1, exampleDevice, 0, m_startTime);
    const QStringList shared =
        m_devices ? Recorder::sharedNames(arg1, *m_devices, m_startTime) : QStringList();
    if (!shared.isEmpty()) {
        // What the recorder will do about it, said before it happens.
        text += tr("\nВнимание: у нескольких подключённых каналов одно имя (%1); "
                               "к имени каждого следующего добавится его серийный номер 1-Wire и номер канала.")
                    .arg(shared.mid(0, 3).join(QStringLiteral(", ")) + (shared.size() > 3 ? QStringLiteral(", …") : QString()));
    }
    ui->lblResultat->setText(text);
    fitPreview();
}

void FileNameTemplate::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    fitPreview();
}

void FileNameTemplate::fitPreview()
{
    QLayout *grid = layout();
    if (!grid || !grid->hasHeightForWidth())
        return;
    grid->activate();
    const int needed = grid->totalHeightForWidth(width());
    if (needed > height())
        resize(width(), needed);
}

QString FileNameTemplate::previewText() const
{
    return ui->lblResultat->text();
}

void FileNameTemplate::on_btnOk_clicked()
{
    if (ui->edtFileTemplateName->text().trimmed().isEmpty())
        ui->edtFileTemplateName->setText(QString::fromLatin1(Recorder::FullDefaultTemplate));
    QString text = ui->edtFileTemplateName->text();
    Recorder::sanitizeTemplate(text);
    appSettings().setValue(QStringLiteral("Settings/OutFileFormat"), text);
    emit templateChosen(text);
    // The window closes when the operator has read the note; measuring goes
    // on meanwhile.
    const QPointer<FileNameTemplate> self(this);
    m_dialogs->ask(this, DialogRequest::message(QMessageBox::Information, tr("Информация"),
                                              tr("Шаблон применяется со следующего замера: новые показания пишутся в файлы с новыми именами.")),
                 [self](const DialogAnswer &) {
                     if (self)
                         self->close();
                 });
}

void FileNameTemplate::on_btnCancel_clicked()
{
    close();
}
