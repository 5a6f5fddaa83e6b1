// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/protocol.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>

class QSocketNotifier;

namespace tarvik {

// A simulated KAON boot loader in host mode, on the master side of a
// pseudo-terminal. The program under test opens slavePath() like any serial
// device. The simulator answers the handshake and serves blocks of a flash
// image, checks every byte it receives against the exact sequence it expects,
// and can inject faults. Everything is event-driven.
//
// The device is kept open by the simulator until the host has sent its first
// byte, so nothing is lost to a hang-up before the host opens it. When the host
// closes the device afterwards, hostClosed() is emitted and the simulator is
// ready for a new conversation (the records are kept). A new handshake is also
// taken after the end of a conversation or a stop, for a host that closes and
// reopens the device faster than its closing shows here.
class LoaderSim : public QObject
{
    Q_OBJECT
public:
    static constexpr int BlockSize = protocol::BlockSize;
    static constexpr int DefaultImageSize = 1024 * 1024;
    static constexpr int ModelOffset = protocol::ModelOffset;
    static constexpr int SoftwareVersionOffset = protocol::SoftwareVersionOffset;
    static constexpr int HardwareVersionOffset = protocol::HardwareVersionOffset;
    static constexpr int DefaultMarkerGapMs = 20;

    // Where the conversation stands: what the simulator expects next.
    enum class Stage {
        Closed,        // no pseudo-terminal yet, or hung up
        Handshake,     // awaiting the host's opening requests
        StartBlock,    // the first marker printed, awaiting its request
        BlockRequest,  // the second marker printed, awaiting its request
        Download,      // the third marker printed, awaiting its request
        Request,       // a block request or the total request
        Ack,           // the acknowledgement of a good block
        Closing,       // "DOWN_SUCCESS" (if the total matched), then "UPGRADE_SUCCESS"
        Done,          // conversation complete; the host should only close now
        Silent,        // after a wrong check byte, a stall or a hang-up: the host should send nothing
        Failed,        // a deviation was found; bytes are only recorded from here on
    };
    Q_ENUM(Stage)

    // A point in the conversation, for faults.
    enum class Point {
        None,
        Marker, // index: 0 "PC___", 1 "0000", 2 "1984"
        Block,  // index: the block number as requested
        Total,  // the total reply
    };
    Q_ENUM(Point)

    // What a block number beyond the end of the image reads.
    enum class Beyond {
        Wrap,     // the image repeats (offset modulo its size); the default
        ZeroFill, // zero bytes
    };
    Q_ENUM(Beyond)

    explicit LoaderSim(QObject *parent = nullptr);
    ~LoaderSim() override;

    // Opens a new pseudo-terminal pair in raw mode.
    bool open();
    // Uses the master side of an existing pseudo-terminal; takes ownership of the descriptor.
    bool attach(int masterFd);
    // Closes the master side (the host sees a hang-up).
    void close();
    bool isOpen() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    QString errorString() const { return m_errorString; }

    // The flash image. Until one is set, defaultImage() is served; an empty one reads as zeros.
    void setImage(const QByteArray &image);
    QByteArray image() const { return m_image; }
    // 1 MiB: the model name at offset 8, 0-terminated; software version bytes
    // 48..50 = 0x15 0x03 0x02; hardware version bytes 52..54 = 0x0A 0x00 0x01;
    // everything else deterministic pseudo-random data.
    static QByteArray defaultImage(const QByteArray &model = QByteArrayLiteral("KSF-2100"));
    void setBeyond(Beyond beyond) { m_beyond = beyond; }
    // The 1024 data bytes of block n as served, and their check value (sum mod 256).
    QByteArray block(int n) const;
    static quint8 checkValue(const QByteArray &data);

    // When set, block requests must be exactly start .. start+count-1, then the
    // total. Otherwise any first block number is taken, and each next request
    // must be the one after it.
    void setExpectedRange(int start, int count);

    // Faults.
    // The check byte of block n is the right one plus 1 (mod 256).
    void setBadCheckBlock(int n) { m_badCheckBlock = n; }
    // The total reply is the right one plus 1 (mod 256).
    void setBadTotal(bool bad) { m_badTotal = bad; }
    // Each marker goes out in several writes, markerGapMs apart, with other text
    // around it. Nothing follows "1984": the host would take it for block data.
    void setSplitMarkers(bool split, int markerGapMs = DefaultMarkerGapMs);
    // `bytes` follow the reply at `at` in the same write.
    void setExtraAfterReply(Point at, int index, const QByteArray &bytes);
    // The reply at `at` stops after `afterBytes` bytes; nothing more is sent.
    void setStall(Point at, int index, int afterBytes = 0);
    // The master side is closed after `afterBytes` bytes of the reply at `at`
    // (a moment later, so that the host can read them first).
    void setHangUp(Point at, int index, int afterBytes = 0);
    // Real-time pacing at this many bits per second, 10 bits per byte, both ways:
    // received bytes are taken in when their wire time has passed, and replies go
    // out no faster than the line carries them. 0 turns pacing off (the default).
    void setBaudRate(int baud) { m_baud = baud; }

    Stage stage() const { return m_stage; }
    // Everything the host sent, and everything the simulator sent, byte for
    // byte, over all conversations.
    QByteArray received() const { return m_received; }
    QByteArray sent() const { return m_sent; }
    QStringList deviations() const { return m_deviations; }
    // Block numbers whose replies went out whole, in order.
    QList<int> blocksServed() const { return m_blocksServed; }

    // The host's first requests as they must arrive: "REQUEST_V616", "BL_FLASH_INFO",
    // the 30-byte flash-info record, each with CR LF, a lone 0x00, "BL_FLASH_END" CR LF.
    static QByteArray handshakeBytes();
    static QByteArray flashInfoRecord();

signals:
    // The host's bytes differ from what was expected. `what` names the offset in
    // received(), the expected and the received bytes.
    void deviation(const QString &what);
    void stageChanged(tarvik::LoaderSim::Stage stage);
    // The reply of block n is complete and on its way (not cut by a stall or hang-up).
    void blockServed(int n);
    // "UPGRADE_SUCCESS" CR LF arrived.
    void conversationFinished();
    // The host closed the device (after it had sent something).
    void hostClosed();
    // The simulator closed the master side as a fault.
    void hungUp();

private:
    struct Pending {
        QByteArray bytes;
        qint64 dueNs = 0;        // received: when taken in; to send: when its first byte starts out
        bool closeAfter = false; // to send: hang up once these bytes are out
    };
    struct Fault {
        Point at = Point::None;
        int index = 0;
        int afterBytes = 0;
    };
    struct Match {
        enum Result { Incomplete, Mismatch, Complete } result;
        qsizetype length; // bytes matched (Complete: to consume; Mismatch: offset of the first wrong byte)
        int number;       // the decimal number matched, or -1
    };

    bool start(int masterFd);
    void onReadable();
    void onWritable();
    void onPacingTimer();
    void take(const QByteArray &bytes);
    void process();
    Match matchLiteral(const QByteArray &literal) const;
    // `prefix`, then `number` (any number when negative) in plain decimal, then CR.
    Match matchNumbered(const QByteArray &prefix, int number) const;
    void consume(qsizetype length);
    void serveBlock(int n);
    void serveTotal();
    void reply(Point at, int index, const QByteArray &bytes);
    void sendMarker(int index);
    void send(const QByteArray &bytes, qint64 earliestNs, bool closeAfter);
    void schedule();
    void flushOut();
    void deviate(const QString &expected, qsizetype at);
    void setStage(Stage stage);
    void resetConversation();
    void hostGone();
    void dropKeeper();
    bool reopenKeeper();
    qint64 nowNs() const;
    qint64 wireNs(qsizetype bytes) const;

    int m_master = -1;
    int m_keeper = -1;
    QString m_slavePath;
    QString m_errorString;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;

    QByteArray m_image;
    Beyond m_beyond = Beyond::Wrap;
    int m_expectedStart = -1;
    int m_expectedCount = -1;

    int m_badCheckBlock = -1;
    bool m_badTotal = false;
    bool m_splitMarkers = false;
    int m_markerGapMs = DefaultMarkerGapMs;
    Fault m_extra;
    QByteArray m_extraBytes;
    Fault m_stall;
    Fault m_hangUp;
    int m_baud = 0;

    Stage m_stage = Stage::Closed;
    QByteArray m_in;          // taken in, not yet matched
    qsizetype m_inOffset = 0; // offset of m_in's first byte in m_received
    int m_nextBlock = -1;
    int m_blocksDone = 0;
    int m_lastBlock = -1;
    int m_totalSum = 0;
    bool m_totalGood = true;
    bool m_downSuccessSeen = false;
    bool m_hostSeen = false;
    bool m_closePending = false;

    QByteArray m_received;
    QByteArray m_sent;
    QStringList m_deviations;
    QList<int> m_blocksServed;

    std::deque<Pending> m_rxQueue; // received, waiting for their wire time
    std::deque<Pending> m_txQueue; // to send, at their due time
    QByteArray m_writeBuffer;      // due, not yet taken by the pseudo-terminal
    qint64 m_rxLineFreeNs = 0;    // when pacing: the receive line is busy until then
    qint64 m_txLineFreeNs = 0;    // when pacing: the send line is busy until then
    qint64 m_takenAtNs = 0;       // when the bytes being processed were through the line
    // Pacing runs on a timer descriptor: a timer of whole milliseconds would
    // add up to a millisecond to every turn of the conversation.
    int m_pacingFd = -1;
    QSocketNotifier *m_pacingNotifier = nullptr;
    void armPacing(qint64 atNs);
};

} // namespace tarvik
