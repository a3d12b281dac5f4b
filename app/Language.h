#pragma once
// The language of the window. The design's Russian texts are the source
// texts; every other language is a translation embedded in the program.
// A Russian desktop gets Russian, every other desktop English, unless the
// user chose otherwise (kept in the settings store under "language").

#include <QLocale>
#include <QString>

class QCoreApplication;
class QTranslator;
namespace dz {
class TSettingsStore;
}

enum class TLanguageChoice { Auto, Russian, English };

// The stored choice ("auto", "ru", "en"); anything else reads as Auto.
TLanguageChoice StoredLanguageChoice(const dz::TSettingsStore &settings);
void StoreLanguageChoice(dz::TSettingsStore &settings, TLanguageChoice choice);

// The language to show for a choice on a desktop of the given locale:
// "ru" or "en".
QString EffectiveLanguage(TLanguageChoice choice, const QLocale &desktop = QLocale::system());

// Installs the translation for language ("ru": none, the source texts) on
// app, replacing one installed before, and makes QLocale's default follow
// it, so sizes and shown dates do too. Returns false when the embedded
// translation could not be loaded (the source texts stay).
bool InstallLanguage(QCoreApplication &app, const QString &language);
