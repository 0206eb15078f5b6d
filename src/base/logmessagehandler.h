#pragma once

#include <QFile>
#include <QString>
#include <QtGlobal>
#include <memory>

// The run's log file: empty until the main window chooses it. Assigning a new
// file deletes the previous one. The file is kept closed between messages.
std::unique_ptr<QFile> &logFile();

// Whether logMessageHandler writes the log file: the "-v1" switch, handed
// over by main(). Off until set.
void setLogFileEnabled(bool on);

// The program's Qt message handler (installed by MainWindow::installLogHandler).
// With the log file enabled (setLogFileEnabled) every message, of any type, is appended to logFile()
// as one line
//     yyyy-MM-dd hh:mm:ss.zzz TAG category: text
// with TAG one of "DBG", "WRN", "CRT", "FTL", "INF"; the file is opened and
// closed around each line, and a message that cannot be written is dropped.
// Without it nothing is written, and on the GUI thread the call costs 10 ms
// during which pending events are processed.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);

// Until main() has installed the handler the run is to use (or decided on
// Qt's own output, "-ldbg"), messages are held instead of going to standard
// error: holdLogMessages() starts holding, releaseHeldLogMessages() hands
// every held message, in order, to the handler installed by then and stops
// holding. Releasing without holding does nothing.
void holdLogMessages();
void releaseHeldLogMessages();
