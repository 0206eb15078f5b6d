#include "web/webconfig.h"

#include <QCoreApplication>
#include <QSettings>

WebConfig WebConfig::fromSettings(QSettings &settings, QString *error)
{
    WebConfig config;
    const QString listen = settings.value(QStringLiteral("Web/Listen")).toString().trimmed();
    if (!listen.isEmpty())
        config.enabled = ListenAddress::parse(listen, &config.listen, error);
    config.passwordFile = settings.value(QStringLiteral("Web/PasswordFile")).toString().trimmed();
    return config;
}

bool WebConfig::takeOptions(QStringList &args, WebConfig *config, QString *error)
{
    if (!ListenAddress::takeOption(args, QStringLiteral("--web"), &config->listen, &config->enabled, error))
        return false;
    const QString option = QStringLiteral("--web-passwords");
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == option) {
            if (i + 1 >= args.size() || args.at(i + 1).isEmpty()) {
                *error = option + QStringLiteral(" needs a file");
                return false;
            }
            config->passwordFile = args.takeAt(i + 1);
        } else if (args.at(i).startsWith(option + QLatin1Char('='))) {
            config->passwordFile = args.at(i).mid(option.size() + 1);
            if (config->passwordFile.isEmpty()) {
                *error = option + QStringLiteral(" needs a file");
                return false;
            }
        } else {
            continue;
        }
        args.removeAt(i--);
    }
    return true;
}

QString WebConfig::optionsUsage()
{
    return QCoreApplication::translate("Orvexctl",
                                       "  --web [ADDRESS:]PORT  serve the live web page and its JSON API; the address\n"
                                       "                     defaults to 127.0.0.1\n"
                                       "  --web-passwords FILE  USER:HASH lines (crypt hashes) of those who may change\n"
                                       "                     alarm limits from the page; without it the page is\n"
                                       "                     read-only\n");
}
