#include "sim/simbusloader.h"
#include "support/simcycle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QtTest>
#include <functional>

namespace {

// A place in a JSON tree: object keys and array indices from the root.
using Path = QVariantList;

QString pathText(const Path &path)
{
    QString text;
    for (const QVariant &step : path) {
        if (step.type() == QVariant::Int)
            text += QStringLiteral("[%1]").arg(step.toInt());
        else
            text += (text.isEmpty() ? QString() : QStringLiteral(".")) + step.toString();
    }
    return text;
}

// `root` with the value at `path` replaced by what `change` makes of it
// (an undefined result removes an object's key).
QJsonValue changedAt(const QJsonValue &root, const Path &path, int depth,
                     const std::function<QJsonValue(const QJsonValue &)> &change)
{
    if (depth == path.size())
        return change(root);
    const QVariant step = path.at(depth);
    if (step.type() == QVariant::Int) {
        QJsonArray array = root.toArray();
        array[step.toInt()] = changedAt(array.at(step.toInt()), path, depth + 1, change);
        return array;
    }
    QJsonObject object = root.toObject();
    const QJsonValue inner = changedAt(object.value(step.toString()), path, depth + 1, change);
    if (inner.isUndefined())
        object.remove(step.toString());
    else
        object.insert(step.toString(), inner);
    return object;
}

// Calls `visit` for every value of the tree, the root first.
void visitAll(const QJsonValue &v, const Path &path,
              const std::function<void(const Path &, const QJsonValue &)> &visit)
{
    visit(path, v);
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it)
        visitAll(it.value(), Path(path) << it.key(), visit);
    const QJsonArray a = v.toArray();
    for (int i = 0; i < a.size(); ++i)
        visitAll(a.at(i), Path(path) << i, visit);
}

QByteArray text(const QJsonValue &root)
{
    return QJsonDocument(root.toObject()).toJson(QJsonDocument::Compact);
}

// One mutant of the demo bus file and what must become of it.
struct Mutant
{
    QByteArray json;
    QString where;       // the error must name this place, or one below it ("" = anywhere)
    bool mustFail = false;
    Path changed;        // the value changed: an accepted mutant runs a cycle
};

} // namespace

// The bus-file loader against a few thousand deterministic mutations of the
// demo bus file: it never crashes or hangs, every refusal is one line naming
// the place, no value of the wrong kind gets through, and accepted buses with
// extreme numbers run a measurement cycle without fault (the sanitizer build
// checks the arithmetic of the simulated chips).
class TstBusFileFuzz : public QObject
{
    Q_OBJECT

    QList<Mutant> mutants;
    QJsonValue demo;

    void add(const QJsonValue &root, const QString &where, bool mustFail, const Path &changed = Path())
    {
        mutants.append({text(root), where, mustFail, changed});
    }

    void valueMutations(const Path &path, const QJsonValue &v)
    {
        const QString where = pathText(path);
        const bool comment = !path.isEmpty() && path.last().toString() == QLatin1String("comment");
        auto replaced = [&](const QJsonValue &by) {
            return changedAt(demo, path, 0, [by](const QJsonValue &) { return by; });
        };
        // Values of another kind: refused, at this place (a comment may be anything).
        QList<QJsonValue> others = {QJsonValue(QJsonValue::Null), QJsonArray({1})};
        if (!v.isBool())
            others << QJsonValue(true);
        if (!v.isString())
            others << QStringLiteral("1");
        if (!v.isDouble() && !v.isObject()) // an object may be a curve, which a number replaces
            others << 7;
        if (!v.isObject())
            others << QJsonObject({{QStringLiteral("mean"), 1}});
        if (!path.isEmpty()) {
            for (const QJsonValue &other : others)
                add(replaced(other), where, !comment);
        }

        if (v.isDouble()) {
            for (double x : {1e308, -1e308, 1e19, -1e19, 4294967296.0, -2147483649.0, 2147483648.0, -1.0, 0.0, -0.0,
                             0.5, 1e-300, 255.0, 65535.0, 65536.0, 1048575.0, 1000001.0})
                add(replaced(x), where, false, path);
        } else if (v.isString()) {
            for (const QString &s : {QString(100000, QLatin1Char('F')), QStringLiteral("\n\t\"\\\u0001\u007f\u2028"),
                                     QString(), QStringLiteral("00"), QStringLiteral("7F"), QStringLiteral("FF FF"),
                                     QStringLiteral("\u0661\u0662"), QString::fromUtf8("\xF0\x9F\x98\x80")})
                add(replaced(s), where, false, path);
        } else if (v.isObject()) {
            QJsonValue withUnknown = changedAt(demo, path, 0, [](const QJsonValue &o) {
                QJsonObject copy = o.toObject();
                copy.insert(QStringLiteral("bogus\n"), 1);
                return QJsonValue(copy);
            });
            add(withUnknown, where.isEmpty() ? QStringLiteral("\"bogus\\n\"") : where + QStringLiteral(".\"bogus\\n\""), true);
            for (const QString &key : v.toObject().keys()) {
                add(changedAt(demo, Path(path) << key, 0, [](const QJsonValue &) { return QJsonValue(QJsonValue::Undefined); }),
                    where, false);
            }
        } else if (v.isArray()) {
            QJsonArray longer = v.toArray();
            longer.append(QJsonValue(QJsonValue::Null));
            add(replaced(longer), where + QStringLiteral("[%1]").arg(longer.size() - 1), true);
            longer = v.toArray();
            longer.append(QStringLiteral("ds18b20"));
            add(replaced(longer), where + QStringLiteral("[%1]").arg(longer.size() - 1), true);
        }
    }

    // Every device's ROM in the place of a later one's, and ROMs that are no
    // hexadecimal: refused at the later device's "rom".
    void romMutations()
    {
        const QJsonArray devices = demo.toObject().value(QStringLiteral("devices")).toArray();
        for (int i = 0; i < devices.size(); ++i) {
            const QJsonValue rom = devices.at(i).toObject().value(QStringLiteral("rom"));
            for (int j = 0; j < devices.size(); ++j) {
                if (j == i)
                    continue;
                const Path path = Path() << QStringLiteral("devices") << j << QStringLiteral("rom");
                const QJsonValue twice = changedAt(demo, path, 0, [rom](const QJsonValue &) { return rom; });
                // Device 0, the adapter's identity chip, refuses a family other than its own first.
                const bool identityFamily = rom.toString().startsWith(QLatin1String("81"))
                    || rom.toString().startsWith(QLatin1String("01"));
                add(twice, QStringLiteral("devices[%1].rom").arg(j == 0 && !identityFamily ? 0 : qMax(i, j)), true);
            }
            const Path path = Path() << QStringLiteral("devices") << i << QStringLiteral("rom");
            for (const char *bad : {"28 FF 64 1E 1D 16 0G", "28FF641E1D1603A", "28 FF 64 1E 1D 16 03 00 00", "0x28FF641E1D16",
                                    "28-FF-64-1E-1D-16-03", "\xD9\xA2\xD9\xA8 FF 64 1E 1D 16 03", "28 FF 64 1E 1D 16 \n3"}) {
                const QString s = QString::fromUtf8(bad);
                add(changedAt(demo, path, 0, [s](const QJsonValue &) { return QJsonValue(s); }),
                    QStringLiteral("devices[%1].rom").arg(i), true);
            }
        }
    }

    // The text itself: cut short anywhere, a byte replaced, nested too deeply.
    void textMutations()
    {
        const QByteArray original = SimBusLoader::demoJson();
        for (int length = 0; length < original.size(); length += 3)
            mutants.append({original.left(length), QString(), true, {}});
        for (int at = 0; at < original.size(); at += 5) {
            for (char c : {'\0', '\x01', '"', '}', ']', ',', '\xFF'}) {
                QByteArray changed = original;
                changed[at] = c;
                mutants.append({changed, QString(), false, {}});
            }
        }
        for (int depth : {64, 1000, 1100, 100000}) {
            const QByteArray nested = QByteArray(depth, '[') + QByteArray(depth, ']');
            QByteArray changed = original;
            changed.replace("\"resolution\": 11", "\"resolution\": " + nested);
            mutants.append({changed, QString(), true, {}});
            mutants.append({"{\"comment\": " + nested + ", \"devices\": []}", QString(), false, {}});
        }
    }

    // Runs one cycle on a bus holding only the device (or the I2C chip, on a
    // bridge of its own) the mutant changed.
    void exercise(const Mutant &m)
    {
        const QJsonObject root = QJsonDocument::fromJson(m.json).object();
        const int index = m.changed.value(1).toInt();
        QJsonObject device = root.value(QStringLiteral("devices")).toArray().at(index).toObject();
        if (m.changed.value(2).toString() == QLatin1String("i2c") && m.changed.size() > 3) {
            QJsonObject chip = device.value(QStringLiteral("i2c")).toArray().at(m.changed.value(3).toInt()).toObject();
            if (m.changed.value(4).toString() == QLatin1String("channel"))
                return;
            chip.remove(QStringLiteral("channel"));
            device = QJsonObject({{QStringLiteral("type"), QStringLiteral("ds28e17")},
                                  {QStringLiteral("i2c"), QJsonArray({chip})}});
        }
        // A chip that needed its hub channel does not load on its own; that is all.
        SimCycle run(text(QJsonObject({{QStringLiteral("devices"), QJsonArray({device})}})));
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        demo = QJsonDocument::fromJson(SimBusLoader::demoJson()).object();
        visitAll(demo, Path(), [this](const Path &path, const QJsonValue &v) { valueMutations(path, v); });
        romMutations();
        textMutations();
    }

    void mutationsOfTheDemoBus()
    {
        const QRegularExpression place(QStringLiteral("^demo:(\\d+:\\d+|[^ ]+): \\S"));
        int refused = 0, accepted = 0, exercised = 0;
        for (const Mutant &m : mutants) {
            QString error;
            const bool loaded = SimBusLoader::load(m.json, QStringLiteral("demo"), &error) != nullptr;
            const QString context = QString::fromUtf8(m.json.left(200)) + QStringLiteral(" -> ") + error.left(200);
            if (loaded) {
                ++accepted;
                QVERIFY2(!m.mustFail, qPrintable(QStringLiteral("accepted: ") + context));
                if (!m.changed.isEmpty()) {
                    exercise(m);
                    ++exercised;
                }
                continue;
            }
            ++refused;
            QVERIFY2(place.match(error).hasMatch(), qPrintable(context));
            QVERIFY2(error.size() < 400, qPrintable(context));
            for (const QChar c : error)
                QVERIFY2(c.unicode() >= 0x20 && c.unicode() != 0x7F, qPrintable(context));
            if (!m.where.isEmpty())
                QVERIFY2(error.startsWith(QStringLiteral("demo:") + m.where), qPrintable(m.where + QStringLiteral(": ") + context));
        }
        qInfo("%d mutants: %d refused, %d accepted (%d of them run for a cycle), 0 crashes",
              int(mutants.size()), refused, accepted, exercised);
        QVERIFY(mutants.size() > 2000);
    }
};

QTEST_MAIN(TstBusFileFuzz)
#include "tst_busfilefuzz.moc"
