// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

#include <memory>
#include <utility>

// A dump file as a test sees it: where it was opened, what it took, and
// whether it was closed again.
struct FileRecord {
    QString path;
    QByteArray data;
    bool closed = false;
};

// What goes wrong with a file: it refuses to open, or the disk holds only
// `room` more bytes (-1: room without end).
struct FileFault {
    qint64 room = -1;
    bool refuseOpen = false;
};

// A file that lives in memory, in a record the test keeps.
class MemoryFile : public QIODevice
{
public:
    explicit MemoryFile(std::shared_ptr<FileRecord> record) : m_record(std::move(record)) { }
    ~MemoryFile() override { m_record->closed = true; }

    void close() override
    {
        m_record->closed = true;
        QIODevice::close();
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override
    {
        m_record->data.append(data, len);
        return len;
    }

private:
    std::shared_ptr<FileRecord> m_record;
};

// A file device with a fault: Base is MemoryFile, or QFile for a real file on
// a disk that fills up. The fault shows as the system shows it: an open that
// fails with "Permission denied" (only where the device is opened by its
// open()), a write that takes what fits and then fails with "No space left on
// device".
template<class Base>
class FaultyFile : public Base
{
public:
    template<class... Args>
    explicit FaultyFile(FileFault fault, Args &&...args)
        : Base(std::forward<Args>(args)...), m_fault(fault)
    {
    }

    bool open(QIODevice::OpenMode mode) override
    {
        if (m_fault.refuseOpen) {
            this->setErrorString(QStringLiteral("Permission denied"));
            return false;
        }
        return Base::open(mode);
    }

protected:
    qint64 writeData(const char *data, qint64 len) override
    {
        if (m_fault.room == 0) {
            this->setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        const qint64 n = Base::writeData(data, m_fault.room < 0 ? len : qMin(len, m_fault.room));
        if (n > 0 && m_fault.room > 0)
            m_fault.room -= n;
        return n;
    }

private:
    FileFault m_fault;
};

using FaultyMemoryFile = FaultyFile<MemoryFile>;
using FaultyDiskFile = FaultyFile<QFile>;

// An opener for DumpFile and DumpRun that hands out memory files with this fault.
inline auto memoryFileOpener(FileFault fault, std::shared_ptr<FileRecord> record = std::make_shared<FileRecord>())
{
    return [fault, record](const QString &path) -> std::unique_ptr<QIODevice> {
        record->path = path;
        return std::make_unique<FaultyMemoryFile>(fault, record);
    };
}
