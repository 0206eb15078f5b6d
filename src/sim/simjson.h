#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// Readers for the optional keys of a chip's bus-file entry. Each leaves *out
// alone when the key is absent, and on a value of the wrong kind or range
// returns false with *error set to "key: what was expected". Error texts never
// carry raw input: keys and values from the file pass through quoted().
class SimJson
{
public:
    static bool readInt(const QJsonObject &entry, const char *key, int min, int max, int *out, QString *error);
    static bool readBool(const QJsonObject &entry, const char *key, bool *out, QString *error);
    static bool readNumber(const QJsonObject &entry, const char *key, double *out, QString *error);
    // Hexadecimal digits, blanks allowed, exactly `size` bytes.
    static bool readHex(const QJsonObject &entry, const char *key, int size, QByteArray *out, QString *error);
    // An array of whole numbers from `min` to `max`.
    static bool readIntList(const QJsonObject &entry, const char *key, int min, int max, QList<int> *out,
                            QString *error);
    // Every key of `entry` is one of `known` (or "comment"); otherwise false
    // with *error "key: unknown key for <owner> (known: ...)".
    static bool checkKeys(const QJsonObject &entry, const QStringList &known, const QString &owner, QString *error);

    // Text from the file as an error line shows it: in double quotes, control
    // characters escaped, cut after kQuotedChars characters (marked "...").
    static QString quoted(const QString &text);
    // A key as a path shows it: as it is when it is a plain name (letters,
    // digits, "_", at most kQuotedChars), otherwise quoted.
    static QString keyInPath(const QString &key);
    // `text` with every control character escaped, so it stays on one line.
    static QString oneLine(const QString &text);
    static const int kQuotedChars = 40;
};
