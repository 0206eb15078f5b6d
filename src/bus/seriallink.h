#pragma once

#include <QByteArray>
#include <QSerialPort>
#include <QString>

// One serial port, opened exclusively at 9600 baud, 8 data bits, no parity,
// one stop bit, no flow control: the line to a DS2480B. Reads wait through
// the clock layer with a timeout; a port that fails (an unplugged USB adapter,
// a vanished device node) is closed and reported as lost.
class SerialLink
{
public:
    SerialLink();
    ~SerialLink();

    // What to tell the operator about a port whose device node is missing.
    static QString missingPortText(const QString &path);
    // The latency timer of the USB-serial converter behind `path`, in ms:
    // how long it holds received bytes before passing them on, which every
    // wait for an answer costs. -1 when the port has none (a built-in UART,
    // a pseudo-terminal) or it cannot be read.
    static int latencyTimerMs(const QString &path);

    // Opens `path` and asks for low latency: the serial driver's low-latency
    // flag, and the converter's latency timer at 1 ms where it may be
    // written. On failure false and *error says why in words for the
    // operator, with the remedy where there is one (the dialout group).
    bool open(const QString &path, QString *error);
    void close();
    bool isOpen() const;
    // The port failed since it was opened; it is closed.
    bool lost() const { return m_lost; }

    // Sends the bytes; false when the port failed.
    bool write(const QByteArray &bytes);
    // Reads exactly `count` bytes, waiting at most `timeoutMs` for them.
    // Returns what came: fewer bytes on a timeout or a failed port.
    QByteArray read(int count, int timeoutMs);
    // Drops whatever was received and not read yet, and whatever still
    // arrives until the line has been quiet for `settleMs`. Returns the
    // number of bytes dropped.
    int discardInput(int settleMs);
    // Drops whatever was received and not read yet, without waiting.
    void dropInput();
    // Whether input that nobody asked for has arrived (without waiting).
    bool inputWaiting();
    // Whether input arrives within `ms` milliseconds (real time; events run
    // meanwhile, so an emulated adapter in this thread gets its turn).
    bool inputWithinMs(int ms);
    // Holds the line at the start polarity for `ms` milliseconds: the DS2480B
    // takes this as a master reset.
    void sendBreak(int ms);
    // A NUL sent at half the baud rate: nine bit times low, which the DS2480B
    // takes as a master reset too, also where a converter does not pass a
    // break. The port is back at 9600 baud afterwards.
    void sendSlowNul();

private:
    void checkFailure();
    void askLowLatency(const QString &path);

    QSerialPort m_port;
    bool m_lost = false;
};
