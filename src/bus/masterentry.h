#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>

class BusBackend;

// What the program knows about one kind of bus master besides its code: the
// --bus values that choose it, how to open it, what of it is plugged in and
// whether it is the evident choice when the operator chose nothing. Each
// master declares its entry beside its own code; session/masterregistry.cpp
// lists them, and the option parser, orvexctl's usage and `ports`, and the
// documentation tests read them from there.
struct MasterEntry
{
    // One way of writing a value: the prefix alone ("usb") or the prefix, a
    // colon and a placeholder in capitals ("usb:BUS-PORT").
    struct Form
    {
        QString value;
        QString usage; // one line: what this value chooses
    };

    // One thing found plugged in, as `orvexctl ports` lists it.
    struct Found
    {
        QString line;
        bool answers = false; // an adapter answered there
    };

    using OpenFn = std::unique_ptr<BusBackend> (*)(const QString &argument, QString *error);
    using SurveyFn = QVector<Found> (*)(const QStringList &ports);
    using ChooseFn = std::unique_ptr<BusBackend> (*)(QString *error);

    QString prefix;
    QVector<Form> forms;

    // Opens the master. `argument` is what follows "prefix:" (never empty),
    // or empty for the prefix alone when a form allows that. Null and a
    // one-line *error when it cannot be opened at all; an adapter that is
    // absent or silent is the backend's problem(), not a failure here.
    OpenFn open = nullptr;

    // What is plugged in, one line each. `ports` are the serial ports the
    // operator named (empty: look everywhere); a master not reached through
    // a named port finds nothing when ports are named. Null: nothing to list.
    SurveyFn survey = nullptr;

    // Its place in the default choice: 0 never chosen by default, else the
    // masters are tried in increasing order and the first backend wins.
    int defaultPlace = 0;
    // How the usage text names it in the default choice ("the demo bus"):
    // English, marked for translation in orvexctl's context, which translates it.
    QString defaultUsage;
    // The backend when this master is the evident choice, else null; *error
    // only when nothing after it could be tried either.
    ChooseFn choose = nullptr;

    // "vvvv:pppp" (lower-case hex) of the USB devices it opens directly; the
    // udev rules must let the operator at them.
    QStringList usbIds;

    bool takesBare() const;
    bool takesArgument() const;
};

inline bool MasterEntry::takesBare() const
{
    for (const Form &form : forms) {
        if (form.value == prefix)
            return true;
    }
    return false;
}

inline bool MasterEntry::takesArgument() const
{
    for (const Form &form : forms) {
        if (form.value.startsWith(prefix + QLatin1Char(':')))
            return true;
    }
    return false;
}
