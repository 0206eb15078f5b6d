#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;
class QSettings;

// The language people read: the window's and orvexctl's texts and Qt's own.
// The window's source texts are Russian, orvexctl's own (its usage and usage
// errors) English; the other language comes from a translation built into
// the program. Data (files, settings keys, topics, payloads) never changes
// with it.
namespace Language {

// "ru" or "en".
extern const char kRussian[];
extern const char kEnglish[];

// The settings key holding the operator's choice: "ru", "en", or empty
// (or missing) for the locale's.
extern const char kSettingsKey[];

// The locale's language: Russian for the first UI language starting with
// "ru", English for any other (including the C locale).
QString fromUiLanguages(const QStringList &uiLanguages);

// Whether a stored value names one of our languages (else: the locale's).
bool isChoice(const QString &stored);

// The stored choice when it is one of ours, else the locale's.
QString chosen(const QString &stored, const QStringList &uiLanguages);

// The window's language: `View/Language` from `settings`, else the locale.
QString forWindow(QSettings &settings);
// orvexctl's: the locale alone.
QString forConsole();

// Installs the program's and Qt's translators for `language` into `app`
// (they live as long as it). Returns false when the program's translation
// could not be loaded (the texts then stay as in the sources).
bool install(QCoreApplication *app, const QString &language);

// The language last installed (kRussian before any).
QString current();

// `source` of `context` in `language` ("ru" or "en") whatever language is
// installed, for texts served to people who each read their own (a web
// page in the browser's language). The source itself when there is no
// translation. Any thread.
QString translate(const QString &language, const char *context, const char *source);

} // namespace Language
