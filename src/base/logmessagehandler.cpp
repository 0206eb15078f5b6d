#include "base/logmessagehandler.h"

#include "base/clock.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>
#include <QThread>
#include <QVector>

namespace {

const char *levelTag(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "DBG ";
    case QtWarningMsg:
        return "WRN ";
    case QtCriticalMsg:
        return "CRT ";
    case QtFatalMsg:
        return "FTL ";
    case QtInfoMsg:
        return "INF ";
    }
    return "";
}

// Qt's own helper threads may log too; they must neither run the GUI
// thread's events nor share the file with it unguarded.
bool onGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void silence(QLoggingCategory *category)
{
    for (QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
        category->setEnabled(type, false);
}

// Part of the handler's own state, like the file: the handler is process-wide.
bool &fileEnabled()
{
    static bool enabled = false;
    return enabled;
}

QMutex &fileMutex()
{
    static QMutex mutex;
    return mutex;
}

struct HeldMessage
{
    QtMsgType type;
    QByteArray category;
    QString text;
};

QVector<HeldMessage> &heldMessages()
{
    static QVector<HeldMessage> held;
    return held;
}

QtMessageHandler &handlerBeforeHolding()
{
    static QtMessageHandler previous = nullptr;
    return previous;
}

bool &holding()
{
    static bool on = false;
    return on;
}

void holdMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    QMutexLocker lock(&fileMutex());
    heldMessages().append({type, QByteArray(context.category ? context.category : "default"), text});
}

} // namespace

void holdLogMessages()
{
    if (holding())
        return;
    holding() = true;
    handlerBeforeHolding() = qInstallMessageHandler(holdMessage);
}

void releaseHeldLogMessages()
{
    if (!holding())
        return;
    holding() = false;
    // Whoever installed a handler meanwhile takes the messages; otherwise
    // the one before holding (null: Qt's own output).
    QtMessageHandler current = qInstallMessageHandler(nullptr);
    if (current == holdMessage)
        current = handlerBeforeHolding();
    qInstallMessageHandler(current);
    QVector<HeldMessage> held;
    {
        QMutexLocker lock(&fileMutex());
        held.swap(heldMessages());
    }
    for (const HeldMessage &message : qAsConst(held)) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
        if (current)
            current(message.type, context, message.text);
        else
            qt_message_output(message.type, context, message.text);
    }
}

std::unique_ptr<QFile> &logFile()
{
    static std::unique_ptr<QFile> file;
    return file;
}

void setLogFileEnabled(bool on)
{
    fileEnabled() = on;
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!fileEnabled()) {
        static bool pausing = false;
        if (onGuiThread() && !pausing) {
            // A message raised by what runs in the pause would not reach this
            // handler (Qt prints a message raised inside its handler on
            // standard error): none is raised meanwhile.
            pausing = true;
            const QLoggingCategory::CategoryFilter previous = QLoggingCategory::installFilter(silence);
            const qint64 startMs = Clock::tickMs();
            while (Clock::tickMs() - startMs < 10)
                Clock::pollEvents();
            QLoggingCategory::installFilter(previous);
            pausing = false;
        }
        return;
    }

    // A message raised by the file access itself (a warning from QFile) would
    // re-enter here with the file open; it is dropped.
    static thread_local bool writing = false;
    if (writing)
        return;
    QMutexLocker lock(&fileMutex());
    writing = true;
    QFile *file = logFile().get();
    if (!file || !file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        writing = false;
        return;
    }
    QTextStream stream(file);
    stream.setCodec("UTF-8");
    stream << Clock::now().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")) << levelTag(type)
           << (context.category ? context.category : "default") << ": " << text << '\n';
    stream.flush();
    file->close();
    writing = false;
}
