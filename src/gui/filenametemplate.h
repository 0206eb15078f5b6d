#pragma once

#include "model/sensordevice.h"

#include <QWidget>

class Recorder;

namespace Ui {
class FileNameTemplate;
}

// The window in which the operator edits the file-name template: four
// presets, a live example name built from a fixed example channel, and OK,
// which cleans the template and stores it in the Recorder, AppState and the
// settings. Opens with AppState's template; non-modal; closing hides it.
class FileNameTemplate : public QWidget
{
    Q_OBJECT
public:
    // `recorder` (may be null) takes the template on OK; the preview warns
    // when the template would give channels of `devices` (may be null, read
    // at each change of the text) the same file name.
    explicit FileNameTemplate(Recorder *recorder = nullptr, const QVector<SensorDevice *> *devices = nullptr,
                              QWidget *parent = nullptr);
    ~FileNameTemplate() override;

    // The example name as shown, with the warning about shared names if any.
    QString previewText() const;

private slots:
    void on_rb1WTemplate_clicked();
    void on_rbI2CTemplate_clicked();
    void on_rbDefaltTemplate_clicked();
    void on_rbFullDefaultTemplate_clicked();
    void on_edtFileTemplateName_textChanged(const QString &arg1);
    void on_btnOk_clicked();
    void on_btnCancel_clicked();

private:
    Ui::FileNameTemplate *ui;
    Recorder *m_recorder;
    const QVector<SensorDevice *> *m_devices;
    // A channel with every token filled, for the preview only.
    SensorDevice exampleDevice;
};
