#include "base/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QTranslator>
#include <map>
#include <memory>

// The translations are a resource of this static library; the reference
// keeps the linker from dropping it.
static void initTranslationResource()
{
    Q_INIT_RESOURCE(translations);
}

namespace Language {

const char kRussian[] = "ru";
const char kEnglish[] = "en";
const char kSettingsKey[] = "View/Language";

namespace {

QString &installed()
{
    static QString language = QLatin1String(kRussian);
    return language;
}

} // namespace

QString fromUiLanguages(const QStringList &uiLanguages)
{
    const QString first = uiLanguages.value(0).trimmed().toLower();
    return first.startsWith(QLatin1String("ru")) ? QLatin1String(kRussian) : QLatin1String(kEnglish);
}

bool isChoice(const QString &stored)
{
    const QString value = stored.trimmed().toLower();
    return value == QLatin1String(kRussian) || value == QLatin1String(kEnglish);
}

QString chosen(const QString &stored, const QStringList &uiLanguages)
{
    return isChoice(stored) ? stored.trimmed().toLower() : fromUiLanguages(uiLanguages);
}

QString forWindow(QSettings &settings)
{
    return chosen(settings.value(QLatin1String(kSettingsKey)).toString(), QLocale::system().uiLanguages());
}

QString forConsole()
{
    return fromUiLanguages(QLocale::system().uiLanguages());
}

bool install(QCoreApplication *app, const QString &language)
{
    initTranslationResource();
    installed() = language;
    // Qt's own texts (standard buttons, file dialogs) in the same language;
    // English is Qt's source language and needs none.
    if (language != QLatin1String(kEnglish)) {
        auto *qtTexts = new QTranslator(app);
        if (qtTexts->load(QLatin1String("qtbase_") + language, QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
            app->installTranslator(qtTexts);
        else
            delete qtTexts;
    }
    // Russian loads ours too: orvexctl's own texts are English at the source.
    auto *ours = new QTranslator(app);
    if (!ours->load(QLatin1String(":/translations/orvex_") + language)) {
        delete ours;
        return false;
    }
    app->installTranslator(ours);
    return true;
}

QString current()
{
    return installed();
}

QString translate(const QString &language, const char *context, const char *source)
{
    static QMutex mutex;
    static std::map<QString, std::unique_ptr<QTranslator>> loaded; // kept for the process's life
    QMutexLocker lock(&mutex);
    auto found = loaded.find(language);
    if (found == loaded.end()) {
        initTranslationResource();
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load(QLatin1String(":/translations/orvex_") + language))
            translator.reset();
        found = loaded.emplace(language, std::move(translator)).first;
    }
    const QString text = found->second ? found->second->translate(context, source) : QString();
    return text.isEmpty() ? QString::fromUtf8(source) : text;
}

} // namespace Language
