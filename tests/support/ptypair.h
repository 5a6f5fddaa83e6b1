// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair in raw mode. The test (or a simulated peer) owns the
// master side; the program under test opens slavePath() like any serial device.
// The slave side is kept open by this object so that data written to the
// master before the program opens the device is not lost to a hang-up.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }
    // The slave descriptor kept open by this object (-1 once closed): its
    // terminal settings are those of the device the program opened.
    int slaveKeeperFd() const { return m_slaveKeeper; }

    // Hands the master descriptor over; the caller closes it.
    int takeMaster();
    // Closes the master side: the slave sees a hang-up.
    void closeMaster();
    // Closes the keeper descriptor of the slave side.
    void closeSlaveKeeper();

    // Blocking helpers for tests that talk to the master directly.
    bool writeAll(const QByteArray &data);
    // Reads what is waiting, up to waitMs for the first byte.
    QByteArray readAvailable(int waitMs = 0);
    // Reads until `count` bytes arrived or `timeoutMs` passed.
    QByteArray readExactly(int count, int timeoutMs = 5000);

private:
    int m_master = -1;
    int m_slaveKeeper = -1;
    QString m_slavePath;
};
