#include "platform/LoginItem.h"
#include "tests/support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {
const QString program = QStringLiteral("/usr/bin/kelvo");

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

mode_t permissions(const QString& path)
{
    struct stat info {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}
} // namespace

class tst_LoginItem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { qputenv("XDG_CONFIG_HOME", m_savedConfigHome); }

    void registerWritesAnEntryAndUnregisterRemovesIt();
    void execLineKeepsAnyPathOneArgument_data();
    void execLineKeepsAnyPathOneArgument();
    void statusIsReadFromTheEntryOnDisk_data();
    void statusIsReadFromTheEntryOnDisk();
    void registerFailsWhereNoEntryCanBeWritten();

private:
    QString autostart() const { return m_config->path() + QStringLiteral("/autostart"); }
    QString entryPath() const { return autostart() + QStringLiteral("/app.kelvo.Kelvo.desktop"); }

    std::unique_ptr<QTemporaryDir> m_config;
    QByteArray m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
};

void tst_LoginItem::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
}

void tst_LoginItem::registerWritesAnEntryAndUnregisterRemovesIt()
{
    auto item = LoginItem::create(program);
    QVERIFY(!item->isEnabled());
    QVERIFY(item->unregisterItem()); // nothing to remove: off, as asked
    // The entry names the program the session runs: nobody else may rewrite it, whatever the umask says.
    const mode_t umask = ::umask(0);
    const bool registered = item->registerItem();
    ::umask(umask);
    QVERIFY(registered);
    QVERIFY(LoginItem::create(program)->isEnabled());
    QCOMPARE(permissions(entryPath()), mode_t(0600));
    QCOMPARE(permissions(autostart()), mode_t(0700));
    // A folder that was there keeps what the user gave it.
    QVERIFY(QFile::setPermissions(autostart(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                   QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                   QFile::ExeOther));
    QVERIFY(item->registerItem());
    QCOMPARE(permissions(autostart()), mode_t(0755));

    const QList<QByteArray> lines = readFile(entryPath()).split('\n');
    QCOMPARE(lines.first(), QByteArrayLiteral("[Desktop Entry]"));
    for (const char* line : {"Type=Application", "Name=Kelvo", "Exec=/usr/bin/kelvo", "Icon=app.kelvo.Kelvo",
                             "X-GNOME-Autostart-enabled=true"}) {
        QVERIFY2(lines.contains(line), line);
    }
    // Written in one piece: no temporary file is left beside it.
    QCOMPARE(QDir(autostart()).entryList(QDir::Files), QStringList{QStringLiteral("app.kelvo.Kelvo.desktop")});

    QVERIFY(item->unregisterItem());
    QVERIFY(!QFile::exists(entryPath()));
    QVERIFY(!item->isEnabled());
}

void tst_LoginItem::execLineKeepsAnyPathOneArgument_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");

    QTest::newRow("plain") << "/usr/bin/kelvo"
                           << "Exec=/usr/bin/kelvo";
    QTest::newRow("blank") << "/opt/My Apps/kelvo"
                           << "Exec=\"/opt/My Apps/kelvo\"";
    QTest::newRow("percent") << "/opt/50%/kelvo"
                             << "Exec=/opt/50%%/kelvo";
    // Quoted, `$` and `"` escaped for the command line, those backslashes escaped again for the entry's string.
    QTest::newRow("dollar") << "/opt/a$b/kelvo"
                            << "Exec=\"/opt/a\\\\$b/kelvo\"";
    QTest::newRow("quote") << "/opt/say \"hi\"/kelvo"
                           << "Exec=\"/opt/say \\\\\"hi\\\\\"/kelvo\"";
    // Control characters are written as the entry's escapes, never raw.
    QTest::newRow("tab") << "/opt/a\tb/kelvo"
                         << "Exec=\"/opt/a\\tb/kelvo\"";
    QTest::newRow("newline") << "/opt/a\nb/kelvo"
                             << "Exec=\"/opt/a\\nb/kelvo\"";
    QTest::newRow("backslash") << "/opt/a\\b/kelvo"
                               << "Exec=\"/opt/a\\\\\\\\b/kelvo\"";
}

void tst_LoginItem::execLineKeepsAnyPathOneArgument()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);
    QVERIFY(LoginItem::create(path)->registerItem());
    QVERIFY(readFile(entryPath()).split('\n').contains(exec.toUtf8()));
}

void tst_LoginItem::statusIsReadFromTheEntryOnDisk_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("enabled");

    const QByteArray head = "[Desktop Entry]\nType=Application\nName=Kelvo\nExec=kelvo\n";
    QTest::newRow("present") << head << true;
    QTest::newRow("hidden") << head + "Hidden=true\n" << false;
    QTest::newRow("hidden, with blanks") << head + "Hidden = true \n" << false;
    QTest::newRow("not hidden") << head + "Hidden=false\n" << true;
    QTest::newRow("switched off in GNOME") << head + "X-GNOME-Autostart-enabled=false\n" << false;
    QTest::newRow("hidden in another group") << head + "[Desktop Action quit]\nHidden=true\n" << true;
}

void tst_LoginItem::statusIsReadFromTheEntryOnDisk()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, enabled);
    QVERIFY(writeFile(entryPath(), entry));
    QCOMPARE(LoginItem::create(program)->isEnabled(), enabled);
}

void tst_LoginItem::registerFailsWhereNoEntryCanBeWritten()
{
    // A file where the folder belongs stops even root, for whom permissions do not count.
    QVERIFY(writeFile(autostart(), "not a folder"));
    auto item = LoginItem::create(program);
    QVERIFY(!item->registerItem());
    QVERIFY(!item->isEnabled());

    // A folder where the entry belongs is no entry, and cannot be replaced by one.
    QVERIFY(QFile::remove(autostart()));
    QVERIFY(QDir().mkpath(entryPath()));
    QVERIFY(!item->isEnabled());
    QVERIFY(!item->registerItem());

    // A write the disk stops half-way (a full disk, a file size limit) leaves the old entry as it was.
    QVERIFY(QDir().rmdir(entryPath()));
    QVERIFY(item->registerItem());
    const QByteArray before = readFile(entryPath());
    const int outcome = runInChild([] {
        limitFileSize(64);
        return LoginItem::create(QStringLiteral("/opt/elsewhere/kelvo"))->registerItem() ? 1 : 0;
    });
    QCOMPARE(outcome, 0);
    QCOMPARE(readFile(entryPath()), before);
    QCOMPARE(QDir(autostart()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("app.kelvo.Kelvo.desktop")});
}

QTEST_GUILESS_MAIN(tst_LoginItem)
#include "tst_LoginItem.moc"
