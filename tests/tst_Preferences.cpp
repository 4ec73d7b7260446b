#include "platform/Preferences.h"
#include "tests/support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// What a path holds: a file's bytes, a folder's names, or where a link points.
QByteArray snapshot(const QString& path)
{
    if (QFileInfo(path).isSymLink()) {
        return "link: " + QFileInfo(path).symLinkTarget().toUtf8();
    }
    if (QFileInfo(path).isDir()) {
        return "folder: " +
               QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(' ').toUtf8();
    }
    struct stat info {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return "not a file: " + QByteArray::number(info.st_mode, 8); // opening a FIFO would wait
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QByteArray::number(file.size()) + ": " + file.read(4096)
                                          : QByteArray("unreadable");
}

// The next write's folder cannot be written to, whoever runs the test: root takes the part of another user.
void makeReadOnly(const QString& folder, const QString& file)
{
    if (::geteuid() == 0) {
        constexpr uid_t nobody = 65534;
        QVERIFY(::chown(QFile::encodeName(folder).constData(), nobody, nobody) == 0);
        QVERIFY(::chown(QFile::encodeName(file).constData(), nobody, nobody) == 0);
    }
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
}

void becomeTheFolderOwner(const QString& folder)
{
    struct stat info {
    };
    if (::geteuid() == 0 && ::stat(QFile::encodeName(folder).constData(), &info) == 0) {
        if (::setgid(info.st_gid) != 0 || ::setuid(info.st_uid) != 0) {
            ::_exit(3);
        }
    }
}
} // namespace

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
    void failedWriteLeavesTheFileAsItWas_data();
    void failedWriteLeavesTheFileAsItWas();
    void whatIsNoSettingsFileIsMovedAsideUnread_data();
    void whatIsNoSettingsFileIsMovedAsideUnread();
    void temporaryFilesOfKilledWritersAreRemoved();
    void writesKeepWhatAnotherProgramSaved();
    void aLockIsTakenOverOnlyFromTheDead_data();
    void aLockIsTakenOverOnlyFromTheDead();
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

void tst_Preferences::failedWriteLeavesTheFileAsItWas_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("reason"); // the cause the failure must name
    QTest::newRow("file size limit") << "limit" << qt_error_string(EFBIG);
    // A full disk: Qt only says it could not create the lock; the real cause is found.
    QTest::newRow("no room even for the lock") << "no room" << qt_error_string(EFBIG);
    QTest::newRow("read-only folder") << "read-only" << qt_error_string(EACCES);
    QTest::newRow("folder in the file's place") << "folder" << qt_error_string(EISDIR);
    QTest::newRow("link into a missing folder") << "link" << qt_error_string(ENOENT);
    // Here the write could succeed: a file that is there but cannot be read is never replaced, nor is anything
    // written beside it, for the whole run.
    QTest::newRow("unreadable file") << "unreadable" << qt_error_string(EACCES);
    QTest::newRow("FIFO as the lock") << "fifo lock"
                                      << "a FIFO";
}

void tst_Preferences::failedWriteLeavesTheFileAsItWas()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    Preferences preferences(dir.path());
    QVERIFY(preferences.setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("the-key")));
    const QString path = preferences.filePath();
    if (obstacle == u"folder") {
        QVERIFY(QFile::rename(path, dir.filePath(QStringLiteral("kept"))));
        QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    } else if (obstacle == u"link") {
        QVERIFY(QFile::remove(path) && QFile::link(dir.filePath(QStringLiteral("gone/preferences.json")), path));
    } else if (obstacle == u"read-only") {
        makeReadOnly(dir.path(), path);
    } else if (obstacle == u"unreadable") {
        makeReadOnly(dir.path(), path);
        QVERIFY(QFile::setPermissions(dir.path(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    } else if (obstacle == u"fifo lock") {
        QCOMPARE(::mkfifo(QFile::encodeName(path + QStringLiteral(".lock")).constData(), 0600), 0);
    }
    const QByteArray before = snapshot(path);
    const QByteArray folderBefore = snapshot(dir.path());

    // In a child process: the file size limit must not reach the test, nor another user's identity, and a child
    // that waits for ever is ended.
    const int outcome = runInChild([&] {
        ::alarm(30);
        if (obstacle == u"limit") {
            limitFileSize(1024); // room for the lock, not for the file
        } else if (obstacle == u"no room") {
            limitFileSize(0);
        }
        becomeTheFolderOwner(dir.path());
        Preferences child(dir.path());
        if (child.setText(QStringLiteral("lastUpdateText"), QString(4096, QLatin1Char('x')))) {
            return 1; // claimed success
        }
        if (!child.lastError().startsWith(path + QStringLiteral(": ")) || !child.lastError().contains(reason)) {
            return 2; // no file or not the real cause named
        }
        if (!child.problem() || !child.problem()->contains(reason)) {
            return 3; // the user would not hear of it
        }
        // Readable again later in the run: what this run holds are defaults, and they still go nowhere.
        if (obstacle == u"unreadable" && (::chmod(QFile::encodeName(path).constData(), 0600) != 0 ||
                                          child.setBool(QStringLiteral("hasLaunchedBefore"), true))) {
            return 5;
        }
        return child.text(QStringLiteral("lastUpdateText")) ? 0 : 4; // the value still counts for this run
    });
    QVERIFY(
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QCOMPARE(outcome, 0);
    QCOMPARE(snapshot(path), before);
    QCOMPARE(snapshot(dir.path()), folderBefore); // nothing left beside it
}

void tst_Preferences::whatIsNoSettingsFileIsMovedAsideUnread_data()
{
    QTest::addColumn<QString>("thing");
    QTest::addColumn<QString>("why"); // what the notice says it was
    QTest::newRow("FIFO") << "fifo"
                          << "a FIFO, not a regular file";
    QTest::newRow("link to /dev/zero") << "zero"
                                       << "a character device, not a regular file";
    QTest::newRow("100 MB file") << "huge"
                                 << "larger than 8192 KiB";
}

// Anything in the file's place that is no settings file is moved aside without being waited on or read whole, and
// the store starts empty and writes a file of its own. A reader beside Kelvo (the command line) only says so.
void tst_Preferences::whatIsNoSettingsFileIsMovedAsideUnread()
{
    QFETCH(QString, thing);
    QFETCH(QString, why);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("preferences.json"));
    const QByteArray encoded = QFile::encodeName(path);
    if (thing == u"fifo") {
        QCOMPARE(::mkfifo(encoded.constData(), 0600), 0);
    } else if (thing == u"zero") {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    } else {
        QFile huge(path);
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.write("{\"sensiboAPIKey\": \"k\", \"padding\": \"") > 0);
        QVERIFY(huge.resize(100 * 1024 * 1024)); // sparse: the cap must be met before any of it is read
    }
    const QByteArray before = snapshot(path);

    const int outcome = runInChild([&] {
        ::alarm(30);
        const Preferences reader(dir.path(), Preferences::Access::ReadOnly);
        if (reader.movedAsideTo() || !reader.loadNotice() || !reader.loadNotice()->contains(why)) {
            return 1;
        }
        Preferences preferences(dir.path());
        if (preferences.movedAsideTo() != path + QStringLiteral(".corrupt") ||
            !preferences.loadNotice()->contains(why) || preferences.text(QStringLiteral("sensiboAPIKey"))) {
            return 2;
        }
        return preferences.setBool(QStringLiteral("hasLaunchedBefore"), true) ? 0 : 3;
    });
    QCOMPARE(outcome, 0);
    QCOMPARE(snapshot(path + QStringLiteral(".corrupt")), before);
    QVERIFY(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink());
    QVERIFY(Preferences(dir.path()).boolValue(QStringLiteral("hasLaunchedBefore")));
}

void tst_Preferences::temporaryFilesOfKilledWritersAreRemoved()
{
    QTemporaryDir dir;
    const auto leftover = [&](const char* suffix, int ageSeconds) {
        QFile file(dir.filePath(QStringLiteral("preferences.json.") + QLatin1String(suffix)));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("{\"sensiboAPIKey\": \"copy\"}") > 0 && file.flush());
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime));
    };
    leftover("aB3xYz", 120); // a killed writer's: nobody holds it
    leftover("Held01", 120); // a living writer's, slow
    leftover("Fresh1", 0);   // a living writer's, just made
    leftover("note", 120);   // not a temporary file's name
    const int held =
        ::open(QFile::encodeName(dir.filePath(QStringLiteral("preferences.json.Held01"))).constData(), O_RDONLY);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);

    QVERIFY(Preferences(dir.path()).setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("key")));
    ::close(held);
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("preferences.json.*")}, QDir::Files),
             (QStringList{QStringLiteral("preferences.json.Fresh1"), QStringLiteral("preferences.json.Held01"),
                          QStringLiteral("preferences.json.note")}));
}

void tst_Preferences::writesKeepWhatAnotherProgramSaved()
{
    QTemporaryDir dir;
    Preferences tray(dir.path());
    Preferences commandLine(dir.path()); // both read the empty folder
    QVERIFY(tray.setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("fresh-key")));
    QVERIFY(commandLine.setBool(QStringLiteral("useMonochromeIcons"), true));
    QVERIFY(tray.setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("newer-key")));
    QVERIFY(commandLine.setBool(QStringLiteral("hasLaunchedBefore"), true)); // its copy of the key is stale
    Preferences next(dir.path());
    QCOMPARE(next.text(QStringLiteral("sensiboAPIKey")), QStringLiteral("newer-key"));
    QVERIFY(next.boolValue(QStringLiteral("useMonochromeIcons")));
    QVERIFY(next.boolValue(QStringLiteral("hasLaunchedBefore")));

    // A value the disk refused goes out with the next write that succeeds.
    QVERIFY(QFile::remove(tray.filePath()) && QDir().mkdir(tray.filePath()));
    QVERIFY(!tray.setBool(QStringLiteral("useMonochromeIcons"), false));
    QVERIFY(QDir().rmdir(tray.filePath()));
    QVERIFY(tray.setBool(QStringLiteral("autoCheckForUpdates"), false));
    Preferences last(dir.path());
    QVERIFY(last.value(QStringLiteral("useMonochromeIcons")) == std::optional<PreferenceValue>(false));
    QVERIFY(last.value(QStringLiteral("autoCheckForUpdates")) == std::optional<PreferenceValue>(false));
    QCOMPARE(last.text(QStringLiteral("sensiboAPIKey")), std::nullopt); // the file was gone: nobody's key
}

void tst_Preferences::aLockIsTakenOverOnlyFromTheDead_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<bool>("written");
    // A writer killed right after creating the lock file leaves it empty, and nobody holds it.
    QTest::newRow("empty, left by a killed writer") << "empty" << true;
    // A living writer between creating the file and writing its name into it.
    QTest::newRow("empty, held by a living writer") << "empty, held" << false;
    QTest::newRow("a living writer's lock") << "live" << false;
}

void tst_Preferences::aLockIsTakenOverOnlyFromTheDead()
{
    QFETCH(QString, holder);
    QFETCH(bool, written);
    QTemporaryDir dir;
    Preferences preferences(dir.path());
    const QString lockPath = preferences.filePath() + QStringLiteral(".lock");
    QLockFile live(lockPath);
    int held = -1;
    if (holder == QLatin1String("live")) {
        QVERIFY(live.tryLock());
    } else {
        held = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_EXCL, 0600);
        QVERIFY(held >= 0);
        if (holder == QLatin1String("empty, held")) {
            QVERIFY(::flock(held, LOCK_EX | LOCK_NB) == 0);
        } else {
            ::close(held);
            held = -1;
        }
    }
    // Old enough not to be caught between the two steps of a living writer.
    QFile lockFile(lockPath);
    QVERIFY(lockFile.open(QIODevice::ReadWrite));
    QVERIFY(lockFile.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
    lockFile.close();

    QCOMPARE(preferences.setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("key")), written);
    QCOMPARE(Preferences(dir.path()).text(QStringLiteral("sensiboAPIKey")).has_value(), written);
    if (!written) {
        QVERIFY2(preferences.lastError().contains(QStringLiteral("another program holds")),
                 qPrintable(preferences.lastError()));
        QVERIFY(QFileInfo::exists(lockPath));
    }
    if (held >= 0) {
        ::close(held);
    }
}

QTEST_GUILESS_MAIN(tst_Preferences)
#include "tst_Preferences.moc"
