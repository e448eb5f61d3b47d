// The off-site copies through the command line against real repositories on loopback, each started here
// on a port of its own: a local folder, SFTP on a throwaway sshd, an append-only REST server (rclone).
#include "platform/Offsite.h"
#include "common/TestDb.h"
#include "common/TestFiles.h"
#include "platform/BackupDigest.h"
#include "platform/IniFile.h"
#include "platform/Restic.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <functional>
#include <limits>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out, err;
};

// qkadmin-cli with settings; during is called every 20 ms while it runs.
CliRun cli(const QStringList &args, const QString &settings,
           const std::function<void(QProcess &)> &during = {}) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), QStringList{"--settings", settings} + args);
    p.waitForStarted();
    QString out;
    QElapsedTimer t;
    t.start();
    while (!p.waitForFinished(20)) {
        out += QString::fromUtf8(p.readAllStandardOutput());
        if (during)
            during(p);
        if (t.elapsed() > 300000) {
            p.kill();
            p.waitForFinished();
            return {};
        }
    }
    out += QString::fromUtf8(p.readAllStandardOutput());
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, out,
            QString::fromUtf8(p.readAllStandardError())};
}

QString said(const CliRun &r) {
    return r.out + r.err;
}

// A port nobody listens on now, from the kernel.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), n);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// A loopback server of the test's own, stopped by its pid.
struct Server {
    QProcess p;
    int port = freePort();
    QString log;
    void start(const QString &program, const QStringList &args) {
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setStandardOutputFile(log);
        p.start(program, args);
        ASSERT_TRUE(p.waitForStarted()) << program.toStdString();
        for (int i = 0; i < 200 && !listening(port); ++i)
            QThread::msleep(25);
        ASSERT_TRUE(listening(port)) << program.toStdString()
                                     << " does not listen: " << TestFiles::read(log).toStdString();
    }
    void pause() { ::kill(pid_t(p.processId()), SIGSTOP); }
    void resume() { ::kill(pid_t(p.processId()), SIGCONT); }
    ~Server() {
        if (p.state() == QProcess::NotRunning)
            return;
        resume();
        ::kill(pid_t(p.processId()), SIGTERM);
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished();
        }
    }
};

// rclone's restic REST server that accepts additions only, with a user and password of its own.
struct RestServer : Server {
    QString user = "kopie", password = QString::number(QRandomGenerator::global()->generate64(), 36);
    explicit RestServer(const QString &folder, const QString &bwlimit = QString()) {
        log = folder + "rclone.log";
        QStringList args{"serve",
                         "restic",
                         folder + "dane",
                         "--addr",
                         QString("127.0.0.1:%1").arg(port),
                         "--append-only",
                         "--user",
                         user,
                         "--pass",
                         password,
                         "--config",
                         folder + "rclone.conf"};
        if (!bwlimit.isEmpty())
            args << "--bwlimit" << bwlimit;
        start("rclone", args);
    }
    QString repository(const QString &name) const {
        return QString("rest:http://%1:%2@127.0.0.1:%3/%4/").arg(user, password).arg(port).arg(name);
    }
};

// A throwaway sshd with its own host key, port and authorized_keys; the client's configuration beside it.
struct SftpServer : Server {
    QString folder, clientConfig;
    explicit SftpServer(const QString &f) : folder(f) {
        log = folder + "sshd.log";
        for (const char *k : {"host_key", "client_key"})
            QProcess::execute("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", folder + k});
        QFile::copy(folder + "client_key.pub", folder + "authorized_keys");
        const QString user = qEnvironmentVariable("USER", "root");
        TestFiles::write(folder + "sshd_config",
                         QString("Port %1\nListenAddress 127.0.0.1\nHostKey %2host_key\nPidFile %2sshd.pid\n"
                                 "AuthorizedKeysFile %2authorized_keys\nPasswordAuthentication "
                                 "no\nKbdInteractiveAuthentication no\n"
                                 "UsePAM no\nStrictModes no\nPermitRootLogin prohibit-password\nSubsystem "
                                 "sftp internal-sftp\n")
                             .arg(port)
                             .arg(folder)
                             .toUtf8());
        TestFiles::write(folder + "known_hosts", QString("[127.0.0.1]:%1 ").arg(port).toUtf8() +
                                                     TestFiles::read(folder + "host_key.pub"));
        clientConfig = folder + "ssh_config";
        TestFiles::write(
            clientConfig,
            QString("Host qkkopie\n  HostName 127.0.0.1\n  Port %1\n  User %2\n  IdentityFile %3client_key\n"
                    "  IdentitiesOnly yes\n  UserKnownHostsFile %3known_hosts\n  StrictHostKeyChecking yes\n"
                    "  BatchMode yes\n")
                .arg(port)
                .arg(::getuid() == 0 ? QString("root") : user, folder)
                .toUtf8());
        QDir().mkpath("/run/sshd");
        ::chmod("/run/sshd", 0755);
        EXPECT_EQ(QProcess::execute("/usr/sbin/sshd", {"-t", "-f", folder + "sshd_config"}), 0)
            << "the throwaway sshd's configuration (as root: /run/sshd, openssh-server)";
        start("/usr/sbin/sshd", {"-D", "-e", "-f", folder + "sshd_config"});
    }
    QString option() const { return QString("sftp.command=ssh -F %1 qkkopie -s sftp").arg(clientConfig); }
};

// The network between restic and a server: relays each connection, and after allowance bytes sent to the
// server relays nothing more (the connections stay open, as a line that went dead) until healed.
class Proxy {
public:
    explicit Proxy(int target) : m_target(target) {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(0);
        socklen_t n = sizeof a;
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), n);
        ::listen(m_listen, 16);
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &n);
        port = ntohs(a.sin_port);
        m_thread = std::thread([this] { relay(); });
    }
    ~Proxy() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    void cutAfter(qint64 bytes) { m_allowance = bytes; }
    void heal() { m_allowance = std::numeric_limits<qint64>::max(); }
    bool cut() const { return m_allowance <= 0; }
    int port = 0;

private:
    static sockaddr_in loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(quint16(port));
        return a;
    }
    void relay() {
        std::vector<std::pair<int, int>> pairs; // client, server
        while (!m_stop) {
            std::vector<pollfd> fds{{m_listen, POLLIN, 0}};
            const bool flowing = m_allowance > 0;
            for (const auto &[c, s] : pairs) {
                fds.push_back({c, short(flowing ? POLLIN : 0), 0});
                fds.push_back({s, short(flowing ? POLLIN : 0), 0});
            }
            ::poll(fds.data(), nfds_t(fds.size()), 20);
            const size_t polled = pairs.size(); // a connection accepted now is polled from the next round
            std::vector<bool> ended(polled, false);
            if (fds[0].revents & POLLIN) {
                const int c = ::accept(m_listen, nullptr, nullptr);
                const int s = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in t = loopback(m_target);
                if (::connect(s, reinterpret_cast<sockaddr *>(&t), sizeof t) == 0)
                    pairs.emplace_back(c, s);
                else {
                    ::close(c);
                    ::close(s);
                }
            }
            char buf[16384];
            for (size_t i = 0; i < polled && flowing; ++i) {
                for (int side = 0; side < 2; ++side) {
                    const pollfd &p = fds[1 + 2 * i + size_t(side)];
                    if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
                        continue;
                    const int from = side == 0 ? pairs[i].first : pairs[i].second;
                    const int to = side == 0 ? pairs[i].second : pairs[i].first;
                    qint64 want = sizeof buf;
                    if (side == 0)
                        want = std::min<qint64>(want, std::max<qint64>(0, m_allowance));
                    const ssize_t n = want > 0 ? ::read(from, buf, size_t(want)) : 0;
                    if (n <= 0) {
                        ended[i] = ended[i] || want > 0; // one side closed: the connection ends
                        continue;
                    }
                    if (side == 0)
                        m_allowance -= n;
                    [[maybe_unused]] const ssize_t w = ::write(to, buf, size_t(n));
                }
            }
            for (size_t i = polled; i-- > 0;)
                if (ended[i]) {
                    ::close(pairs[i].first);
                    ::close(pairs[i].second);
                    pairs.erase(pairs.begin() + qsizetype(i));
                }
        }
        for (const auto &[c, s] : pairs) {
            ::close(c);
            ::close(s);
        }
    }
    int m_target;
    int m_listen = -1;
    std::atomic<qint64> m_allowance{std::numeric_limits<qint64>::max()};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A folder of root's own (the suite runs as root): a privileged run takes its settings, keys and the
// programs it runs only from folders no one else may change.
QString ownFolder() {
    const QString f = TestDb::newFolder();
    ::chmod(QFile::encodeName(f).constData(), 0755);
    return f;
}

// A company: its settings file NAME.ini in a folder of its own, naming the database folder and the
// repository.
QString companySettings(const QString &name, const QString &databaseFolder, const QString &repository,
                        const QString &key, const QStringList &more = {}) {
    const QString ini = ownFolder() + name + ".ini";
    IniFile::writeString(ini, "Ogolne", "sciezka", databaseFolder.chopped(1));
    IniFile::writeString(ini, "Ogolne", "protokol", "T");
    IniFile::writeString(ini, "Zewnetrzna", "repozytorium", repository);
    IniFile::writeString(ini, "Zewnetrzna", "klucz", key);
    for (const QString &line : more)
        IniFile::writeString(ini, "Zewnetrzna", line.section('=', 0, 0), line.section('=', 1));
    return ini;
}

void writeKey(const QString &file, const QByteArray &key) {
    TestFiles::write(file, key);
    ::chmod(QFile::encodeName(file).constData(), 0600);
}

// The second key printed on the recovery sheet.
QByteArray sheetKey(const CliRun &init) {
    const QRegularExpressionMatch m = QRegularExpression("Klucz zapasowy: (\\S+)").match(init.out);
    return m.captured(1).toLatin1();
}

// Every month's documents, entries and sum of amounts: the books as an accountant would compare them.
QString books(const QString &folder) {
    QStringList parts;
    for (int m = 1; m <= 12; ++m)
        parts << QString(
                     "(select count(*) from FJ_DOK%1) || '/' || (select count(*) from FJ_ZAP%1) || '/' || "
                     "(select coalesce(sum(KWOTA), 0) from FJ_ZAP%1)")
                     .arg(m);
    return TestDb::scalar(folder, "select " + parts.join(" || ' ' || ") + " from RDB$DATABASE");
}

// On an empty machine: a new folder, no database and no backup; the settings (same company) and a key.
// fetch latest --yes, then restore --yes, must bring back the books as they were backed up.
void drill(const QString &company, const QString &repository, const QString &key,
           const QString &expectedBooks, const QStringList &more = {}) {
    const QString empty = TestDb::newFolder();
    const QString ini = companySettings(company, empty, repository, key, more);
    const CliRun fetch = cli({"offsite", "fetch", "latest", "--yes"}, ini);
    ASSERT_EQ(fetch.exitCode, 0) << said(fetch).toStdString();
    EXPECT_TRUE(fetch.out.contains("suma kontrolna SHA-256 zgodna, struktura cała"))
        << fetch.out.toStdString();
    const CliRun restore = cli({"restore", "--yes"}, ini);
    ASSERT_EQ(restore.exitCode, 0) << said(restore).toStdString();
    EXPECT_EQ(books(empty), expectedBooks);
    EXPECT_EQ(TestDb::scalar(empty, "select Bila from FJ_BAZA where LP = 1").trimmed(), QString("N"));
}

qint64 summaryNumber(const CliRun &r, const char *name) {
    const QRegularExpressionMatch m = QRegularExpression(QString(" %1=(\\d+)").arg(name)).match(r.out);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

// A night's work: 1 % of December's entries changed, a few new ones.
void nightsWork(const QString &folder) {
    TestDb::exec(folder, "update FJ_ZAP12 set KWOTA = KWOTA + 1 where mod(NUMEWI, 100) = 0");
    TestDb::exec(
        folder,
        "insert into FJ_ZAP12 (NUMEWI, NUMPOZ, STRONA, KONTO, KWOTA, KWORO) select NUMEWI + 100000, NUMPOZ, "
        "STRONA, KONTO, KWOTA, KWORO from FJ_ZAP12 where NUMEWI < 20");
}

// restic itself on a repository, for what the test sets up behind the program's back.
QProcess *restic(const QString &repository, const QString &key, const QStringList &args) {
    auto *p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("RESTIC_PASSWORD_FILE", key);
    env.insert("RESTIC_REPOSITORY", repository);
    p->setProcessEnvironment(env);
    p->start("restic", args);
    p->waitForStarted();
    return p;
}

// The locks written whole in a local repository (restic writes each under a name of its own first).
int wholeLocks(const QString &repository) {
    return int(QDir(repository + "/locks")
                   .entryList(QDir::Files)
                   .filter(QRegularExpression("^[0-9a-f]{64}$"))
                   .size());
}

// Waits (half a minute at most) until a local repository holds one lock more than it held before the
// process that takes it started: restic opening a repository takes a while on a busy machine.
void waitForALock(const QString &repository, int before) {
    QElapsedTimer t;
    t.start();
    while (wholeLocks(repository) <= before && t.elapsed() < 30000)
        QThread::msleep(5);
}

int lockCount(const QString &repository, const QString &key) {
    std::unique_ptr<QProcess> p(restic(repository, key, {"list", "locks", "--no-lock"}));
    p->waitForFinished(60000);
    return int(p->readAllStandardOutput().count('\n'));
}

// Whether text appears in the command line or the environment of any process now (restic's environment
// allowed when allowRestic: it holds the key file's path, never the key).
QStringList processesHolding(const QByteArray &text) {
    QStringList found;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        if (pid.toInt() <= 0)
            continue;
        for (const char *what : {"cmdline", "environ"}) {
            QFile f("/proc/" + pid + "/" + what);
            if (f.open(QIODevice::ReadOnly) && f.readAll().contains(text))
                found << pid + "/" + what + " (" +
                             QString::fromUtf8(TestFiles::read("/proc/" + pid + "/comm")).trimmed() + ")";
        }
    }
    return found;
}

} // namespace

TEST(OffsiteFolder, ANightsCopyAddsAFractionAndTheDrillRebuildsTheBooks) {
    TestDb::Spec spec;
    // A backup of many of restic's chunks (about a megabyte each): a night re-stores the header's, the
    // changed table's and the end's.
    spec.scale.documentsPerMonth = 4000;
    const QString db = TestDb::createDatabase(spec);
    const QString repo = TestDb::newFolder() + "repozytorium";
    const QString key = ownFolder() + "firma1.key";
    const QString ini = companySettings("firma1", db, repo, key, {"zachowaj=2"});

    const CliRun init = cli({"offsite", "init"}, ini);
    ASSERT_EQ(init.exitCode, 0) << said(init).toStdString();
    EXPECT_TRUE(init.out.contains("KARTA ODTWORZENIOWA")) << init.out.toStdString();
    const QByteArray second = sheetKey(init);
    EXPECT_GE(second.size(), 40);
    EXPECT_EQ(QFileInfo(key).permissions() & 0x0077, 0);  // the key made for the owner alone
    EXPECT_EQ(cli({"offsite", "init"}, ini).exitCode, 1); // a second init creates nothing

    const CliRun first = cli({"backup", "--verify", "--offsite"}, ini);
    ASSERT_EQ(first.exitCode, 0) << said(first).toStdString();
    const qint64 backupBytes = QFileInfo(db + "bazaqk.abk").size();
    const qint64 firstAdded = summaryNumber(first, "added");
    EXPECT_GT(firstAdded, backupBytes / 10);

    nightsWork(db);
    const CliRun night = cli({"backup", "--offsite"}, ini);
    ASSERT_EQ(night.exitCode, 0) << said(night).toStdString();
    const qint64 nightAdded = summaryNumber(night, "added");
    EXPECT_GT(nightAdded, 0);
    EXPECT_LT(nightAdded, backupBytes / 2)
        << "a night's copy of a " << backupBytes << "-byte backup added " << nightAdded;
    const QString expected = books(db);

    const CliRun list = cli({"offsite", "list"}, ini);
    ASSERT_EQ(list.exitCode, 0) << said(list).toStdString();
    const QStringList lines =
        list.out.split('\n', Qt::SkipEmptyParts).filter(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d "));
    ASSERT_EQ(lines.size(), 2) << list.out.toStdString();
    EXPECT_TRUE(lines[0].endsWith("  " + night.out.section(" snapshot=", 1).trimmed()))
        << list.out.toStdString();
    EXPECT_TRUE(lines[1].endsWith("  " + first.out.section(" snapshot=", 1).trimmed()))
        << list.out.toStdString();
    EXPECT_TRUE(lines[0].contains(db + "bazaqk.adb"));

    // Health: the copy is fresh, and its bytes are this machine's record.
    const CliRun health = cli({"health"}, ini);
    EXPECT_TRUE(health.out.contains("OK poza: najnowsza kopia poza siedzibą")) << health.out.toStdString();
    const CliRun all = cli({"health", "--all", QFileInfo(ini).path()}, ini);
    EXPECT_TRUE(all.out.contains("OK poza: najnowsza kopia poza siedzibą")) << all.out.toStdString();
    const CliRun metrics = cli({"health", "--format", "prometheus"}, ini);
    EXPECT_TRUE(metrics.out.contains(
        QString("qkadmin_offsite_bytes{company=\"firma1\",kind=\"added\"} %1\n").arg(nightAdded)))
        << metrics.out.toStdString();
    EXPECT_TRUE(metrics.out.contains("qkadmin_offsite_age_seconds{company=\"firma1\"} "));

    // Another company's view of the same repository: none of these copies is its own.
    const QString other = companySettings("firma2", db, repo, key);
    EXPECT_TRUE(cli({"offsite", "list"}, other).out.contains("nie ma kopii firmy firma2"));
    const QByteArray before = TestFiles::read(db + "bazaqk.abk");
    const CliRun foreign = cli({"offsite", "fetch", "latest", "--yes"}, other);
    EXPECT_EQ(foreign.exitCode, 1);
    EXPECT_TRUE(foreign.err.contains("nie ma kopii firmy firma2")) << said(foreign).toStdString();
    EXPECT_EQ(TestFiles::read(db + "bazaqk.abk"), before);
    EXPECT_TRUE(cli({"health"}, other).out.contains("CRITICAL poza: w repozytorium"));

    // The drill with the key from the recovery sheet alone.
    const QString sheet = ownFolder() + "klucz-z-karty";
    writeKey(sheet, second);
    drill("firma1", repo, sheet, expected);

    // A third night: the retention keeps the two newest copies, the first one forgotten and pruned.
    nightsWork(db);
    const CliRun third = cli({"backup", "--offsite"}, ini);
    ASSERT_EQ(third.exitCode, 0) << said(third).toStdString();
    const QString kept = cli({"offsite", "list"}, ini).out;
    EXPECT_EQ(kept.count(" " + db + "bazaqk.adb  "), 2) << kept.toStdString();
    EXPECT_FALSE(kept.contains(first.out.section(" snapshot=", 1).trimmed())) << kept.toStdString();

    // Behind the program's back: two copies dated two days ahead (a clock that ran ahead) and three
    // snapshots with the company's tags but no backup (restic by hand); then a prune killed mid-way, its
    // exclusive lock left. The night's copy is made past the lock and is never forgotten; the others of
    // the company's count by the date they were made, the hand-made ones not at all.
    const QString ahead = Restic::timeArgument(QDateTime::currentDateTime().addDays(2));
    for (int i = 0; i < 2; ++i) {
        std::unique_ptr<QProcess> p(restic(repo, key,
                                           {"backup", "--tag", "qkadmin,firma=firma1", "--time", ahead,
                                            db + "bazaqk.abk", db + "bazaqk.abk.sha256"}));
        ASSERT_TRUE(p->waitForFinished(60000) && p->exitCode() == 0)
            << p->readAllStandardError().toStdString();
    }
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<QProcess> p(
            restic(repo, key, {"backup", "--tag", "qkadmin,firma=firma1", "--stdin"}));
        p->write("nie kopia");
        p->closeWriteChannel();
        ASSERT_TRUE(p->waitForFinished(60000) && p->exitCode() == 0);
    }
    {
        const int before = wholeLocks(repo);
        std::unique_ptr<QProcess> prune(restic(repo, key, {"prune"}));
        waitForALock(repo, before);
        ::kill(pid_t(prune->processId()), SIGKILL);
        prune->waitForFinished();
        ASSERT_EQ(lockCount(repo, key), 1) << "the killed prune's lock";
    }
    nightsWork(db);
    const CliRun fourth = cli({"backup", "--offsite"}, ini);
    ASSERT_EQ(fourth.exitCode, 0) << said(fourth).toStdString();
    EXPECT_TRUE(fourth.out.contains("ma datę z przyszłości")) << fourth.out.toStdString();
    const QString made = fourth.out.section(" snapshot=", 1).trimmed();
    const QString now = cli({"offsite", "list"}, ini).out;
    EXPECT_TRUE(now.contains("  " + made + "\n")) << now.toStdString();
    EXPECT_EQ(now.count(" " + db + "bazaqk.adb  "), 3) << now.toStdString(); // the two ahead and tonight's
    std::unique_ptr<QProcess> all3(restic(repo, key, {"snapshots", "--json", "--no-lock"}));
    ASSERT_TRUE(all3->waitForFinished(60000));
    EXPECT_EQ(Restic::parseSnapshots(all3->readAllStandardOutput())->size(), 6) << "the hand-made three stay";
    const CliRun ahead2 = cli({"health"}, ini);
    EXPECT_TRUE(ahead2.out.contains("WARNING poza:") && ahead2.out.contains("data z przyszłości"))
        << ahead2.out.toStdString();
    EXPECT_FALSE(ahead2.out.contains("(-")) << ahead2.out.toStdString();
}

TEST(OffsiteFolder, RootTakesItsOrdersFromTheFileItCheckedAndHandsResticNoSecret) {
    // restic's ssh is a stand-in that keeps its environment; another settings file, of root's too,
    // would run another program. A second process renames it over the company's file the moment the run
    // has read it: the run goes on with what it read.
    const QString f = ownFolder();
    auto script = [&](const QString &name, const QByteArray &body) {
        TestFiles::write(f + name, "#!/bin/sh\n" + body + "\n");
        ::chmod(QFile::encodeName(f + name).constData(), 0755);
    };
    script("ssh", "tr '\\0' '\\n' < /proc/$$/environ > " + QFile::encodeName(f) + "env.txt; exit 1");
    script("inny", "touch " + QFile::encodeName(f) + "inny-uruchomiony; exit 1");
    const QString key = f + "firma1.key";
    writeKey(key, "klucz-tajny-123");
    const QString db = TestDb::newFolder();
    const QString ini =
        companySettings("firma1", db, "sftp:kopie:/kopie", key, {"opcje=sftp.command=" + f + "ssh"});
    const QString other = QFileInfo(ini).path() + "/inny.ini";
    TestFiles::write(
        other, TestFiles::read(ini).replace(QFile::encodeName(f + "ssh"), QFile::encodeName(f + "inny")));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t operatorProcess = ::fork();
    if (operatorProcess == 0) {
        const int in = ::inotify_init();
        ::inotify_add_watch(in, QFile::encodeName(ini).constData(), IN_CLOSE_NOWRITE);
        [[maybe_unused]] const ssize_t w = ::write(ready[1], "r", 1);
        char event[4096];
        [[maybe_unused]] const ssize_t r = ::read(in, event, sizeof event);
        ::rename(QFile::encodeName(other).constData(), QFile::encodeName(ini).constData());
        ::_exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    qputenv("ISC_PASSWORD", "haslo-serwera-456");
    qputenv("ISC_USER", "SYSDBA");
    const CliRun list = cli({"offsite", "list"}, ini);
    qunsetenv("ISC_PASSWORD");
    qunsetenv("ISC_USER");
    int status = 0;
    ::waitpid(operatorProcess, &status, 0);
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(other)) << "the second process renamed its file over the company's";
    EXPECT_FALSE(QFileInfo::exists(f + "inny-uruchomiony")) << said(list).toStdString();
    const QByteArray env = TestFiles::read(f + "env.txt");
    ASSERT_FALSE(env.isEmpty()) << said(list).toStdString();
    EXPECT_TRUE(env.contains("\nPATH=") || env.startsWith("PATH=")) << env.toStdString();
    for (const char *secret : {"ISC_PASSWORD", "ISC_USER", "haslo-serwera-456", "klucz-tajny-123"})
        EXPECT_FALSE(env.contains(secret)) << secret;

    // In a folder the group may write, the same file orders nothing: another could have put it there.
    ::chmod(QFile::encodeName(QFileInfo(ini).path()).constData(), 0775);
    const CliRun shared = cli({"offsite", "list"}, ini);
    EXPECT_EQ(shared.exitCode, 1);
    EXPECT_TRUE(shared.err.contains("plik ustawień może podmienić ktoś inny niż root"))
        << said(shared).toStdString();
}

TEST(OffsiteFolder, FaultsAreSaidAndLeaveTheLocalChainAsItWas) {
    const QString db = TestDb::createDatabase();
    const QString repo = TestDb::newFolder() + "repozytorium";
    const QString key = ownFolder() + "firma1.key";
    const QString ini = companySettings("firma1", db, repo, key);
    const CliRun init = cli({"offsite", "init"}, ini);
    ASSERT_EQ(init.exitCode, 0) << said(init).toStdString();
    ASSERT_EQ(cli({"backup", "--offsite"}, ini).exitCode, 0);
    const QByteArray backup = TestFiles::read(db + "bazaqk.abk"),
                     digest = TestFiles::read(db + "bazaqk.abk.sha256");
    auto untouched = [&] {
        EXPECT_EQ(TestFiles::read(db + "bazaqk.abk"), backup);
        EXPECT_EQ(TestFiles::read(db + "bazaqk.abk.sha256"), digest);
        EXPECT_FALSE(QFileInfo::exists(db + "bazaqk-pobierana"));
    };

    // A wrong key, and a key file others may read.
    const QString wrong = ownFolder() + "zly.key";
    writeKey(wrong, "to nie ten klucz");
    const CliRun w = cli({"offsite", "copy"}, companySettings("firma1", db, repo, wrong));
    EXPECT_EQ(w.exitCode, 1);
    EXPECT_TRUE(w.err.contains("nie otwiera repozytorium") && w.err.contains("(zły klucz)"))
        << said(w).toStdString();
    ::chmod(QFile::encodeName(key).constData(), 0644);
    const CliRun open = cli({"offsite", "copy"}, ini);
    EXPECT_EQ(open.exitCode, 1);
    EXPECT_TRUE(open.err.contains("mogą czytać lub zmieniać inni")) << said(open).toStdString();
    ::chmod(QFile::encodeName(key).constData(), 0600);
    // A backup without its digest never leaves.
    QFile::rename(db + "bazaqk.abk.sha256", db + "odlozona.sha256");
    const CliRun bare = cli({"offsite", "copy"}, ini);
    EXPECT_EQ(bare.exitCode, 1);
    EXPECT_TRUE(bare.err.contains("nie zostanie wysłana poza siedzibę")) << said(bare).toStdString();
    QFile::rename(db + "odlozona.sha256", db + "bazaqk.abk.sha256");
    untouched();

    // A run killed with its lock left behind is no obstacle; a live run's lock is never removed.
    const int before = wholeLocks(repo);
    std::unique_ptr<QProcess> killed(restic(repo, key, {"backup", "--stdin", "--stdin-filename", "x"}));
    waitForALock(repo, before);
    ::kill(pid_t(killed->processId()), SIGKILL);
    killed->waitForFinished();
    ASSERT_GE(lockCount(repo, key), 1);
    const CliRun afterKill = cli({"offsite", "check"}, ini);
    EXPECT_EQ(afterKill.exitCode, 0) << said(afterKill).toStdString();
    const int beforeLive = wholeLocks(repo);
    std::unique_ptr<QProcess> live(restic(repo, key, {"backup", "--stdin", "--stdin-filename", "x"}));
    waitForALock(repo, beforeLive);
    const CliRun locked = cli({"offsite", "check"}, ini);
    EXPECT_EQ(locked.exitCode, 1);
    EXPECT_TRUE(said(locked).contains("zablokowane przez operację, która wciąż trwa"))
        << said(locked).toStdString();
    EXPECT_GE(lockCount(repo, key), 1);
    live->write("dane");
    live->closeWriteChannel();
    EXPECT_TRUE(live->waitForFinished(60000));
    EXPECT_EQ(lockCount(repo, key), 0);

    // A link planted where the fetch keeps its scratch folder goes as a link: what it points to is untouched.
    const QString elsewhere = TestDb::newFolder();
    TestFiles::write(elsewhere + "wazne.txt", "nie ruszać");
    ASSERT_TRUE(QFile::link(elsewhere, db + "bazaqk-pobierana"));
    const CliRun linked = cli({"offsite", "fetch", "latest", "--yes"}, ini);
    EXPECT_EQ(linked.exitCode, 0) << said(linked).toStdString();
    EXPECT_EQ(TestFiles::read(elsewhere + "wazne.txt"), QByteArray("nie ruszać"));
    untouched(); // the same backup, fetched back

    // The check with a restore: the newest copy restored into a scratch database and validated.
    const CliRun restored = cli({"offsite", "check", "--restore"}, ini);
    EXPECT_EQ(restored.exitCode, 0) << said(restored).toStdString();
    EXPECT_TRUE(restored.out.contains("odtworzona do bazy próbnej i sprawdzona"))
        << said(restored).toStdString();
    untouched();
    // Three bytes of a relation's name changed and the digest made again: the digest and the walk pass
    // it, only the restore does not.
    {
        const QByteArray good = TestFiles::read(db + "bazaqk.abk"),
                         goodDigest = TestFiles::read(db + "bazaqk.abk.sha256");
        QByteArray bad = good;
        const qsizetype at = bad.indexOf("FJ_ZAP1");
        ASSERT_GT(at, 0);
        bad.replace(at + 3, 3, "XYZ");
        TestFiles::write(db + "bazaqk.abk", bad);
        BackupDigest::write(db + "bazaqk.abk");
        ASSERT_EQ(cli({"offsite", "copy"}, ini).exitCode, 0);
        const CliRun plain = cli({"offsite", "check"}, ini);
        EXPECT_EQ(plain.exitCode, 0) << said(plain).toStdString();
        const CliRun refused = cli({"offsite", "check", "--restore"}, ini);
        EXPECT_EQ(refused.exitCode, 1) << said(refused).toStdString();
        EXPECT_TRUE(refused.out.contains("nie odtwarza się do bazy próbnej")) << said(refused).toStdString();
        TestFiles::write(db + "bazaqk.abk", good);
        TestFiles::write(db + "bazaqk.abk.sha256", goodDigest);
        ASSERT_EQ(cli({"offsite", "copy"}, ini).exitCode, 0); // the newest copy the good one again
    }
    untouched();

    // One changed byte in every pack: the fetch refuses the copy, the check reading the data finds it.
    QDirIterator packs(repo + "/data", QDir::Files, QDirIterator::Subdirectories);
    int changed = 0;
    while (packs.hasNext()) {
        QFile f(packs.next());
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        char c = 0;
        ASSERT_TRUE(f.seek(f.size() / 3) && f.getChar(&c) && f.seek(f.size() / 3) &&
                    f.putChar(char(c ^ 0x5a)));
        ++changed;
    }
    ASSERT_GT(changed, 0);
    const CliRun damaged = cli({"offsite", "fetch", "latest", "--yes"}, ini);
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_TRUE(damaged.err.contains("Nic nie zostało zmienione")) << said(damaged).toStdString();
    untouched();
    const CliRun readAll = cli({"offsite", "check", "--read-data", "100"}, ini);
    EXPECT_EQ(readAll.exitCode, 1);
    EXPECT_TRUE(readAll.out.contains("Repozytorium: BŁĄD: restic check znalazł błędy"))
        << said(readAll).toStdString();

    // A full remote disk.
    if (::getuid() != 0) {
        ADD_FAILURE() << "a full disk is a small tmpfs mounted by the test: run the suite as root";
        return;
    }
    const QString small = TestDb::newFolder() + "maly";
    QDir().mkpath(small);
    ASSERT_EQ(::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=2m"), 0)
        << std::strerror(errno);
    struct Unmount {
        QString at;
        ~Unmount() { ::umount2(QFile::encodeName(at).constData(), MNT_DETACH); }
    } unmount{small};
    const QString fullIni = companySettings("firma1", db, small + "/repo", key, {"limit=10"});
    ASSERT_EQ(cli({"offsite", "init"}, fullIni).exitCode, 0);
    {
        QFile filler(small + "/zajete");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    } // the remote disk is full
    const CliRun full = cli({"offsite", "copy"}, fullIni);
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_TRUE(full.err.contains("Brak miejsca w repozytorium")) << said(full).toStdString();
    untouched();

    // The same disk mounted read-only: said at once, in Polish.
    ASSERT_EQ(
        ::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=2m"), 0)
        << std::strerror(errno);
    QElapsedTimer readOnlyTime;
    readOnlyTime.start();
    const CliRun readOnly = cli({"offsite", "copy"}, fullIni);
    EXPECT_EQ(readOnly.exitCode, 1);
    EXPECT_TRUE(readOnly.err.contains("jest tylko do odczytu")) << said(readOnly).toStdString();
    EXPECT_LT(readOnlyTime.elapsed(), 10000);

    // A fetch into a database folder with less room than the backup its copy recorded: refused before a
    // byte is fetched, in Polish.
    const QString tight = TestDb::newFolder() + "ciasny";
    QDir().mkpath(tight);
    ASSERT_EQ(::mount("tmpfs", QFile::encodeName(tight).constData(), "tmpfs", 0, "size=64k"), 0);
    Unmount unmountTight{tight};
    const CliRun room =
        cli({"offsite", "fetch", "latest", "--yes"}, companySettings("firma1", tight + "/", repo, key));
    EXPECT_EQ(room.exitCode, 1);
    EXPECT_TRUE(room.err.contains("Za mało miejsca na dysku w folderze " + tight))
        << said(room).toStdString();
    EXPECT_EQ(QDir(tight).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList({"bazaqk.abk.lock"}));
}

TEST(OffsiteSftp, TheDrillThroughAThrowawaySshServer) {
    const QString db = TestDb::createDatabase();
    SftpServer sftp(ownFolder());
    const QString key = ownFolder() + "firma1.key";
    const QStringList more{"opcje=" + sftp.option()};
    const QString repository = "sftp:qkkopie:" + sftp.folder + "repozytorium";
    const QString ini = companySettings("firma1", db, repository, key, more);
    const CliRun init = cli({"offsite", "init"}, ini);
    ASSERT_EQ(init.exitCode, 0) << said(init).toStdString();
    const CliRun copy = cli({"backup", "--offsite"}, ini);
    ASSERT_EQ(copy.exitCode, 0) << said(copy).toStdString();
    EXPECT_TRUE(QFileInfo::exists(sftp.folder + "repozytorium/config"));
    drill("firma1", repository, key, books(db), more);
}

TEST(OffsiteRest, AnAppendOnlyServerKeepsItsCopiesAndTheKeyIsSeenByNoProcess) {
    const QString db = TestDb::createDatabase();
    const QString folder = TestDb::newFolder();
    RestServer rest(folder);
    const QString key = ownFolder() + "firma1.key";
    const QString repository = rest.repository("firma1");
    const QString ini = companySettings("firma1", db, repository, key, {"zachowaj=1"});
    const QByteArray keyBytes = "klucz-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
    writeKey(key, keyBytes);

    // Neither the key nor the server's password is in any process's command line or environment meanwhile.
    QStringList exposed;
    const auto watch = [&](QProcess &) {
        exposed += processesHolding(keyBytes);
        exposed += processesHolding(rest.password.toLatin1());
    };
    ASSERT_EQ(cli({"offsite", "init"}, ini, watch).exitCode, 0);
    const CliRun first = cli({"backup", "--offsite"}, ini, watch);
    ASSERT_EQ(first.exitCode, 0) << said(first).toStdString();
    nightsWork(db);
    const CliRun second = cli({"backup", "--offsite"}, ini, watch);
    ASSERT_EQ(second.exitCode, 0) << said(second).toStdString();
    exposed.removeDuplicates();
    exposed = exposed.filter(
        QRegularExpression("\\((?!rclone)")); // the server's own command line holds its password
    EXPECT_EQ(exposed, QStringList());
    // The retention's deletion refused: said once, not an error of the copy.
    EXPECT_EQ(second.out.count("przyjmuje tylko dopisywanie"), 1) << second.out.toStdString();
    EXPECT_FALSE(said(second).contains(rest.password));
    const CliRun list = cli({"offsite", "list"}, ini);
    EXPECT_EQ(list.out.count(" " + db + "bazaqk.adb  "), 2) << list.out.toStdString();
    const QString expected = books(db);
    drill("firma1", repository, key, expected);

    // The server stops answering: health says UNKNOWN for the copies within its limit, the others judged.
    rest.pause();
    const CliRun unknown = cli({"health", "--timeout", "4"}, ini);
    EXPECT_EQ(unknown.exitCode, 3) << said(unknown).toStdString();
    EXPECT_TRUE(unknown.out.contains("UNKNOWN poza: repozytorium rest:http://kopie:***@"))
        << unknown.out.toStdString();
    EXPECT_TRUE(unknown.out.contains("OK blokada:"));
    rest.resume();
    const CliRun back = cli({"health"}, ini);
    EXPECT_TRUE(back.out.contains("OK poza:")) << back.out.toStdString();
}

TEST(OffsiteRest, ALineThatGoesDeadMidwayFailsThatNightAndAnInterruptedCopyRemovesItsLock) {
    TestDb::Spec spec;
    spec.scale.documentsPerMonth = 300; // a backup of a few packs: the line can go dead between them
    const QString db = TestDb::createDatabase(spec);
    const QString folder = TestDb::newFolder();
    RestServer rest(folder);
    Proxy line(rest.port);
    const QString key = ownFolder() + "firma1.key";
    const QString repository =
        QString("rest:http://%1:%2@127.0.0.1:%3/firma1/").arg(rest.user, rest.password).arg(line.port);
    const QString ini = companySettings("firma1", db, repository, key, {"limit=6"});
    ASSERT_EQ(cli({"offsite", "init"}, ini).exitCode, 0);
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
    const QByteArray local = TestFiles::read(db + "bazaqk.abk");

    // The line dies once restic has sent the first 100 kB of the backup's data.
    line.cutAfter(100000);
    const CliRun midway = cli({"offsite", "copy"}, ini);
    EXPECT_TRUE(line.cut());
    EXPECT_EQ(midway.exitCode, 1) << said(midway).toStdString();
    EXPECT_TRUE(midway.err.contains("nie odpowiada: przez 6 s nic nie zostało przesłane"))
        << said(midway).toStdString();
    EXPECT_EQ(TestFiles::read(db + "bazaqk.abk"), local);
    line.heal();
    EXPECT_TRUE(cli({"offsite", "list"}, ini).out.contains("nie ma kopii firmy firma1"));

    // A signal while the copy hangs on the dead line: restic is stopped with SIGINT and, the line back,
    // removes its lock before it ends.
    line.cutAfter(100000);
    bool signalled = false;
    const CliRun interrupted = cli({"offsite", "copy"}, ini, [&](QProcess &p) {
        if (!signalled && line.cut()) {
            QThread::msleep(500);
            ::kill(pid_t(p.processId()), SIGTERM);
            QThread::msleep(300);
            line.heal();
            signalled = true;
        }
    });
    EXPECT_TRUE(signalled);
    EXPECT_EQ(interrupted.exitCode, 1) << said(interrupted).toStdString();
    EXPECT_TRUE(said(interrupted).contains("Przerwano sygnałem SIGTERM")) << said(interrupted).toStdString();
    // The interrupted run removed its own lock; at most the dead line's run's is left (its removal, held in
    // the dead line, may still get through once the line is back).
    EXPECT_LE(lockCount(repository, key), 1);

    // The next night's copy succeeds, past the lock the dead line's run left.
    const CliRun next = cli({"offsite", "copy"}, ini);
    EXPECT_EQ(next.exitCode, 0) << said(next).toStdString();
    EXPECT_EQ(cli({"offsite", "list"}, ini).out.count(" " + db + "bazaqk.adb  "), 1);
}

// The repository's folder moved away while restic writes into it (a disk pulled out, a share gone): no
// copy is said or recorded, nothing is left at the old place; after it, no advice to make a new
// repository there, and an empty mount point stays empty.
TEST(OffsiteFolder, ARepositoryMovedAwayMidCopyIsNoCopyAndLeavesNothingBehind) {
    TestDb::Spec spec;
    spec.scale.documentsPerMonth = 4000; // restic busy long enough to be caught writing
    const QString db = TestDb::createDatabase(spec);
    const QString repo = TestDb::newFolder() + "repozytorium", moved = repo + "-przeniesione";
    const QString key = ownFolder() + "firma1.key";
    const QString ini = companySettings("firma1", db, repo, key);
    ASSERT_EQ(cli({"offsite", "init"}, ini).exitCode, 0);
    ASSERT_EQ(cli({"backup", "--offsite"}, ini).exitCode, 0);
    const QString record = db + "bazaqk.abk.poza";
    const QByteArray recorded = TestFiles::read(record);
    ASSERT_FALSE(recorded.isEmpty());
    nightsWork(db);
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);

    // Moved as soon as restic holds its lock in the repository: it has read the config and writes on.
    bool movedAway = false;
    const CliRun copy = cli({"offsite", "copy"}, ini, [&](QProcess &) {
        if (!movedAway && !QDir(repo + "/locks").entryList(QDir::Files).isEmpty())
            movedAway = QDir().rename(repo, moved);
    });
    ASSERT_TRUE(movedAway) << said(copy).toStdString();
    EXPECT_EQ(copy.exitCode, 1) << said(copy).toStdString();
    EXPECT_TRUE(copy.err.contains("nie została zapisana: repozytorium " + repo + " zniknęło"))
        << said(copy).toStdString();
    EXPECT_FALSE(copy.out.contains("Kopia poza siedzibą zapisana")) << copy.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(repo)) << QDir(repo).entryList().join(' ').toStdString();
    EXPECT_EQ(TestFiles::read(record), recorded); // still the copy that is in the repository

    // Copies were recorded here: the folder missing is a repository that went away, never one to create.
    const CliRun again = cli({"offsite", "copy"}, ini);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.err.contains("nie jest tam, gdzie było")) << said(again).toStdString();
    EXPECT_FALSE(said(again).contains("offsite init")) << said(again).toStdString();
    const CliRun list = cli({"offsite", "list"}, ini);
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_TRUE(list.err.contains("nie jest tam, gdzie było")) << said(list).toStdString();
    EXPECT_FALSE(QFileInfo::exists(repo));

    // An empty mount point (the disk not mounted): refused before restic writes a byte there.
    QDir().mkpath(repo);
    EXPECT_EQ(cli({"offsite", "copy"}, ini).exitCode, 1);
    EXPECT_EQ(QDir(repo).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    QDir().rmdir(repo);

    // Back where it was: the copy goes and the list holds it.
    ASSERT_TRUE(QDir().rename(moved, repo));
    const CliRun over = cli({"offsite", "init"}, ini); // a location that holds files is nobody's new one
    EXPECT_EQ(over.exitCode, 1);
    EXPECT_TRUE(over.err.contains("są już pliki")) << said(over).toStdString();
    const CliRun back = cli({"offsite", "copy"}, ini);
    ASSERT_EQ(back.exitCode, 0) << said(back).toStdString();
    const auto sent = Offsite::readRecord(db + "bazaqk.abk");
    ASSERT_TRUE(sent);
    EXPECT_TRUE(cli({"offsite", "list"}, ini).out.contains(sent->snapshot));
}

// A bureau's night: the companies' copies go into one repository by one run of all, at once; each
// company's retention forgets its own copies, and the repository is pruned once, at the end.
TEST(OffsiteFolder, TheCompaniesOfOneRunShareARepositoryWhichIsPrunedOnce) {
    const QString repo = TestDb::newFolder() + "repozytorium";
    const QString key = ownFolder() + "biuro.key";
    const QString companies = ownFolder();
    for (const char *name : {"firma1", "firma2"})
        ASSERT_TRUE(QFile::copy(companySettings(name, TestDb::createDatabase(), repo, key, {"zachowaj=1"}),
                                companies + name + ".ini"));
    ASSERT_EQ(cli({"offsite", "init"}, companies + "firma1.ini").exitCode, 0);
    auto night = [&] {
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")),
                {"backup", "--all", companies, "--verify", "--offsite", "--jobs", "2"});
        p.waitForFinished(300000);
        return CliRun{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                      QString::fromUtf8(p.readAllStandardError())};
    };
    // Each company's copy under restic's shared lock, at once; what needs the repository alone (each
    // company's forget, the prune) after both, one after another.
    const QString left =
        "Stare kopie poza siedzibą (zachowaj=1) zostaną usunięte po kopiach wszystkich firm.";
    const QRegularExpression forgets(
        "== usuwanie starych kopii poza siedzibą firma[12]: [0-9a-f]+: wykonane\n");
    const CliRun first = night();
    ASSERT_EQ(first.exitCode, 0) << said(first).toStdString();
    EXPECT_EQ(first.out.count(left), 2) << first.out.toStdString();
    EXPECT_EQ(first.out.count(forgets), 2) << first.out.toStdString();
    EXPECT_FALSE(first.out.contains("== porządkowanie")) << first.out.toStdString(); // nothing forgotten yet
    const CliRun second = night();
    ASSERT_EQ(second.exitCode, 0) << said(second).toStdString();
    EXPECT_EQ(second.out.count(left), 2) << second.out.toStdString();
    EXPECT_EQ(second.out.count(forgets), 2) << second.out.toStdString();
    EXPECT_EQ(second.out.count(QRegularExpression("== porządkowanie repozytorium [^\n]*: wykonane\n")), 1)
        << second.out.toStdString();
    for (const char *name : {"firma1", "firma2"}) {
        const QRegularExpressionMatch row =
            QRegularExpression(QString("\n%1 +wykonana +[0-9.]+ +[0-9]+ +([0-9a-f]{8})\n").arg(name))
                .match(second.out);
        ASSERT_TRUE(row.hasMatch()) << second.out.toStdString();
        // Each company keeps its own one copy, the night's: the other's retention took none of it.
        const CliRun list = cli({"offsite", "list"}, companies + name + ".ini");
        const QStringList copies =
            list.out.split('\n', Qt::SkipEmptyParts).filter(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d "));
        ASSERT_EQ(copies.size(), 1) << list.out.toStdString();
        EXPECT_TRUE(copies[0].endsWith("  " + row.captured(1))) << list.out.toStdString();
    }
    EXPECT_EQ(lockCount(repo, key), 0);
    // The forgotten copies' data is gone: restic finds nothing left to prune.
    std::unique_ptr<QProcess> p(restic(repo, key, {"prune", "--dry-run"}));
    ASSERT_TRUE(p->waitForFinished(60000));
    const QString dry = QString::fromUtf8(p->readAllStandardOutput());
    EXPECT_TRUE(dry.contains(QRegularExpression("total prune: +0 blobs"))) << dry.toStdString();
}
