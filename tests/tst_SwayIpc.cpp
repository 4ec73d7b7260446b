#include "app/SwayIpc.h"

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstring>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// A sway command socket at `path` for one client: it answers a GET_WORKSPACES message with no payload with
// `answer`, written in `pieces` parts, and nothing else; with an empty answer it answers nothing at all.
std::jthread fakeSway(const QString& path, const QByteArray& answer, int pieces)
{
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 1) != 0) {
        ::close(listener);
        return {};
    }
    return std::jthread([listener, answer, pieces] {
        pollfd waiting{listener, POLLIN, 0};
        const int client = ::poll(&waiting, 1, 5000) == 1 ? ::accept(listener, nullptr, nullptr) : -1;
        ::close(listener);
        char header[14] = {};
        const quint32 getWorkspaces[] = {0, 1}; // the payload's length, the message type
        if (::recv(client, header, sizeof header, MSG_WAITALL) == sizeof header && !answer.isEmpty() &&
            std::memcmp(header, "i3-ipc", 6) == 0 && std::memcmp(header + 6, getWorkspaces, 8) == 0) {
            const quint32 lengthAndType[] = {quint32(answer.size()), 1};
            const QByteArray whole =
                "i3-ipc" + QByteArray(reinterpret_cast<const char*>(lengthAndType), sizeof lengthAndType) + answer;
            const qsizetype step = whole.size() / pieces + 1;
            for (qsizetype at = 0; at < whole.size(); at += step) {
                (void)::send(client, whole.constData() + at, size_t(qMin(step, whole.size() - at)), MSG_NOSIGNAL);
                QThread::msleep(20);
            }
        }
        char rest;
        (void)::recv(client, &rest, 1, 0); // until the client hangs up
        ::close(client);
    });
}

QByteArray workspace(const char* name, bool visible, const QRect& rect)
{
    return QStringLiteral(R"({"name":"%1","visible":%2,"focused":false,"output":"HEADLESS-1",)"
                          R"("rect":{"x":%3,"y":%4,"width":%5,"height":%6}})")
        .arg(QLatin1String(name), visible ? QStringLiteral("true") : QStringLiteral("false"))
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height())
        .toUtf8();
}
} // namespace

class tst_SwayIpc : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void usableAreaIsTheShownWorkspaceOnTheScreen_data();
    void usableAreaIsTheShownWorkspaceOnTheScreen();
};

void tst_SwayIpc::usableAreaIsTheShownWorkspaceOnTheScreen_data()
{
    QTest::addColumn<QByteArray>("answer"); // the JSON array sway answers; empty: none; null: no sway at SWAYSOCK
    QTest::addColumn<int>("pieces");
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QRect>("expected"); // null: none

    const QRect left(0, 0, 1280, 800);
    const QRect right(1280, 0, 1920, 1080);
    const QByteArray twoOutputs =
        '[' + workspace("1", true, {0, 28, 1280, 772}) + ',' + workspace("2", true, {1280, 0, 1920, 1050}) + ']';
    QTest::newRow("a bar at the top") << twoOutputs << 1 << left << QRect(0, 28, 1280, 772);
    QTest::newRow("a bar at the bottom of the second monitor")
        << twoOutputs << 1 << right << QRect(1280, 0, 1920, 1050);
    QTest::newRow("the answer in pieces") << twoOutputs << 5 << left << QRect(0, 28, 1280, 772);
    QTest::newRow("a hidden workspace is passed over")
        << '[' + workspace("1", false, left) + ',' + workspace("3", true, {0, 0, 1280, 770}) + ']' << 1 << left
        << QRect(0, 0, 1280, 770);
    QTest::newRow("no workspace on that screen") << '[' + workspace("1", true, left) + ']' << 1 << right << QRect();
    QTest::newRow("sway does not answer") << QByteArray("") << 1 << left << QRect();
    QTest::newRow("no sway") << QByteArray() << 1 << left << QRect();
}

void tst_SwayIpc::usableAreaIsTheShownWorkspaceOnTheScreen()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, pieces);
    QFETCH(QRect, screen);
    QFETCH(QRect, expected);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("sway-ipc.sock"));
    qputenv("SWAYSOCK", QFile::encodeName(path));
    std::jthread sway;
    if (!answer.isNull()) {
        sway = fakeSway(path, answer, pieces);
        QVERIFY(sway.joinable());
    }
    const std::optional<QRect> area = SwayIpc::usableArea(screen);
    QCOMPARE(area.value_or(QRect()), expected);
    QCOMPARE(area.has_value(), !expected.isNull());
}

QTEST_MAIN(tst_SwayIpc)
#include "tst_SwayIpc.moc"
