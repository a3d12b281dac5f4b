#pragma once
// The desktop's file manager through org.freedesktop.FileManager1.

#include <QDBusConnection>
#include <QUrl>

#include <functional>

class QObject;

namespace dz::desktop {

// How long a file manager may take to answer before the caller does
// without it (a service that is started on demand needs a moment).
inline constexpr int kFileManagerTimeoutMs = 5000;

// Asks the file manager to open the file's folder with the file selected.
// Returns at once; done(true) runs when a file manager took the request,
// done(false) when none did (no service, an error, no answer in time, a bus
// that is not connected). done runs on context's thread, and not at all
// once context is gone.
void ShowItems(const QDBusConnection &bus, const QUrl &file, QObject *context, std::function<void(bool shown)> done,
               int timeoutMs = kFileManagerTimeoutMs);

} // namespace dz::desktop
