// Writes the input as preferences.json in a fresh folder and opens the store on it: it must load or move the file
// aside, answer every reader for every key it holds without crashing, and stay writable.
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir root; // one folder for the whole run; each input gets its own sub-folder
    static int run = 0;
    if (!root.isValid()) {
        std::abort();
    }
    const QString directory = root.filePath(QString::number(run++));
    if (!QDir().mkpath(directory)) {
        std::abort();
    }
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(directory + QStringLiteral("/preferences.json"));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::abort();
        }
    }

    QStringList keys{QLatin1String(PreferenceKeys::sensiboAPIKey),
                     QLatin1String(PreferenceKeys::useMonochromeIcons),
                     QLatin1String(PreferenceKeys::autoCheckForUpdates),
                     QLatin1String(PreferenceKeys::hasLaunchedBefore),
                     QLatin1String(PreferenceKeys::lastUpdateCheckDate),
                     QLatin1String(PreferenceKeys::lastUpdateText),
                     QString()};
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (document.isObject()) {
        keys += document.object().keys();
    }

    {
        Preferences preferences(directory);
        if (!document.isObject() && QFile::exists(preferences.filePath())) {
            std::abort(); // an unreadable file must be moved aside
        }
        for (const QString& key : keys) {
            (void)preferences.text(key);
            (void)preferences.boolValue(key);
            const auto value = preferences.value(key);
            if (value && std::holds_alternative<QDateTime>(*value) && !std::get<QDateTime>(*value).isValid()) {
                std::abort();
            }
        }
        preferences.setText(QLatin1String(PreferenceKeys::sensiboAPIKey), QStringLiteral("fuzz"));
        Preferences reread(directory);
        if (reread.text(QLatin1String(PreferenceKeys::sensiboAPIKey)) != QStringLiteral("fuzz")) {
            std::abort(); // the write after a load must land
        }
    }
    QDir(directory).removeRecursively();
    return 0;
}
