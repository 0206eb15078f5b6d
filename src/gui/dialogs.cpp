#include "gui/dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QTextStream>
#include <cstdio>
#include <memory>
#include <utility>

namespace {

bool autoDecline()
{
    return qgetenv("ORVEX_DIALOGS") == "auto";
}

// Declines whatever was asked: "No" where offered, otherwise the default
// button, otherwise the first button; input and folder dialogs are cancelled.
DialogAnswer decline(const DialogRequest &request)
{
    DialogAnswer answer;
    if (request.kind == DialogRequest::Message) {
        if (request.buttons & QMessageBox::No)
            answer.button = QMessageBox::No;
        else if (request.defaultButton != QMessageBox::NoButton)
            answer.button = request.defaultButton;
        else {
            for (int b = QMessageBox::FirstButton; b <= QMessageBox::LastButton; b <<= 1) {
                if (request.buttons & b) {
                    answer.button = QMessageBox::StandardButton(b);
                    break;
                }
            }
        }
    }
    return answer;
}

// ORVEX_DIALOGS=auto: the request printed and declined, no dialog shown.
bool answerWithoutUi(const DialogRequest &request, DialogAnswer *answer)
{
    if (autoDecline()) {
        QTextStream err(stderr);
        err.setCodec("UTF-8");
        err << "dialog: " << request.title << ": " << request.text << "\n";
        *answer = decline(request);
        return true;
    }
    return false;
}

// A form: its text above the fields, OK and Cancel below. A file field's
// button opens a file dialog that does not wait either.
QDialog *makeForm(QWidget *parent, const DialogRequest &request, std::function<DialogAnswer(int)> *answer)
{
    auto *dialog = new QDialog(parent);
    dialog->setWindowTitle(request.title);
    auto *layout = new QVBoxLayout(dialog);
    if (!request.text.isEmpty()) {
        auto *text = new QLabel(request.text);
        text->setWordWrap(true);
        layout->addWidget(text);
    }
    auto *form = new QFormLayout;
    layout->addLayout(form);
    QList<QLineEdit *> edits;
    QList<QCheckBox *> boxes;
    for (const DialogField &field : request.fields) {
        QLineEdit *edit = nullptr;
        QCheckBox *box = nullptr;
        QWidget *row = nullptr;
        if (field.kind == DialogField::Flag) {
            box = new QCheckBox(field.label);
            box->setChecked(field.flag);
            box->setToolTip(field.toolTip);
            form->addRow(box);
        } else {
            edit = new QLineEdit(field.text);
            edit->setToolTip(field.toolTip);
            edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
            row = edit;
            if (field.kind == DialogField::File) {
                row = new QWidget;
                auto *line = new QHBoxLayout(row);
                line->setContentsMargins(0, 0, 0, 0);
                auto *browse = new QPushButton(QStringLiteral("…"));
                line->addWidget(edit, 1);
                line->addWidget(browse);
                QObject::connect(browse, &QPushButton::clicked, dialog, [dialog, edit, title = field.label] {
                    auto *files = new QFileDialog(dialog, title, QFileInfo(edit->text()).path());
                    files->setFileMode(QFileDialog::ExistingFile);
                    files->setAttribute(Qt::WA_DeleteOnClose);
                    QObject::connect(files, &QFileDialog::fileSelected, edit, &QLineEdit::setText);
                    files->open();
                });
            }
            form->addRow(field.label, row);
        }
        edits << edit;
        boxes << box;
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    *answer = [fields = request.fields, edits, boxes](int result) {
        DialogAnswer a;
        a.accepted = result == QDialog::Accepted;
        a.fields = fields;
        for (int i = 0; i < a.fields.size(); ++i) {
            if (edits.at(i))
                a.fields[i].text = edits.at(i)->text();
            if (boxes.at(i))
                a.fields[i].flag = boxes.at(i)->isChecked();
        }
        return a;
    };
    return dialog;
}

// The Qt dialog for a request, not yet shown; deletes itself when closed.
// `answer` reads the answer off it once it is finished.
QDialog *makeDialog(QWidget *parent, const DialogRequest &request, std::function<DialogAnswer(int)> *answer)
{
    QDialog *dialog = nullptr;
    switch (request.kind) {
    case DialogRequest::Message: {
        auto *box = new QMessageBox(request.icon, request.title, request.text, request.buttons, parent);
        box->setDefaultButton(request.defaultButton);
        *answer = [](int result) {
            DialogAnswer a;
            a.button = QMessageBox::StandardButton(result);
            a.accepted = true;
            return a;
        };
        dialog = box;
        break;
    }
    case DialogRequest::InputInt:
    case DialogRequest::InputText: {
        auto *input = new QInputDialog(parent);
        input->setWindowTitle(request.title);
        // Wide enough for its title bar (the window manager's buttons and
        // margins included): a narrow input would cut the title off.
        input->setMinimumWidth(input->fontMetrics().horizontalAdvance(request.title) + 160);
        input->setLabelText(request.text);
        input->setWhatsThis(request.whatsThis);
        if (request.kind == DialogRequest::InputInt) {
            input->setInputMode(QInputDialog::IntInput);
            input->setIntRange(request.intMin, request.intMax);
            input->setIntStep(request.intStep);
            input->setIntValue(request.intValue);
        } else {
            input->setInputMode(QInputDialog::TextInput);
            input->setTextValue(request.textValue);
        }
        *answer = [input](int result) {
            DialogAnswer a;
            a.accepted = result == QDialog::Accepted;
            a.intValue = input->intValue();
            a.textValue = input->textValue();
            return a;
        };
        dialog = input;
        break;
    }
    case DialogRequest::Form:
        dialog = makeForm(parent, request, answer);
        break;
    case DialogRequest::Directory:
    case DialogRequest::OpenFiles:
    case DialogRequest::SaveFile: {
        auto *files = new QFileDialog(parent, request.title, request.textValue, request.nameFilter);
        if (request.kind == DialogRequest::Directory) {
            files->setFileMode(QFileDialog::Directory);
            files->setOption(QFileDialog::ShowDirsOnly, true);
        } else if (request.kind == DialogRequest::OpenFiles) {
            files->setFileMode(QFileDialog::ExistingFiles);
        } else {
            files->setFileMode(QFileDialog::AnyFile);
            files->setAcceptMode(QFileDialog::AcceptSave);
        }
        *answer = [files](int result) {
            DialogAnswer a;
            a.files = files->selectedFiles();
            a.accepted = result == QDialog::Accepted && !a.files.isEmpty();
            if (a.accepted)
                a.textValue = a.files.first();
            return a;
        };
        dialog = files;
        break;
    }
    }
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}

} // namespace

DialogAnswer Dialogs::wait(QWidget *parent, const DialogRequest &request, Qt::WindowFlags flags)
{
    DialogAnswer answer;
    if (answerWithoutUi(request, &answer))
        return answer;
    std::function<DialogAnswer(int)> read;
    // Read off exec()'s result, not finished(): a message box closed through
    // its title bar finishes with 0 and only then sets its escape button
    // (e.g. No) as the result.
    const std::unique_ptr<QDialog> dialog(makeDialog(parent, request, &read));
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    if (flags)
        dialog->setWindowFlags(dialog->windowFlags() | flags);
    return read(dialog->exec());
}

QMessageBox::StandardButton Dialogs::message(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                                             const QString &text, QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    return wait(parent, DialogRequest::message(icon, title, text, buttons, defaultButton), {}).button;
}

QMessageBox::StandardButton Dialogs::question(QWidget *parent, const QString &title, const QString &text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton)
{
    return message(QMessageBox::Question, parent, title, text, buttons, defaultButton);
}

bool Dialogs::getInt(QWidget *parent, const QString &title, const QString &label, int value, int min,
                     int max, int step, int *out, bool fixedSize)
{
    DialogRequest request;
    request.kind = DialogRequest::InputInt;
    request.title = title;
    request.text = label;
    request.intValue = value;
    request.intMin = min;
    request.intMax = max;
    request.intStep = step;
    const DialogAnswer answer =
        wait(parent, request, fixedSize ? Qt::MSWindowsFixedSizeDialogHint : Qt::WindowFlags());
    if (answer.accepted && out)
        *out = answer.intValue;
    return answer.accepted;
}

QString Dialogs::getExistingDirectory(QWidget *parent, const QString &startDir)
{
    DialogRequest request;
    request.kind = DialogRequest::Directory;
    request.textValue = startDir;
    const DialogAnswer answer = wait(parent, request, {});
    return answer.accepted ? answer.textValue : QString();
}

void Dialogs::show(QWidget *parent, const DialogRequest &request, Done done)
{
    DialogAnswer answer;
    if (answerWithoutUi(request, &answer)) {
        if (done)
            done(answer);
        return;
    }
    std::function<DialogAnswer(int)> read;
    QDialog *dialog = makeDialog(parent, request, &read);
    // Modal for the operator, but shown without an event loop of its own:
    // whatever opened it returns at once and measuring goes on.
    dialog->setWindowModality(Qt::ApplicationModal);
    QObject::connect(dialog, &QDialog::finished, dialog, [read, done](int result) {
        if (done)
            done(read(result));
    });
    dialog->show();
}
