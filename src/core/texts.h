#pragma once

#include <QString>

class QCoreApplication;

// User-visible texts are looked up by key (IDS_... or the English text itself) in the built-in English
// translation ":/en.qm". A key without an entry comes back as written.
QString trKey(const char *key);
QString trKey(const QString &key);

// Loads ":/en.qm" and installs it on the application; false when the resource is missing (keys stay as written).
bool installEnglishTranslation(QCoreApplication &app);

namespace Product {
inline constexpr char kVersion[] = "3.1.13";
// "Tallowbrook Contact Mover", through the translation.
QString title();
// The title followed by " v3.1.13".
QString titleWithVersion();
} // namespace Product
