// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/version.h"
#include "window/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvik"));
    QApplication::setApplicationVersion(QString::fromLatin1(tarvik::Version));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(tarvik::DesktopId));
    tarvik::MainWindow window;
    window.show();
    return app.exec();
}
