#pragma once

// What the benchmarks share: the machine line, medians, /proc readings, and a Kelvo started as its own process
// against a loopback cloud with a clean preference store. Header-only; no moc.

#include "tests/support/FakeSensiboCloud.h"
#include "tests/support/FakeSite.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

namespace bench {

using Clock = std::chrono::steady_clock; // monotonic

inline double msSince(Clock::time_point start, Clock::time_point end = Clock::now())
{
    return std::chrono::duration<double, std::milli>(end - start).count();
}

inline std::string cpuModel()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            const auto colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown CPU";
}

inline std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// "machine: 2 cores (nproc), AMD EPYC, load 0.52 0.40 0.33, Qt 6.4.2"
inline void printMachine(const char* bench, const QString& extra = {})
{
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    std::printf("%s — machine: %ld cores (nproc), %s, load average %s, Qt %s%s%s\n", bench, cores, cpuModel().c_str(),
                loadAverage().c_str(), qVersion(), extra.isEmpty() ? "" : ", ", qPrintable(extra));
}

struct Summary {
    double median = 0;
    double low = 0;
    double high = 0;
    std::size_t count = 0;
};

inline Summary summarize(std::vector<double> values)
{
    Summary s;
    if (values.empty()) {
        return s;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.low = values.front();
    s.high = values.back();
    s.count = n;
    return s;
}

// "12.3 (range 11.0–15.2, n=7)" with the given number of decimals.
inline std::string describe(const Summary& s, int decimals = 1)
{
    char text[160];
    std::snprintf(text, sizeof text, "%.*f (range %.*f–%.*f, n=%zu)", decimals, s.median, decimals, s.low, decimals,
                  s.high, s.count);
    return text;
}

// Command-line options of the form --name value.
inline std::optional<QString> option(const QStringList& arguments, const QString& name)
{
    const qsizetype at = arguments.indexOf(name);
    if (at < 0 || at + 1 >= arguments.size()) {
        return std::nullopt;
    }
    return arguments.at(at + 1);
}

inline int intOption(const QStringList& arguments, const QString& name, int fallback)
{
    bool ok = false;
    const int value = option(arguments, name).value_or(QString()).toInt(&ok);
    return ok && value > 0 ? value : fallback;
}

// Runs the event loop until `done` holds or the time is up; true when it held. The loop sleeps between events;
// a timer every `checkMs` wakes it to look at `done` and the deadline (times worth measuring are taken where the
// event happens, never when this loop notices it).
inline bool spinUntil(const std::function<bool()>& done, int timeoutMs, int checkMs = 5)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer tick;
    tick.start(checkMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop, sleeping between events, for `ms`.
inline void spinFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// ---- /proc ----

// A "Key:   123 kB" line of /proc/<pid>/status, in kB (or the plain count for counters); -1 when absent.
inline long long statusField(qint64 pid, const char* key)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(file, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::stoll(line.substr(prefix.size()));
        }
    }
    return -1;
}

inline std::vector<std::string> taskIds(qint64 pid)
{
    std::vector<std::string> ids;
    const QDir dir(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        ids.push_back(name.toStdString());
    }
    return ids;
}

// One thread's counters.
struct ThreadSample {
    std::string name;
    double runMs = 0;       // schedstat run time
    long long switches = 0; // voluntary + involuntary context switches
};

// The live threads of `pid` by thread id.
inline std::map<std::string, ThreadSample> threadSamples(qint64 pid)
{
    std::map<std::string, ThreadSample> threads;
    for (const std::string& tid : taskIds(pid)) {
        const std::string base = "/proc/" + std::to_string(pid) + "/task/" + tid;
        ThreadSample sample;
        std::ifstream comm(base + "/comm");
        std::ifstream sched(base + "/schedstat");
        double ns = 0;
        if (!std::getline(comm, sample.name) || !(sched >> ns)) {
            continue; // it ended while it was read: a thread read as 0 ms would count its whole time back
        }
        sample.runMs = ns / 1e6;
        std::ifstream status(base + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                sample.switches += std::stoll(line.substr(24));
            } else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                sample.switches += std::stoll(line.substr(27));
            }
        }
        threads[tid] = sample;
    }
    return threads;
}

// utime + stime of /proc/<pid>/stat in ms: the whole process, threads that ended included, in 10 ms ticks.
inline double processCpuMs(qint64 pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    // After "pid (comm) ": state is field 3; utime and stime are fields 14 and 15.
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) {
            utime = std::stod(field);
        } else if (index == 15) {
            stime = std::stod(field);
            break;
        }
    }
    return (utime + stime) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

// ---- the cloud's devices ----

inline QJsonArray devices(int count)
{
    QJsonArray list;
    for (int i = 0; i < count; ++i) {
        const QString id = QStringLiteral("dev%1").arg(i, 4, 10, QLatin1Char('0'));
        list.append(FakeSensiboCloud::makeDevice(id, QStringLiteral("Room %1").arg(i + 1), true, QStringLiteral("cool"),
                                                 22, QStringLiteral("C"), 23.4 + (i % 10) / 10.0, 51.3));
    }
    return list;
}

// The loopback cloud and site a bench points Kelvo at: the bench's key, `count` devices, gzip as the real cloud
// sends it.
inline bool listenBenchServers(FakeSensiboCloud& cloud, FakeSite& site, int count = 10)
{
    if (!cloud.listen() || !site.listen()) {
        std::printf("cannot listen on 127.0.0.1\n");
        return false;
    }
    cloud.setApiKey(QStringLiteral("bench-key"));
    cloud.setDevices(devices(count));
    cloud.setGzip(true);
    return true;
}

inline bool isDeviceList(const FakeHttpServer::Request& request)
{
    return request.method == "GET" && request.target.startsWith("/api/v2/users/me/pods");
}

// ---- Kelvo as its own process ----

#ifndef KELVO_BENCH_APP
#define KELVO_BENCH_APP "kelvo"
#endif

// Kelvo's executable: --kelvo PATH, else the one built next to the benchmarks.
inline QString kelvoPath(const QStringList& arguments)
{
    return option(arguments, QStringLiteral("--kelvo")).value_or(QStringLiteral(KELVO_BENCH_APP));
}

// The platform the spawned programs use: --platform NAME (offscreen unless given; "xcb" uses $DISPLAY).
inline QString platformName(const QStringList& arguments)
{
    return option(arguments, QStringLiteral("--platform")).value_or(QStringLiteral("offscreen"));
}

// ---- TLS ----

// The loopback cloud behind TLS, as the real cloud is: a QSslServer that hands each decrypted connection on to the
// plain cloud. Its certificate is issued by a certificate authority made for the run (with the openssl command);
// the programs under test trust that authority alone because they run in a mount namespace of their own where it
// stands in /etc/ssl/certs (unshare and mount, as root). Qt reads trusted roots only from the system folders, so
// there is no other way to make a test certificate trusted without changing the machine.
class TlsFront
{
public:
    // Makes the certificates and listens; false (with the reason in error()) when any of it is not possible here.
    bool listen(quint16 backendPort)
    {
        m_backendPort = backendPort;
        if (::geteuid() != 0) {
            m_error = QStringLiteral("needs root for a mount namespace with the test certificate authority");
            return false;
        }
        const QString dir = m_dir.path();
        const auto openssl = [&](const QStringList& arguments) {
            QProcess tool;
            tool.setWorkingDirectory(dir);
            tool.start(QStringLiteral("openssl"), arguments);
            return tool.waitForFinished(20000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
        };
        const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
        QFile extensions(dir + QStringLiteral("/leaf.ext"));
        if (!extensions.open(QIODevice::WriteOnly) || extensions.write("subjectAltName=IP:127.0.0.1\n") < 0) {
            m_error = QStringLiteral("cannot write the certificate's extensions");
            return false;
        }
        extensions.close();
        QDir().mkpath(dir + QStringLiteral("/roots"));
        if (!openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
                     QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                                 QStringLiteral("roots/ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                                 QStringLiteral("-subj"), QStringLiteral("/CN=Kelvo bench authority")}) ||
            !openssl(QStringList{QStringLiteral("req")} + ec +
                     QStringList{QStringLiteral("-keyout"), QStringLiteral("leaf.key"), QStringLiteral("-out"),
                                 QStringLiteral("leaf.csr"), QStringLiteral("-subj"),
                                 QStringLiteral("/CN=127.0.0.1")}) ||
            !openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("leaf.csr"),
                      QStringLiteral("-CA"), QStringLiteral("roots/ca.pem"), QStringLiteral("-CAkey"),
                      QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                      QStringLiteral("leaf.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                      QStringLiteral("-extfile"), QStringLiteral("leaf.ext")}) ||
            !openssl({QStringLiteral("rehash"), QStringLiteral("roots")})) {
            m_error = QStringLiteral("the openssl command could not make the certificates");
            return false;
        }
        QFile certificate(dir + QStringLiteral("/leaf.pem"));
        QFile key(dir + QStringLiteral("/leaf.key"));
        if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
            m_error = QStringLiteral("cannot read the certificates");
            return false;
        }
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(QSslCertificate(certificate.readAll()));
        configuration.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_server.setSslConfiguration(configuration);
        QObject::connect(&m_server, &QTcpServer::pendingConnectionAvailable, &m_server, [this] { accept(); });
        if (!m_server.listen(QHostAddress::LocalHost)) {
            m_error = m_server.errorString();
            return false;
        }
        // A mount namespace must be possible here.
        QProcess probe;
        probe.start(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")});
        if (!probe.waitForFinished(5000) || probe.exitCode() != 0) {
            m_error = QStringLiteral("unshare -m is not allowed here");
            return false;
        }
        return true;
    }

    QString error() const { return m_error; }
    QString baseUrl() const { return QStringLiteral("https://127.0.0.1:%1/api/v2").arg(m_server.serverPort()); }

    // How to start `program` so that it trusts the bench's authority: the program to give QProcess and its
    // arguments. The program keeps the process id QProcess reports (each step execs the next).
    std::pair<QString, QStringList> trusting(const QString& program, const QStringList& arguments) const
    {
        return {QStringLiteral("unshare"),
                QStringList{QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                            QStringLiteral("mount --bind \"$1\" /etc/ssl/certs && shift && exec \"$@\""),
                            QStringLiteral("sh"), m_dir.path() + QStringLiteral("/roots"), program} +
                    arguments};
    }

private:
    void accept()
    {
        while (QTcpSocket* client = m_server.nextPendingConnection()) {
            auto* backend = new QTcpSocket(client);
            QObject::connect(client, &QTcpSocket::readyRead, backend,
                             [client, backend] { backend->write(client->readAll()); });
            QObject::connect(backend, &QTcpSocket::readyRead, client,
                             [client, backend] { client->write(backend->readAll()); });
            QObject::connect(backend, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
            QObject::connect(client, &QTcpSocket::disconnected, client, [client] { client->deleteLater(); });
            backend->connectToHost(QHostAddress::LocalHost, m_backendPort);
        }
    }

    QTemporaryDir m_dir;
    QSslServer m_server;
    quint16 m_backendPort = 0;
    QString m_error;
};

// A program started with a preference store and temporary folder of its own. The own temporary folder also gives
// Kelvo its own single-instance socket, so a Kelvo already running for this user (a desktop session, another test)
// is neither found nor disturbed.
class Spawned
{
public:
    Spawned()
    {
        m_process.setStandardOutputFile(QProcess::nullDevice());
        // A benchmark that is ended from outside takes its programs with it.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    }
    ~Spawned() { stop(); }

    // Stores the API key in the preference store, as the settings window would.
    void storeApiKey(const QString& key)
    {
        QDir().mkpath(m_config.path() + QStringLiteral("/kelvo"));
        QFile file(m_config.path() + QStringLiteral("/kelvo/preferences.json"));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QJsonDocument(QJsonObject{{QStringLiteral("sensiboAPIKey"), key}}).toJson());
        }
    }

    QProcessEnvironment environment(const QString& platform) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        if (platform != u"xcb") {
            env.remove(QStringLiteral("DISPLAY"));
        }
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_tmp.path());
        env.insert(QStringLiteral("TMPDIR"), m_tmp.path());
        return env;
    }

    QProcess& process() { return m_process; }
    qint64 pid() const { return m_process.processId(); }

    // Starts `program`, trusting the bench's certificate authority when `tls` is given; the caller takes the time
    // just before.
    void start(const QString& program, const QProcessEnvironment& env, const QStringList& arguments = {},
               const TlsFront* tls = nullptr)
    {
        m_process.setProcessEnvironment(env);
        if (tls) {
            const auto [wrapper, wrapped] = tls->trusting(program, arguments);
            m_process.start(wrapper, wrapped);
        } else {
            m_process.start(program, arguments);
        }
    }

    bool running() const { return m_process.state() != QProcess::NotRunning; }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning) {
            return;
        }
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    QByteArray errors() { return m_process.readAllStandardError(); }

private:
    QTemporaryDir m_config;
    QTemporaryDir m_tmp;
    QProcess m_process;
};

// ---- the floor ----

#ifndef KELVO_BENCH_FLOOR
#define KELVO_BENCH_FLOOR "floor-tray-popup"
#endif

// The floor program (bench/floor): --floor PATH, else the one built next to the benchmarks.
inline QString floorPath(const QStringList& arguments)
{
    return option(arguments, QStringLiteral("--floor")).value_or(QStringLiteral(KELVO_BENCH_FLOOR));
}

// The floor's environment: the same cloud and key as Kelvo's.
inline QProcessEnvironment floorEnvironment(const Spawned& spawned, const QString& platform, const QString& cloudUrl)
{
    QProcessEnvironment env = spawned.environment(platform);
    env.insert(QStringLiteral("KELVO_SENSIBO_API_URL"), cloudUrl);
    env.insert(QStringLiteral("KELVO_BENCH_API_KEY"), QStringLiteral("bench-key"));
    return env;
}

// Where the spawned programs show themselves: "offscreen", or "xcb on :81 with trayer (XEmbed)" under on-tray.py.
inline QString placeDescription(const QString& platform)
{
    if (platform != u"xcb") {
        return QStringLiteral("the %1 platform, no tray").arg(platform);
    }
    const QString tray = qEnvironmentVariable("BENCH_TRAY");
    return QStringLiteral("xcb on %1 %2")
        .arg(qEnvironmentVariable("DISPLAY"),
             tray.isEmpty() ? QStringLiteral("(tray unknown)") : QStringLiteral("with ") + tray);
}

inline double ratio(double kelvo, double floor)
{
    return floor > 0 ? kelvo / floor : 0;
}

// Kelvo's environment pointing at the loopback cloud and site.
inline QProcessEnvironment kelvoEnvironment(const Spawned& spawned, const QString& platform, const QString& cloudUrl,
                                            const QString& siteUrl)
{
    QProcessEnvironment env = spawned.environment(platform);
    env.insert(QStringLiteral("KELVO_SENSIBO_API_URL"), cloudUrl);
    env.insert(QStringLiteral("KELVO_SITE_URL"), siteUrl);
    return env;
}

} // namespace bench
