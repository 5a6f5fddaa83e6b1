// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/serialservice.h"

#include <QByteArray>
#include <QStringList>

namespace tarvik {

// A serial port that lives in memory, for fuzzing the dump run: the harness
// hands in what the loader "sends" read by read, and gets back every byte
// the run sent. It behaves like SerialPort where the run can tell: reads take
// everything waiting, a lost port stays open to its user until closed but
// reads give nothing and sends go nowhere.
//
// It also keeps watch over its user: sending on a closed port, or after the
// run said it had finished, is recorded as a fault.
class MemoryPort : public SerialService
{
    Q_OBJECT
public:
    using SerialService::SerialService;

    void setLineSettings(const LineSettings &settings) override { m_settings = settings; }
    LineSettings lineSettings() const override { return m_settings; }
    void setReadBufferSize(qint16) override { }
    void setDevice(const QString &) override { }

    OpenError open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    QString devicePath() const override { return QStringLiteral("memory"); }
    QString errorString() const override { return {}; }

    void discardInput() override;
    int bytesWaiting() const override;
    QString readText() override;
    QByteArray readBytes() override;
    void send(const QByteArray &bytes) override;

    // The loader's side. One call is one arrival: the bytes are added to the
    // receive buffer and readyRead is emitted once. Nothing arrives on a
    // closed or lost port.
    void deliver(const QByteArray &bytes);
    // The adapter goes away. Like Qt on a hung-up device, the loss may be
    // reported more than once.
    void lose(const QString &reason);
    // The n-th send from now on (1 for the next) fails and loses the port
    // instead of going out; 0 never.
    void loseAtSend(int n);

    // What was sent since the last clearWire(), in order.
    QByteArray wire() const { return m_wire; }
    void clearWire() { m_wire.clear(); }
    // From seal() on, any send is a fault, until unseal().
    void seal() { m_sealed = true; }
    void unseal() { m_sealed = false; }
    QStringList faults() const { return m_faults; }
    void clearFaults() { m_faults.clear(); }

private:
    LineSettings m_settings;
    bool m_open = false;
    bool m_lost = false;
    bool m_sealed = false;
    QByteArray m_buffer;
    QByteArray m_wire;
    int m_sends = 0;
    int m_loseAt = 0;
    QStringList m_faults;
};

} // namespace tarvik
