// Throughput of whole dump runs: the real window, offscreen, against the
// simulated boot loader running as its own process, so that the CPU time
// measured here is Tarvik's alone.
//
//   bench_dumprun [a|b] [--hidden] [path/to/tarvik-loader-sim]
//
// --hidden runs without showing the window, which tells the cost of painting
// apart from the rest.
//
// Case (a): a full 1 MiB read, unpaced. Case (b): 64 blocks paced at 115200
// baud, compared with the time the bytes need on the wire (10 bits a byte).
#include "form1.h"
#include "prompts.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

class SilentPrompts : public tarvik::Prompts
{
public:
    void message(QWidget *, const QString &text, const QString &title) override
    {
        std::fprintf(stderr, "message box: %s: %s\n", qPrintable(title), qPrintable(text));
    }
    QString chooseFolder(QWidget *, const QString &) override { return {}; }
};

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
    const char *name;
    int blocks;
    int baud; // 0: unpaced
};

struct Result {
    double wall = 0;
    double cpu = 0;
    long peakRss = 0;
    qint64 wireBytes = 0;
    int logLines = 0;
    bool ok = false;
};

Result runCase(const QString &simPath, const Case &c, bool hidden)
{
    Result r;
    QProcess sim;
    QStringList args{QStringLiteral("--stats"), QStringLiteral("--expect"),
                     QStringLiteral("0,%1").arg(c.blocks)};
    if (c.baud)
        args << QStringLiteral("--baud") << QString::number(c.baud);
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(simPath, args);
    if (!sim.waitForStarted() || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(simPath));
        return r;
    }
    const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();
    qputenv("TARVIK_COM1", device.toLocal8Bit());

    QTemporaryDir dir;
    SilentPrompts prompts;
    Form1 w(&prompts);
    if (!hidden)
        w.show();
    w.control<QLineEdit>("Text2")->setText(dir.path() + QLatin1Char('/'));
    w.control<QLineEdit>("txtNumber")->setText(QString::number(c.blocks));
    // Let the window show and take its frames' backdrops before measuring.
    QEventLoop settle;
    QTimer::singleShot(500, &settle, &QEventLoop::quit);
    settle.exec();

    QEventLoop loop;
    QObject::connect(&w.dumpRun(), &tarvik::DumpRun::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10 * 60 * 1000, &loop, &QEventLoop::quit);

    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    w.control<QPushButton>("Command1")->click();
    loop.exec();
    r.wall = double(wall.nsecsElapsed()) / 1e9;
    r.cpu = cpuSeconds() - cpu0;
    r.peakRss = peakRssKiB();
    r.logLines = int(w.logText().count(QStringLiteral("1024DOWN_SUCCESS:")));
    r.ok = w.logText().contains(QStringLiteral("Transfer succesfull!"));

    sim.waitForFinished(10000);
    const QString stats = QString::fromLocal8Bit(sim.readAllStandardOutput());
    const QStringList words = stats.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() >= 4)
        r.wireBytes = words.at(1).toLongLong() + words.at(3).toLongLong();
    if (sim.exitCode() != 0) {
        std::fprintf(stderr, "the simulated loader reported deviations (exit %d)\n", sim.exitCode());
        r.ok = false;
    }
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
    const QString simPath = !args.isEmpty() ? args.first()
                                            : QCoreApplication::applicationDirPath()
                    + QStringLiteral("/tarvik-loader-sim");

    const Case cases[] = {
        {"(a) full 1 MiB read, unpaced", 1024, 0},
        {"(b) 64 blocks paced at 115200 baud", 64, 115200},
    };
    bool allOk = true;
    QTextStream out(stdout);
    for (const Case &c : cases) {
        if (!only.isEmpty() && QLatin1String(c.name).mid(1, 1) != only)
            continue;
        const Result r = runCase(simPath, c, hidden);
        allOk = allOk && r.ok && r.logLines == c.blocks;
        out << c.name << Qt::endl;
        out << QStringLiteral("  wall time      %1 s").arg(r.wall, 0, 'f', 3) << Qt::endl;
        out << QStringLiteral("  CPU time       %1 s (%2 % of wall)")
                        .arg(r.cpu, 0, 'f', 3).arg(100.0 * r.cpu / r.wall, 0, 'f', 2) << Qt::endl;
        out << QStringLiteral("  peak RSS       %1 MiB").arg(r.peakRss / 1024.0, 0, 'f', 1) << Qt::endl;
        out << QStringLiteral("  block lines    %1").arg(r.logLines) << Qt::endl;
        if (c.baud) {
            const double wire = double(r.wireBytes) * 10.0 / c.baud;
            out << QStringLiteral("  wire time      %1 s (%2 bytes both ways)").arg(wire, 0, 'f', 3).arg(r.wireBytes)
                << Qt::endl;
            out << QStringLiteral("  wall / wire    %1").arg(r.wall / wire, 0, 'f', 4) << Qt::endl;
        }
        out << QStringLiteral("  result         %1").arg(r.ok ? QStringLiteral("transfer complete")
                                                            : QStringLiteral("FAILED")) << Qt::endl;
    }
    return allOk ? 0 : 1;
}
