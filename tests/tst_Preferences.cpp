#include "platform/Preferences.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <sys/stat.h>

class tst_Preferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void neverWrittenKeysReadAsAbsentOrFalse();
    void valuesSurviveARestartWithTheirTypes();
    void aBoolStoredAsTextIsNotABool();
    void fileAndFolderAreReadableByTheUserOnly();
    void corruptFileIsMovedAsideNeverOverwritten();
    void unknownKeysAreKeptOnWrite();
    void refusedWriteStillCountsForThisRun();
};

void tst_Preferences::neverWrittenKeysReadAsAbsentOrFalse()
{
    QTemporaryDir dir;
    Preferences preferences(dir.path());
    QCOMPARE(preferences.text(QStringLiteral("sensiboAPIKey")), std::nullopt);
    QCOMPARE(preferences.boolValue(QStringLiteral("useMonochromeIcons")), false);
    QVERIFY(!preferences.value(QStringLiteral("lastUpdateCheckDate")).has_value());
    QVERIFY(!QFile::exists(preferences.filePath())); // reading writes nothing
}

void tst_Preferences::valuesSurviveARestartWithTheirTypes()
{
    QTemporaryDir dir;
    const QDateTime when(QDate(2026, 12, 7), QTime(19, 0, 0, 123), Qt::UTC);
    {
        Preferences preferences(dir.path());
        preferences.setText(QStringLiteral("sensiboAPIKey"), QStringLiteral(" key with blanks "));
        preferences.setBool(QStringLiteral("useMonochromeIcons"), true);
        preferences.setBool(QStringLiteral("autoCheckForUpdates"), false);
        preferences.setDate(QStringLiteral("lastUpdateCheckDate"), when);
    }
    Preferences reopened(dir.path());
    QCOMPARE(reopened.text(QStringLiteral("sensiboAPIKey")), QStringLiteral(" key with blanks "));
    QCOMPARE(reopened.boolValue(QStringLiteral("useMonochromeIcons")), true);
    const auto autoCheck = reopened.value(QStringLiteral("autoCheckForUpdates"));
    QVERIFY(autoCheck && std::holds_alternative<bool>(*autoCheck));
    QCOMPARE(std::get<bool>(*autoCheck), false);
    const auto date = reopened.value(QStringLiteral("lastUpdateCheckDate"));
    QVERIFY(date && std::holds_alternative<QDateTime>(*date));
    QCOMPARE(std::get<QDateTime>(*date), when);

    QFile file(reopened.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray json = file.readAll();
    QVERIFY(json.contains(R"("$date": "2026-12-07T19:00:00.123Z")"));
    QVERIFY(json.contains(R"("useMonochromeIcons": true)"));
}

void tst_Preferences::aBoolStoredAsTextIsNotABool()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("preferences.json")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"autoCheckForUpdates": "false", "useMonochromeIcons": "true", "lastUpdateCheckDate": "2026-01-01",
                   "lastUpdateText": 42})");
    file.close();

    Preferences preferences(dir.path());
    const auto autoCheck = preferences.value(QStringLiteral("autoCheckForUpdates"));
    QVERIFY(autoCheck && std::holds_alternative<QString>(*autoCheck));
    QCOMPARE(preferences.boolValue(QStringLiteral("useMonochromeIcons")), false);
    const auto date = preferences.value(QStringLiteral("lastUpdateCheckDate"));
    QVERIFY(date && !std::holds_alternative<QDateTime>(*date));
    QCOMPARE(preferences.text(QStringLiteral("lastUpdateText")), std::nullopt);
    const auto number = preferences.value(QStringLiteral("lastUpdateText"));
    QVERIFY(number && std::holds_alternative<QJsonValue>(*number));
}

void tst_Preferences::fileAndFolderAreReadableByTheUserOnly()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("kelvo"));
    Preferences preferences(folder);
    preferences.setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("secret"));

    struct stat info {
    };
    QCOMPARE(::stat(QFile::encodeName(preferences.filePath()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
    QCOMPARE(::stat(QFile::encodeName(folder).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0700u);

    // A file someone loosened is tightened again by the next write.
    QVERIFY(QFile::setPermissions(preferences.filePath(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
    preferences.setBool(QStringLiteral("useMonochromeIcons"), true);
    QCOMPARE(::stat(QFile::encodeName(preferences.filePath()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
}

void tst_Preferences::corruptFileIsMovedAsideNeverOverwritten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("preferences.json"));
    const auto writeGarbage = [&](const QByteArray& bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };

    writeGarbage(R"({"sensiboAPIKey": "half-writ)");
    {
        // A reader beside the running Kelvo (the command line) leaves the file to it, and never writes.
        Preferences reader(dir.path(), Preferences::Access::ReadOnly);
        QCOMPARE(reader.movedAsideTo(), std::nullopt);
        reader.setBool(QStringLiteral("hasLaunchedBefore"), true);
        QVERIFY(!QFile::exists(path + QStringLiteral(".corrupt")));
        QFile kept(path);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        const QByteArray unchanged = kept.readAll();
        QVERIFY(unchanged.endsWith("half-writ"));
    }
    {
        Preferences preferences(dir.path());
        QCOMPARE(preferences.text(QStringLiteral("sensiboAPIKey")), std::nullopt);
        QCOMPARE(preferences.movedAsideTo(), path + QStringLiteral(".corrupt"));
        preferences.setBool(QStringLiteral("hasLaunchedBefore"), true);
    }
    Preferences fresh(dir.path());
    QCOMPARE(fresh.boolValue(QStringLiteral("hasLaunchedBefore")), true);

    writeGarbage("[1, 2, 3]"); // valid JSON, but not a store
    Preferences again(dir.path());
    QCOMPARE(again.movedAsideTo(), path + QStringLiteral(".corrupt.1"));

    QFile first(path + QStringLiteral(".corrupt"));
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(first.readAll(), QByteArray(R"({"sensiboAPIKey": "half-writ)"));
}

void tst_Preferences::unknownKeysAreKeptOnWrite()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("preferences.json")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"someFutureKey": {"nested": [1, 2]}})");
    file.close();

    Preferences preferences(dir.path());
    preferences.setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("k"));
    Preferences reopened(dir.path());
    const auto kept = reopened.value(QStringLiteral("someFutureKey"));
    QVERIFY(kept && std::holds_alternative<QJsonValue>(*kept));
    QCOMPARE(std::get<QJsonValue>(*kept).toObject().value(QStringLiteral("nested")).toArray().size(), 2);
}

void tst_Preferences::refusedWriteStillCountsForThisRun()
{
    if (::geteuid() == 0) {
        QSKIP("root writes through read-only folders");
    }
    QTemporaryDir dir;
    Preferences preferences(dir.path());
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    preferences.setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("k"));
    QCOMPARE(preferences.text(QStringLiteral("sensiboAPIKey")), QStringLiteral("k"));
    QVERIFY(!QFile::exists(preferences.filePath()));
    QVERIFY(
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

QTEST_GUILESS_MAIN(tst_Preferences)
#include "tst_Preferences.moc"
