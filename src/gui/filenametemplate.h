#pragma once

#include "model/sensordevice.h"

#include <QDateTime>
#include <QWidget>
#include <memory>

class Dialogs;

namespace Ui {
class FileNameTemplate;
}

// The window in which the operator edits the file-name template: four
// presets, a live example name built from a fixed example channel, and OK,
// which cleans the template, stores it in the settings and hands it to the
// owner (templateChosen). Non-modal; closing hides it.
class FileNameTemplate : public QWidget
{
    Q_OBJECT
public:
    // Opens with `nameTemplate`; the preview names a run started at
    // `startTime` and warns when the template would give channels of
    // `devices` (may be null, read at each change of the text) the same file
    // name. Its note asks through `dialogs` (null: the real ones; must
    // outlive the window).
    FileNameTemplate(const QString &nameTemplate, const QDateTime &startTime,
                     const QVector<SensorDevice *> *devices = nullptr, Dialogs *dialogs = nullptr,
                     QWidget *parent = nullptr);
    ~FileNameTemplate() override;

    // The example name as shown, with the warning about shared names if any.
    QString previewText() const;

signals:
    // OK: the cleaned template, for the owner to record with.
    void templateChosen(const QString &text);

private slots:
    void on_rb1WTemplate_clicked();
    void on_rbI2CTemplate_clicked();
    void on_rbDefaltTemplate_clicked();
    void on_rbFullDefaultTemplate_clicked();
    void on_edtFileTemplateName_textChanged(const QString &arg1);
    void on_btnOk_clicked();
    void on_btnCancel_clicked();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Taller when the example and its warning need more lines than fit.
    void fitPreview();

    Ui::FileNameTemplate *ui;
    std::unique_ptr<Dialogs> m_ownDialogs; // the real ones, when none are given
    Dialogs *m_dialogs;
    QDateTime m_startTime;
    const QVector<SensorDevice *> *m_devices;
    // A channel with every token filled, for the preview only.
    SensorDevice exampleDevice;
};
