#include "simphone.h"

#include "apkmanifest.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QStringList kDefaultPackages = {u"org.example.notes"_s, u"org.example.weather"_s};
const QStringList kSystemPackages = {u"android"_s, u"com.android.settings"_s, u"com.android.providers.contacts"_s};
const QString kDefaultApp = u"com.tallowbrook.contactssync"_s;

SimPhone::ShellResult result(const QByteArray &out, int code = 0, const QByteArray &err = {})
{
    return {out, err, code};
}

// The package a pushed file installs as. A real package (a zip) names itself and its version in its binary
// manifest; a test's text file may name one in a first line "package:NAME"; anything else is the companion app.
// False (with the package manager's failure text) for a zip whose manifest can not be read.
bool packageOf(const QByteArray &data, ApkManifest *manifest, QString *failure)
{
    if (data.startsWith("PK\x03\x04")) {
        QString error;
        if (readApkManifest(data, manifest, &error))
            return true;
        *failure = u"INSTALL_PARSE_FAILED_MANIFEST_MALFORMED: %1"_s.arg(error);
        return false;
    }
    static const QRegularExpression re(u"^package:([A-Za-z][A-Za-z0-9_]*(\\.[A-Za-z][A-Za-z0-9_]*)+)\\s*$"_s);
    const QString first = QString::fromUtf8(data.left(data.indexOf('\n') < 0 ? 256 : data.indexOf('\n')));
    const auto m = re.match(first);
    manifest->package = m.hasMatch() ? m.captured(1) : kDefaultApp;
    return true;
}

} // namespace

SimPhone::SimPhone(const QString &name, const QString &serial)
    : m_name(name), m_serial(serial), m_packages(kDefaultPackages)
{
}

SimPhone::~SimPhone()
{
    m_threads.joinAll();
}

bool SimPhone::openStore(const QString &path, QString *error)
{
    std::lock_guard lock(m_mutex);
    m_storePath = path;
    QFile file(path);
    if (!file.exists()) {
        m_storeOther = QJsonObject{{u"contacts"_s, QJsonArray()}};
        saveLocked();
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"can not read %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        *error = u"%1 is not a JSON object: %2"_s.arg(path, parseError.errorString());
        return false;
    }
    const QJsonObject obj = doc.object();
    if (obj.contains(u"packages"_s)) {
        if (!obj.value(u"packages"_s).isArray()) {
            *error = u"%1: \"packages\" is not an array"_s.arg(path);
            return false;
        }
        m_packages.clear();
        for (const QJsonValue &v : obj.value(u"packages"_s).toArray())
            if (v.isString() && !v.toString().isEmpty())
                m_packages.append(v.toString());
    }
    m_storeOther = obj;
    return true;
}

void SimPhone::saveLocked()
{
    if (m_storePath.isEmpty())
        return;
    QJsonObject obj = m_storeOther;
    obj.insert(u"packages"_s, QJsonArray::fromStringList(m_packages));
    QSaveFile file(m_storePath);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(obj).toJson());
        file.commit();
    }
}

QJsonValue SimPhone::storeValue(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    return m_storeOther.value(key);
}

void SimPhone::setStoreValue(const QString &key, const QJsonValue &value)
{
    std::lock_guard lock(m_mutex);
    m_storeOther.insert(key, value);
    saveLocked();
}

int SimPhone::installs() const
{
    std::lock_guard lock(m_mutex);
    return m_installs;
}

QStringList SimPhone::packages() const
{
    std::lock_guard lock(m_mutex);
    return m_packages;
}

void SimPhone::setPackages(const QStringList &packages)
{
    std::lock_guard lock(m_mutex);
    m_packages = packages;
    saveLocked();
}

bool SimPhone::isWritablePath(const QString &path)
{
    if (path.contains(u"/../"_s) || path.endsWith(u"/.."_s) || path.endsWith(QLatin1Char('/')) || path.size() > 1024)
        return false;
    return path.startsWith(u"/data/local/tmp/"_s) || path.startsWith(u"/sdcard/"_s);
}

bool SimPhone::isDirectory(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    static const QStringList dirs = {u"/"_s, u"/data"_s, u"/data/local"_s, u"/data/local/tmp"_s, u"/sdcard"_s};
    return dirs.contains(p);
}

bool SimPhone::writeFile(const QString &path, const QByteArray &data)
{
    if (!isWritablePath(path))
        return false;
    std::lock_guard lock(m_mutex);
    m_files.insert(path, data);
    return true;
}

std::optional<QByteArray> SimPhone::file(const QString &path) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_files.constFind(path);
    if (it == m_files.constEnd())
        return std::nullopt;
    return *it;
}

bool SimPhone::removeFile(const QString &path)
{
    std::lock_guard lock(m_mutex);
    return m_files.remove(path) > 0;
}

QStringList SimPhone::files() const
{
    std::lock_guard lock(m_mutex);
    return m_files.keys();
}

QStringList SimPhone::logcat() const
{
    std::lock_guard lock(m_mutex);
    return m_logcat;
}

void SimPhone::log(const QString &line)
{
    std::lock_guard lock(m_mutex);
    m_logcat.append(line);
}

QStringList SimPhone::broadcasts() const
{
    std::lock_guard lock(m_mutex);
    return m_broadcasts;
}

QStringList SimPhone::startedActivities() const
{
    std::lock_guard lock(m_mutex);
    return m_activities;
}

QStringList SimPhone::shellHistory() const
{
    std::lock_guard lock(m_mutex);
    return m_history;
}

void SimPhone::setBroadcastHandler(std::function<void(const QString &, const QString &)> handler)
{
    std::lock_guard lock(m_mutex);
    m_broadcastHandler = std::move(handler);
}

QStringList SimPhone::splitWords(const QString &line, bool *ok)
{
    QStringList words;
    QString word;
    bool inWord = false;
    *ok = true;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\'')) {
            const qsizetype end = line.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0) {
                *ok = false;
                return {};
            }
            word += line.mid(i + 1, end - i - 1);
            i = end;
            inWord = true;
        } else if (c == QLatin1Char('"')) {
            qsizetype j = i + 1;
            for (; j < line.size() && line.at(j) != QLatin1Char('"'); ++j) {
                if (line.at(j) == QLatin1Char('\\') && j + 1 < line.size())
                    ++j;
                word += line.at(j);
            }
            if (j >= line.size()) {
                *ok = false;
                return {};
            }
            i = j;
            inWord = true;
        } else if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            word += line.at(++i);
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

SimPhone::ShellResult SimPhone::runShell(const QString &commandLine)
{
    {
        std::lock_guard lock(m_mutex);
        m_history.append(commandLine);
    }
    bool ok;
    QStringList args = splitWords(commandLine, &ok);
    // "</dev/null" as adb appends it to rm.
    args.removeAll(u"</dev/null"_s);
    if (!ok)
        return result({}, 2, "/system/bin/sh: syntax error: unterminated quoted string\n");
    if (args.isEmpty())
        return result({});
    const QString cmd = args.takeFirst();
    if (cmd == u"pm"_s)
        return pm(args);
    if (cmd == u"am"_s)
        return am(args);
    if (cmd == u"echo"_s)
        return result(args.join(QLatin1Char(' ')).toUtf8() + '\n');
    if (cmd == u"cat"_s)
        return cat(args);
    if (cmd == u"exit"_s)
        return result({}, args.isEmpty() ? 0 : args.first().toInt());
    if (cmd == u"getprop"_s) {
        const QMap<QString, QString> props = {{u"ro.serialno"_s, m_serial},
                                              {u"ro.product.model"_s, m_name},
                                              {u"ro.product.name"_s, u"phone_sim"_s},
                                              {u"ro.product.device"_s, u"phonesim"_s},
                                              {u"ro.build.version.sdk"_s, u"33"_s}};
        if (args.isEmpty()) {
            QByteArray out;
            for (auto it = props.cbegin(); it != props.cend(); ++it)
                out += u"[%1]: [%2]\n"_s.arg(it.key(), it.value()).toUtf8();
            return result(out);
        }
        return result(props.value(args.first()).toUtf8() + '\n');
    }
    if (cmd == u"dumpsys"_s && args.value(0) == u"package"_s && args.size() == 2) {
        // The lines of PackageManagerService's dump that tools read (Package [NAME], versionCode=N ...).
        const QString name = args.value(1);
        std::lock_guard lock(m_mutex);
        if (!m_packages.contains(name))
            return result("Dexopt state:\n");
        // A package put on the phone without a package file (a test's list) has no version to tell.
        const QJsonValue code = m_storeOther.value(u"versions"_s).toObject().value(name);
        const QString version =
            code.isDouble() ? u"    versionCode=%1 minSdk=21 targetSdk=29\n"_s.arg(code.toInteger()) : QString();
        return result(
            u"Packages:\n  Package [%1] (5f1c2a0):\n    userId=10123\n%2    versionName=sim\n"_s.arg(name, version)
                .toUtf8());
    }
    if (cmd == u"logcat"_s) {
        if (args.contains(u"-c"_s)) {
            std::lock_guard lock(m_mutex);
            m_logcat.clear();
            return result({});
        }
        if (!args.contains(u"-d"_s))
            return result({}, 1, "logcat: only -d and -c are simulated\n");
        QByteArray out;
        for (const QString &line : logcat())
            out += line.toUtf8() + '\n';
        return result(out);
    }
    if (cmd == u"rm"_s) {
        const bool force = args.contains(u"-f"_s) || args.contains(u"-rf"_s);
        QByteArray err;
        for (const QString &a : std::as_const(args)) {
            if (a.startsWith(QLatin1Char('-')))
                continue;
            if (!removeFile(a) && !force)
                err += u"rm: %1: No such file or directory\n"_s.arg(a).toUtf8();
        }
        return result({}, err.isEmpty() ? 0 : 1, err);
    }
    return result({}, 127, u"/system/bin/sh: %1: inaccessible or not found\n"_s.arg(cmd).toUtf8());
}

SimPhone::ShellResult SimPhone::pm(const QStringList &args)
{
    const QString sub = args.value(0);
    if (sub == u"list"_s && args.value(1) == u"packages"_s) {
        bool third = false, system = false;
        QString filter;
        for (const QString &a : args.mid(2)) {
            if (a == u"-3"_s)
                third = true;
            else if (a == u"-s"_s)
                system = true;
            else if (!a.startsWith(QLatin1Char('-')))
                filter = a;
        }
        QStringList names;
        if (!third)
            names += kSystemPackages;
        if (!system)
            names += packages();
        QByteArray out;
        for (const QString &n : std::as_const(names))
            if (filter.isEmpty() || n.contains(filter))
                out += "package:" + n.toUtf8() + '\n';
        return result(out);
    }
    if (sub == u"install"_s) {
        bool replace = false;
        QString path;
        for (const QString &a : args.mid(1)) {
            if (a == u"-r"_s)
                replace = true;
            else if (!a.startsWith(QLatin1Char('-')))
                path = a;
        }
        const std::optional<QByteArray> data = file(path);
        if (!data)
            return result({}, 1, u"Error: Unable to open file: %1\n"_s.arg(path).toUtf8());
        if (data->isEmpty())
            return result("Failure [INSTALL_FAILED_INVALID_APK: empty package file]\n", 1);
        ApkManifest manifest;
        QString failure;
        if (!packageOf(*data, &manifest, &failure))
            return result(u"Failure [%1]\n"_s.arg(failure).toUtf8(), 1);
        const QString name = manifest.package;
        {
            std::lock_guard lock(m_mutex);
            if (m_packages.contains(name) && !replace)
                return result("Failure [INSTALL_FAILED_ALREADY_EXISTS]\n", 1);
            if (!m_packages.contains(name))
                m_packages.append(name);
            // Kept for "dumpsys package", which reports an installed package's versionCode.
            QJsonObject versions = m_storeOther.value(u"versions"_s).toObject();
            versions.insert(name, manifest.versionCode);
            m_storeOther.insert(u"versions"_s, versions);
            m_logcat.append(u"I PackageManager: installed %1 (%2 bytes)"_s.arg(name).arg(data->size()));
            ++m_installs;
            saveLocked();
        }
        return result("Success\n");
    }
    if (sub == u"path"_s) {
        // PackageManagerShellCommand.runPath: the code path of every split, nothing and status 1 for a
        // package that is not installed.
        const QString name = args.value(args.size() - 1);
        if (args.size() < 2 || !(packages().contains(name) || kSystemPackages.contains(name)))
            return result({}, 1);
        return result(u"package:/data/app/~~c2ltdWxhdGVk==/%1-c2lt==/base.apk\n"_s.arg(name).toUtf8());
    }
    if (sub == u"uninstall"_s) {
        std::lock_guard lock(m_mutex);
        if (m_packages.removeAll(args.value(args.size() - 1)) == 0)
            return result("Failure [DELETE_FAILED_INTERNAL_ERROR]\n", 1);
        saveLocked();
        return result("Success\n");
    }
    return result({}, 1, "Error: unknown or unsimulated pm command\n");
}

SimPhone::ShellResult SimPhone::am(const QStringList &args)
{
    const QString sub = args.value(0);
    QString component, url, action;
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == u"-n"_s)
            component = args.at(++i);
        else if (args.at(i) == u"-d"_s)
            url = args.at(++i);
        else if (args.at(i) == u"-a"_s)
            action = args.at(++i);
    }
    const QString pkg = component.section(QLatin1Char('/'), 0, 0);
    if (sub == u"start"_s) {
        if (!pkg.isEmpty() && !packages().contains(pkg) && !kSystemPackages.contains(pkg))
            return result(u"Starting: Intent { cmp=%1 }\n"_s.arg(component).toUtf8(), 1,
                          u"Error type 3\nError: Activity class {%1} does not exist.\n"_s.arg(component).toUtf8());
        std::lock_guard lock(m_mutex);
        m_activities.append(component);
        m_logcat.append(u"I ActivityManager: START u0 {cmp=%1}"_s.arg(component));
        return result(u"Starting: Intent { cmp=%1 }\n"_s.arg(component).toUtf8());
    }
    if (sub == u"broadcast"_s) {
        std::function<void(const QString &, const QString &)> handler;
        {
            std::lock_guard lock(m_mutex);
            m_broadcasts.append(url);
            m_logcat.append(u"I ActivityManager: broadcast dat=%1 cmp=%2"_s.arg(url, component));
            handler = m_broadcastHandler;
        }
        if (handler)
            handler(url, component);
        QString intent = u"Broadcasting: Intent {"_s;
        if (!action.isEmpty())
            intent += u" act="_s + action;
        if (!url.isEmpty())
            intent += u" dat="_s + url;
        if (!component.isEmpty())
            intent += u" cmp="_s + component;
        return result((intent + u" }\nBroadcast completed: result=0\n"_s).toUtf8());
    }
    return result({}, 1, "Error: unknown or unsimulated am command\n");
}

SimPhone::ShellResult SimPhone::cat(const QStringList &paths)
{
    // The kernel's socket tables as the shell user reads them (tcp4_seq_show / tcp6_seq_show): each service
    // listening inside the phone is a socket in state 0A (TCP_LISTEN). The app's sockets are IPv6 ones (Java
    // binds 127.0.0.1 as ::ffff:127.0.0.1), so they show in tcp6; tcp holds only the header.
    QByteArray out, err;
    for (const QString &path : paths) {
        if (path == u"/proc/net/tcp"_s) {
            out += "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
        } else if (path == u"/proc/net/tcp6"_s) {
            out += "  sl  local_address                         remote_address                        st tx_queue "
                   "rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
            QList<quint16> ports;
            {
                std::lock_guard lock(m_mutex);
                ports = m_services.keys();
            }
            int slot = 0;
            for (quint16 port : std::as_const(ports)) {
                out += u"%1: 0000000000000000FFFF00000100007F:%2 00000000000000000000000000000000:0000 0A "
                       u"00000000:00000000 00:00000000 00000000 10123        0 %3 1 0000000000000000 100 0 0 10 0\n"_s
                           .arg(slot, 4)
                           .arg(QString::number(port, 16).toUpper().rightJustified(4, QLatin1Char('0')))
                           .arg(40000 + slot)
                           .toUtf8();
                ++slot;
            }
        } else {
            err += u"cat: %1: No such file or directory\n"_s.arg(path).toUtf8();
        }
    }
    return result(out, err.isEmpty() ? 0 : 1, err);
}

void SimPhone::listen(quint16 port, Service service)
{
    std::lock_guard lock(m_mutex);
    m_services.insert(port, std::move(service));
}

void SimPhone::unlisten(quint16 port)
{
    std::lock_guard lock(m_mutex);
    m_services.remove(port);
}

int SimPhone::connectService(quint16 port)
{
    Service service;
    {
        std::lock_guard lock(m_mutex);
        service = m_services.value(port);
    }
    int fds[2];
    if (!service || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return -1;
    const int theirs = fds[1];
    m_threads.start([service, theirs] { service(theirs); });
    return fds[0];
}

SimPhone::Service SimPhone::echoService()
{
    return [](int fd) {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            if (::send(fd, buf, size_t(n), MSG_NOSIGNAL) != n)
                break;
        }
        ::close(fd);
    };
}
