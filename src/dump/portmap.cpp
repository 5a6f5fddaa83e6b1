// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/portmap.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace tarvik {

namespace {

int group(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    if (name.startsWith(QLatin1String("ttyUSB")))
        return 0;
    if (name.startsWith(QLatin1String("ttyACM")))
        return 1;
    return 2;
}

// Compares digit runs by their value, so that ttyUSB2 comes before ttyUSB10.
int naturalCompare(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            // Leading zeros do not change the value; compare the significant digits.
            qsizetype si = i;
            qsizetype sj = j;
            while (si + 1 < ei && a.at(si) == QLatin1Char('0'))
                ++si;
            while (sj + 1 < ej && b.at(sj) == QLatin1Char('0'))
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            const int c = QStringView(a).mid(si, ei - si).compare(QStringView(b).mid(sj, ej - sj));
            if (c != 0)
                return c;
            i = ei;
            j = ej;
            continue;
        }
        if (a.at(i) != b.at(j))
            return a.at(i) < b.at(j) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return a.compare(b);
}

QString description(const QString &path)
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (info.systemLocation() == path)
            return info.description();
    }
    return {};
}

} // namespace

QStringList PortMap::ordered(QStringList paths)
{
    std::stable_sort(paths.begin(), paths.end(), [](const QString &a, const QString &b) {
        const int ga = group(a);
        const int gb = group(b);
        if (ga != gb)
            return ga < gb;
        const int byName = naturalCompare(QFileInfo(a).fileName(), QFileInfo(b).fileName());
        if (byName != 0)
            return byName < 0;
        return naturalCompare(a, b) < 0;
    });
    return paths;
}

QStringList PortMap::presentPorts()
{
    QStringList paths;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        paths << info.systemLocation();
    return ordered(paths);
}

QString PortMap::environmentName(int n)
{
    return QStringLiteral("TARVIK_COM%1").arg(n);
}

QString PortMap::path(int n)
{
    if (n < FirstPort || n > LastPort)
        return {};
    const QByteArray variable = environmentName(n).toLatin1();
    if (!qEnvironmentVariableIsEmpty(variable.constData()))
        return qEnvironmentVariable(variable.constData());
    const QStringList present = presentPorts();
    return n > present.size() ? QString() : present.at(n - 1);
}

PortMap::Entry PortMap::resolve(int n)
{
    const QString device = path(n);
    if (device.isEmpty())
        return {};
    QString text = description(QFileInfo(device).canonicalFilePath());
    if (text.isEmpty() && !qEnvironmentVariableIsEmpty(environmentName(n).toLatin1().constData()))
        text = environmentName(n);
    return {device, text};
}

QString PortMap::tooltip(int n)
{
    const Entry entry = resolve(n);
    if (entry.path.isEmpty())
        return QStringLiteral("No serial device present");
    if (!QFileInfo::exists(entry.path))
        return QStringLiteral("%1 (not present)").arg(entry.path);
    if (entry.description.isEmpty())
        return entry.path;
    return QStringLiteral("%1 (%2)").arg(entry.path, entry.description);
}

} // namespace tarvik
