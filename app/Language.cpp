#include "Language.h"

#include "util/settings.h"

#include <QCoreApplication>
#include <QTranslator>

#include <memory>

namespace {

constexpr const char *kKey = "language";

} // namespace

TLanguageChoice StoredLanguageChoice(const dz::TSettingsStore &settings)
{
    const QString value = settings.Value(QLatin1String(kKey)).toString();
    if (value == QLatin1String("ru"))
        return TLanguageChoice::Russian;
    if (value == QLatin1String("en"))
        return TLanguageChoice::English;
    return TLanguageChoice::Auto;
}

void StoreLanguageChoice(dz::TSettingsStore &settings, TLanguageChoice choice)
{
    const char *value = choice == TLanguageChoice::Russian ? "ru" : choice == TLanguageChoice::English ? "en" : "auto";
    settings.Put(QLatin1String(kKey), QLatin1String(value));
}

QString EffectiveLanguage(TLanguageChoice choice, const QLocale &desktop)
{
    switch (choice) {
    case TLanguageChoice::Russian:
        return QStringLiteral("ru");
    case TLanguageChoice::English:
        return QStringLiteral("en");
    case TLanguageChoice::Auto:
        break;
    }
    return desktop.language() == QLocale::Russian ? QStringLiteral("ru") : QStringLiteral("en");
}

bool InstallLanguage(QCoreApplication &app, const QString &language)
{
    // One translator for the whole run, swapped when the language changes.
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    const bool russian = language == QLatin1String("ru");
    QLocale::setDefault(QLocale(russian ? QLocale::Russian : QLocale::English,
                                russian ? QLocale::Russia : QLocale::UnitedKingdom));
    if (russian)
        return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral(":/i18n/dizaruz_%1.qm").arg(language)))
        return false;
    (void)app;
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
    return true;
}
