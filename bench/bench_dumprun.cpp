// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of whole dump runs: the real window, offscreen, against the
// simulated boot loader running as its own process, so that the CPU time
// measured here is Tarvik's alone.
//
//   bench_dumprun [a|b] [--hidden] [--runs N] [--blocks N] [path/to/tarvik-loader-sim]
//
// --hidden runs without showing the window, which tells the cost of painting
// apart from the rest. --runs repeats each case (default 3) and gives the
// median of every figure. --blocks reads N blocks in both cases instead of
// their own sizes; the test suite uses it to see that the benchmark still works.
//
// Case (a): a full 1 MiB read, unpaced. Case (b): 64 blocks paced at 115200
// baud, compared with the time the bytes need on the wire (10 bits a byte),
// and with a bare host that does the same exchange without any of Tarvik
// around it, right after each run: the pseudo-terminals' own latency varies
// from machine to machine and from minute to minute.
#include "support/scriptedprompts.h"
#include "window/mainwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include "benchsupport.h"
#include "loadersim/loadersim.h"
#include "pty/rawpty.h"
#include "support/sessionprobe.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using tarvik::MainWindow;

namespace {

double cpuSeconds()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
            + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long peakRssKiB()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

struct Case {
    char letter;
    int blocks;
    int baud; // 0: unpaced

    QString name() const
    {
        const QString size = blocks == 1024 ? QStringLiteral("full 1 MiB read") : QStringLiteral("%1 blocks").arg(blocks);
        const QString pace = baud ? QStringLiteral("paced at %1 baud").arg(baud) : QStringLiteral("unpaced");
        return QStringLiteral("(%1) %2, %3").arg(QLatin1Char(letter)).arg(size, pace);
    }
};

struct Result {
    double wall = 0;
    double cpu = 0;
    long peakRss = 0;
    qint64 wireBytes = 0;
    double steal = 0;
    int logLines = 0;
    bool ok = false;
};

// The least any host can do: the same exchange with blocking reads on the
// bare device, no window, no log, no file. Its wall time is what the machine's
// pseudo-terminals and the simulator leave for a host to reach.
class BareHost
{
public:
    explicit BareHost(const QString &device)
        : m_fd(::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        if (m_fd >= 0)
            tarvik::setRawMode(m_fd);
    }
    ~BareHost()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool run(int blocks)
    {
        using tarvik::LoaderSim;
        if (m_fd < 0 || !send(LoaderSim::handshakeBytes()))
            return false;
        const char *const markers[] = {"PC___", "0000", "1984"};
        const char *const then[] = {"REQUEST_START_BLOCK\r\n", "REQUEST_BLOCK\r\n", "REQUEST_DOWNLOAD\r\n"};
        for (int i = 0; i < 3; ++i) {
            if (!readUntil(markers[i]) || !send(then[i]))
                return false;
        }
        int total = 0;
        for (int n = 0; n < blocks; ++n) {
            const QByteArray number = QByteArray::number(n);
            if (!send("REQUEST_1024DOWN:" + number + '\r'))
                return false;
            const QByteArray reply = readExactly(LoaderSim::BlockSize + 1);
            if (reply.size() != LoaderSim::BlockSize + 1)
                return false;
            total += LoaderSim::checkValue(reply.left(LoaderSim::BlockSize));
            if (!send("1024DOWN_SUCCESS:" + number + '\r'))
                return false;
        }
        if (!send("REQUEST_TOTALCRC\r"))
            return false;
        const QByteArray sum = readExactly(1);
        return sum.size() == 1 && quint8(sum.at(0)) == quint8(total) && send("DOWN_SUCCESS\r")
                && send("UPGRADE_SUCCESS\r\n");
    }

private:
    bool send(const QByteArray &bytes)
    {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    bool readSome()
    {
        char buf[4096];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        m_in.append(buf, n);
        return true;
    }
    bool readUntil(const char *marker)
    {
        while (!m_in.contains(marker)) {
            if (!readSome())
                return false;
        }
        m_in.clear();
        return true;
    }
    QByteArray readExactly(int count)
    {
        while (m_in.size() < count) {
            if (!readSome())
                return {};
        }
        const QByteArray out = m_in.left(count);
        m_in.remove(0, count);
        return out;
    }

    int m_fd;
    QByteArray m_in;
};

// Wall time of the bare host, or a negative value when it failed.
double runBare(const QString &simPath, const Case &c, qint64 *wireBytes)
{
    Simulator sim;
    if (!sim.start(simPath, c.blocks, c.baud))
        return -1;
    QElapsedTimer wall;
    wall.start();
    bool ok = false;
    {
        BareHost host(sim.device);
        ok = host.run(c.blocks);
    }
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    *wireBytes = sim.finish();
    return ok && *wireBytes > 0 ? seconds : -1;
}

Result runCase(const QString &simPath, const Case &c, bool hidden)
{
    Result r;
    Simulator sim;
    if (!sim.start(simPath, c.blocks, c.baud))
        return r;
    qputenv("TARVIK_COM1", sim.device.toLocal8Bit());

    QTemporaryDir dir;
    ScriptedPrompts prompts;
    prompts.onMessage = [&prompts] {
        const ScriptedPrompts::Message &box = prompts.messages.constLast();
        std::fprintf(stderr, "message box: %s: %s\n", qPrintable(box.title), qPrintable(box.text));
    };
    MainWindow w(&prompts);
    if (!hidden)
        w.show();
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + QLatin1Char('/'));
    w.control<QLineEdit>("countEdit")->setText(QString::number(c.blocks));
    // Let the window show and take its frames' backdrops before measuring.
    QEventLoop settle;
    QTimer::singleShot(500, &settle, &QEventLoop::quit);
    settle.exec();

    QEventLoop loop;
    QObject::connect(&runOf(w.session()), &tarvik::DumpRun::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10 * 60 * 1000, &loop, &QEventLoop::quit);

    const double cpu0 = cpuSeconds();
    const double steal0 = stealSeconds();
    QElapsedTimer wall;
    wall.start();
    w.control<QPushButton>("openButton")->click();
    loop.exec();
    r.wall = double(wall.nsecsElapsed()) / 1e9;
    r.cpu = cpuSeconds() - cpu0;
    r.steal = stealSeconds() - steal0;
    r.peakRss = peakRssKiB();
    r.logLines = int(w.logText().count(QStringLiteral("1024DOWN_SUCCESS:")));
    r.ok = w.logText().contains(QStringLiteral("Transfer succesfull!"));

    r.wireBytes = sim.finish();
    if (r.wireBytes < 0)
        r.ok = false;
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QString only;
    if (!args.isEmpty() && (args.first() == QLatin1String("a") || args.first() == QLatin1String("b")))
        only = args.takeFirst();
    const bool hidden = args.removeAll(QStringLiteral("--hidden")) > 0;
    const int runs = takeCount(args, QStringLiteral("--runs"), 3);
    const int blocks = takeCount(args, QStringLiteral("--blocks"), 0);
    const QString simPath = !args.isEmpty() ? args.first()
                                            : QCoreApplication::applicationDirPath()
                    + QStringLiteral("/tarvik-loader-sim");

    const Case cases[] = {
        {'a', blocks ? blocks : 1024, 0},
        {'b', blocks ? blocks : 64, 115200},
    };
    bool allOk = true;
    QTextStream out(stdout);
    for (const Case &c : cases) {
        if (!only.isEmpty() && only != QLatin1Char(c.letter))
            continue;
        QList<double> wall, cpu, cpuShare, rss, steal, ratio, bareRatio, overBare;
        qint64 wireBytes = 0;
        for (int i = 0; i < runs; ++i) {
            const Result r = runCase(simPath, c, hidden);
            if (!r.ok || r.logLines != c.blocks) {
                out << c.name() << QStringLiteral(": run %1 FAILED").arg(i + 1) << Qt::endl;
                allOk = false;
                continue;
            }
            wall << r.wall;
            cpu << r.cpu;
            cpuShare << 100.0 * r.cpu / r.wall;
            rss << r.peakRss / 1024.0;
            steal << r.steal;
            if (!c.baud)
                continue;
            wireBytes = r.wireBytes;
            const double wire = double(r.wireBytes) * 10.0 / c.baud;
            ratio << r.wall / wire;
            qint64 bareBytes = 0;
            const double bare = runBare(simPath, c, &bareBytes);
            if (bare <= 0 || bareBytes != r.wireBytes) {
                out << c.name() << QStringLiteral(": bare host %1 FAILED").arg(i + 1) << Qt::endl;
                allOk = false;
                continue;
            }
            bareRatio << bare / wire;
            overBare << r.wall / bare;
        }
        out << c.name() << QStringLiteral(", median of %1 runs").arg(wall.size()) << Qt::endl;
        out << QStringLiteral("  wall time      %1 s").arg(figures(wall, 3)) << Qt::endl;
        out << QStringLiteral("  CPU time       %1 s").arg(figures(cpu, 3)) << Qt::endl;
        out << QStringLiteral("  CPU / wall     %1 %").arg(figures(cpuShare, 2)) << Qt::endl;
        out << QStringLiteral("  peak RSS       %1 MiB").arg(figures(rss, 1)) << Qt::endl;
        out << QStringLiteral("  machine steal  %1 s").arg(figures(steal, 2)) << Qt::endl;
        if (c.baud && wireBytes > 0) {
            out << QStringLiteral("  wire time      %1 s (%2 bytes both ways)")
                            .arg(double(wireBytes) * 10.0 / c.baud, 0, 'f', 3).arg(wireBytes) << Qt::endl;
            out << QStringLiteral("  wall / wire    %1").arg(figures(ratio, 4)) << Qt::endl;
            out << QStringLiteral("  bare / wire    %1").arg(figures(bareRatio, 4)) << Qt::endl;
            out << QStringLiteral("  wall / bare    %1").arg(figures(overBare, 4)) << Qt::endl;
        }
    }
    out << (allOk ? "result: every transfer complete" : "result: FAILED") << Qt::endl;
    return allOk ? 0 : 1;
}
