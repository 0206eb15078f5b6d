#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <functional>
#include <utility>

class QWidget;

// One field of a form: a line of text, a file's path (with a button to
// choose it) or a yes/no box. The answer carries the fields as entered.
struct DialogField
{
    enum Kind { Text, File, Flag };
    Kind kind = Text;
    QString label;
    QString text;      // Text and File
    bool flag = false; // Flag
    QString toolTip;
};

// What the program asked the operator.
struct DialogRequest
{
    enum Kind { Message, InputInt, InputText, Directory, OpenFiles, SaveFile, Form };
    Kind kind = Message;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;          // message text, or the input dialog's label
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    int intValue = 0, intMin = 0, intMax = 0, intStep = 1;
    QString textValue;     // initial text, or the folder or file a file dialog opens at
    QString whatsThis;
    QString nameFilter;    // file dialogs, e.g. "CSV (*.csv)"
    QList<DialogField> fields; // Form: its fields in order, under `text`

    // A message box: a question, warning or information with its buttons.
    static DialogRequest message(QMessageBox::Icon icon, const QString &title, const QString &text,
                                 QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                 QMessageBox::StandardButton defaultButton = QMessageBox::NoButton)
    {
        DialogRequest r;
        r.kind = Message;
        r.icon = icon;
        r.title = title;
        r.text = text;
        r.buttons = buttons;
        r.defaultButton = defaultButton;
        return r;
    }
};

// The operator's answer.
struct DialogAnswer
{
    // A button pressed; `accepted` as input and file dialogs report it.
    static DialogAnswer pressed(QMessageBox::StandardButton button, bool accepted = false)
    {
        DialogAnswer a;
        a.button = button;
        a.accepted = accepted;
        return a;
    }

    QMessageBox::StandardButton button = QMessageBox::NoButton;
    bool accepted = false; // input and directory dialogs
    int intValue = 0;
    QString textValue;     // text entered, or the folder or file chosen
    QStringList files;     // OpenFiles: every file chosen
    QList<DialogField> fields; // Form: the fields as the operator left them
};

// Every question, warning, input and file dialog of the program goes through
// a Dialogs object the window is given, so tests can stand in for the
// operator (a subclass that answers) and no test hangs on a modal box. This
// class runs the real Qt dialogs; with ORVEX_DIALOGS=auto in the environment
// (used when tests start the program as a separate process) each request is
// printed on standard error and declined instead.
//
// ask() never waits: measuring goes on while its dialog is open, because no
// event loop of the dialog's own runs inside whatever code opened it. The
// waiting forms (message(), getInt(), ...) run a nested event loop and are
// only for the start-up questions and the second-copy warning, before
// anything measures.
class Dialogs
{
public:
    using Done = std::function<void(const DialogAnswer &)>;

    Dialogs() = default;
    virtual ~Dialogs() = default;
    Dialogs(const Dialogs &) = delete;
    Dialogs &operator=(const Dialogs &) = delete;

    // Shows the dialog and returns at once; `done` (may be empty) runs with
    // the answer when the operator closes it.
    void ask(QWidget *parent, const DialogRequest &request, Done done = Done()) { show(parent, request, std::move(done)); }

    QMessageBox::StandardButton message(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                                        const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                         QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No,
                                         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // Integer input; returns whether the operator confirmed, the value in *out.
    bool getInt(QWidget *parent, const QString &title, const QString &label, int value, int min, int max,
                int step, int *out, bool fixedSize = false);
    // Folder choice; returns the chosen folder, or an empty text when cancelled.
    QString getExistingDirectory(QWidget *parent, const QString &startDir);

protected:
    // The dialog for `request`, shown without waiting; `done` as for ask().
    virtual void show(QWidget *parent, const DialogRequest &request, Done done);
    // The dialog for `request` in an event loop of its own: the caller waits
    // for the answer. `flags` are added to the dialog's own.
    virtual DialogAnswer wait(QWidget *parent, const DialogRequest &request, Qt::WindowFlags flags);
};
