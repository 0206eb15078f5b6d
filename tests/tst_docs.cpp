#include <QtTest>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace {

const QString kSourceDir = QDir::cleanPath(QStringLiteral(TEST_DATA_DIR "/../.."));

// The lines of a Markdown file outside its fenced code blocks, where neither
// links nor headings count.
QStringList proseLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    bool inFence = false;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("```")))
            inFence = !inFence;
        else if (!inFence)
            lines << line;
    }
    return lines;
}

// The anchors a Markdown renderer gives the file's headings: lower case, only
// letters, digits, '-', '_' and spaces kept, spaces as '-', a repeated one
// numbered "-1", "-2"...
QSet<QString> anchorsOf(const QString &path)
{
    QSet<QString> anchors;
    QHash<QString, int> seen;
    const QRegularExpression heading(QStringLiteral("^#{1,6} +(.*)$"));
    for (const QString &line : proseLines(path)) {
        const QRegularExpressionMatch match = heading.match(line);
        if (!match.hasMatch())
            continue;
        QString slug;
        for (const QChar c : match.captured(1).trimmed().toLower()) {
            if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))
                slug += c;
            else if (c == QLatin1Char(' '))
                slug += QLatin1Char('-');
        }
        const int count = seen.value(slug);
        seen[slug] = count + 1;
        anchors.insert(count == 0 ? slug : slug + QLatin1Char('-') + QString::number(count));
    }
    return anchors;
}

QStringList documents()
{
    QStringList paths{kSourceDir + QStringLiteral("/README.md")};
    const QDir docs(kSourceDir + QStringLiteral("/docs"));
    for (const QString &name : docs.entryList({QStringLiteral("*.md")}, QDir::Files, QDir::Name))
        paths << docs.filePath(name);
    return paths;
}

} // namespace

class TstDocs : public QObject
{
    Q_OBJECT
private slots:
    // Every link between the README and docs/ leads somewhere: the file (or
    // picture) exists and, when the link names a section, the file has that
    // heading. Sections get renamed and moved; a link left behind is caught here.
    void linksResolve_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString &path : documents())
            QTest::newRow(qPrintable(QDir(kSourceDir).relativeFilePath(path))) << path;
    }
    void linksResolve()
    {
        QFETCH(QString, path);
        const QStringList lines = proseLines(path);
        QVERIFY2(!lines.isEmpty(), qPrintable(path + QStringLiteral(" cannot be read")));
        const QRegularExpression link(QStringLiteral("\\]\\(([^)\\s]*)\\)"));
        const QDir here = QFileInfo(path).dir();
        for (int i = 0; i < lines.size(); ++i) {
            auto it = link.globalMatch(lines.at(i));
            while (it.hasNext()) {
                const QString target = it.next().captured(1);
                if (target.contains(QLatin1String("://")) || target.startsWith(QLatin1String("mailto:")))
                    continue;
                const int hash = target.indexOf(QLatin1Char('#'));
                const QString file = hash < 0 ? target : target.left(hash);
                const QString where = QFileInfo(path).fileName() + QLatin1Char(':') + QString::number(i + 1)
                                      + QStringLiteral(": ") + target;
                const QString resolved = file.isEmpty() ? path : here.filePath(file);
                QVERIFY2(QFileInfo::exists(resolved), qPrintable(where + QStringLiteral(": no such file")));
                if (hash >= 0)
                    QVERIFY2(anchorsOf(resolved).contains(target.mid(hash + 1)),
                             qPrintable(where + QStringLiteral(": no such heading")));
            }
        }
    }

    // The README is the front door: every page under docs/ is reachable from it.
    void everyPageLinkedFromReadme()
    {
        const QString readme = proseLines(kSourceDir + QStringLiteral("/README.md")).join(QLatin1Char('\n'));
        const QStringList paths = documents().mid(1);
        QVERIFY(!paths.isEmpty());
        for (const QString &path : paths) {
            const QString name = QStringLiteral("docs/") + QFileInfo(path).fileName();
            QVERIFY2(readme.contains(QStringLiteral("](") + name),
                     qPrintable(name + QStringLiteral(" is not linked from README.md")));
        }
    }
};

QTEST_GUILESS_MAIN(TstDocs)
#include "tst_docs.moc"
