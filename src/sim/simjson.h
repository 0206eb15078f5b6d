#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// Readers for the optional keys of a chip's bus-file entry. Each leaves *out
// alone when the key is absent, and on a bad value returns false with *error
// set to "key: what is wrong".
class SimJson
{
public:
    static bool readInt(const QJsonObject &entry, const char *key, int min, int max, int *out, QString *error);
    static bool readBool(const QJsonObject &entry, const char *key, bool *out, QString *error);
    static bool readNumber(const QJsonObject &entry, const char *key, double *out, QString *error);
    // Hexadecimal digits, blanks allowed, exactly `size` bytes.
    static bool readHex(const QJsonObject &entry, const char *key, int size, QByteArray *out, QString *error);
};
