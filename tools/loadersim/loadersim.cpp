// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadersim/loadersim.h"
#include "pty/rawpty.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace tarvik {

namespace {

using namespace protocol;

const QByteArray &CrLf = LineEnd;
const QByteArray &Cr = RequestEnd;
const QByteArray &AckPrefix = BlockAck;

// Text a loader might print around its markers. None of it holds a marker, and
// nothing follows the last one: the host reads whatever comes after it as block data.
const char *const MarkerPrefixes[] = {"\r\nHOST - MODE\r\n", "start block: ", "block size: "};
const char *const MarkerSuffixes[] = {"\r\nflash info ok\r\n", "\r\n", ""};

constexpr int MaxBlockDigits = 5;
constexpr qint64 PacingSlackNs = 50000; // bytes may go out or be taken in this much early
constexpr qint64 PacingChunkNs = 8000000;  // a paced reply goes out in pieces of about this time
constexpr int HangUpGraceMs = 100;       // lets the host read what preceded a hang-up
constexpr int ReadChunk = 4096;

QString describe(const QByteArray &bytes)
{
    QString out;
    for (const char c : bytes) {
        const auto b = quint8(c);
        switch (b) {
        case '\r': out += QLatin1String("\\r"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\\': out += QLatin1String("\\\\"); break;
        default:
            if (b >= 0x20 && b < 0x7F)
                out += QLatin1Char(char(b));
            else
                out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
        }
    }
    return QLatin1Char('"') + out + QLatin1Char('"');
}

} // namespace

LoaderSim::LoaderSim(QObject *parent)
    : QObject(parent)
    , m_image(defaultImage())
{
    m_pacingFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_pacingFd >= 0) {
        m_pacingNotifier = new QSocketNotifier(m_pacingFd, QSocketNotifier::Read, this);
        connect(m_pacingNotifier, &QSocketNotifier::activated, this, &LoaderSim::onPacingTimer);
    }
}

LoaderSim::~LoaderSim()
{
    close();
    delete m_pacingNotifier;
    if (m_pacingFd >= 0)
        ::close(m_pacingFd);
}

// Arms the pacing timer for the moment atNs of the monotonic clock; a
// negative moment disarms it.
void LoaderSim::armPacing(qint64 atNs)
{
    if (m_pacingFd < 0)
        return;
    itimerspec spec{};
    if (atNs >= 0) {
        // Zero would disarm the timer: a moment already past is taken as 1 ns.
        atNs = qMax<qint64>(atNs, 1);
        spec.it_value.tv_sec = time_t(atNs / 1000000000);
        spec.it_value.tv_nsec = long(atNs % 1000000000);
    }
    ::timerfd_settime(m_pacingFd, TFD_TIMER_ABSTIME, &spec, nullptr);
}

QByteArray LoaderSim::flashInfoRecord()
{
    return FlashInfoRecord;
}

QByteArray LoaderSim::handshakeBytes()
{
    return opening();
}

QByteArray LoaderSim::defaultImage(const QByteArray &model)
{
    static const QByteArray data = [] {
        QByteArray image(DefaultImageSize, Qt::Uninitialized);
        char *out = image.data();
        quint32 state = 0x4B414F4E;
        for (qsizetype i = 0; i < image.size(); ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            out[i] = char(state >> 24);
        }
        const char software[] = {0x15, 0x03, 0x02};
        const char hardware[] = {0x0A, 0x00, 0x01};
        image.replace(SoftwareVersionOffset, 3, software, 3);
        image.replace(HardwareVersionOffset, 3, hardware, 3);
        return image;
    }();
    QByteArray image = data;
    const QByteArray name = model.left(SoftwareVersionOffset - ModelOffset - 1);
    image.replace(ModelOffset, name.size() + 1, name + '\0');
    return image;
}

quint8 LoaderSim::checkValue(const QByteArray &data)
{
    return protocol::checkValue(data);
}

void LoaderSim::setImage(const QByteArray &image)
{
    m_image = image;
}

QByteArray LoaderSim::block(int n) const
{
    QByteArray data(BlockSize, '\0');
    if (m_image.isEmpty())
        return data;
    const qint64 base = qint64(n) * BlockSize;
    const qint64 size = m_image.size();
    for (int i = 0; i < BlockSize; ++i) {
        const qint64 at = base + i;
        if (at < size)
            data[i] = m_image.at(at);
        else if (m_beyond == Beyond::Wrap)
            data[i] = m_image.at(at % size);
    }
    return data;
}

void LoaderSim::setExpectedRange(int start, int count)
{
    m_expectedStart = start;
    m_expectedCount = count;
    if (m_stage == Stage::Handshake)
        m_nextBlock = start;
}

void LoaderSim::setSplitMarkers(bool split, int markerGapMs)
{
    m_splitMarkers = split;
    m_markerGapMs = markerGapMs;
}

void LoaderSim::setExtraAfterReply(Point at, int index, const QByteArray &bytes)
{
    m_extra = {at, index, 0};
    m_extraBytes = bytes;
}

void LoaderSim::setStall(Point at, int index, int afterBytes)
{
    m_stall = {at, index, afterBytes};
}

void LoaderSim::setHangUp(Point at, int index, int afterBytes)
{
    m_hangUp = {at, index, afterBytes};
}

bool LoaderSim::open()
{
    close();
    const RawPty pty = openRawPty();
    if (pty.master < 0) {
        m_errorString = QString::fromLocal8Bit(std::strerror(pty.error));
        return false;
    }
    m_keeper = pty.slave;
    return start(pty.master);
}

bool LoaderSim::attach(int masterFd)
{
    close();
    return start(masterFd);
}

bool LoaderSim::start(int masterFd)
{
    const char *name = ::ptsname(masterFd);
    if (!name) {
        m_errorString = QString::fromLocal8Bit(std::strerror(errno));
        ::close(masterFd);
        dropKeeper();
        return false;
    }
    m_master = masterFd;
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (m_keeper < 0)
        reopenKeeper();

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &LoaderSim::onReadable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &LoaderSim::onWritable);

    m_in.clear();
    m_inOffset = m_received.size();
    resetConversation();
    return true;
}

void LoaderSim::close()
{
    // Close may be called from a slot that runs inside a notifier's activation.
    for (QSocketNotifier *notifier : {m_readNotifier, m_writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    armPacing(-1);
    m_rxQueue.clear();
    m_txQueue.clear();
    m_writeBuffer.clear();
    m_closePending = false;
    dropKeeper();
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    if (m_stage != Stage::Closed)
        setStage(Stage::Closed);
}

void LoaderSim::dropKeeper()
{
    if (m_keeper >= 0)
        ::close(m_keeper);
    m_keeper = -1;
}

bool LoaderSim::reopenKeeper()
{
    if (m_keeper >= 0)
        return true;
    m_keeper = ::open(QFile::encodeName(m_slavePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_keeper >= 0)
        setRawMode(m_keeper);
    return m_keeper >= 0;
}

void LoaderSim::resetConversation()
{
    m_nextBlock = m_expectedStart;
    m_blocksDone = 0;
    m_lastBlock = -1;
    m_totalSum = 0;
    m_totalGood = true;
    m_downSuccessSeen = false;
    setStage(Stage::Handshake);
}

void LoaderSim::setStage(Stage stage)
{
    if (m_stage == stage)
        return;
    m_stage = stage;
    emit stageChanged(stage);
}

qint64 LoaderSim::nowNs() const
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

qint64 LoaderSim::wireNs(qsizetype bytes) const
{
    if (m_baud <= 0)
        return 0;
    return qint64(bytes) * 10 * 1000000000LL / m_baud;
}

void LoaderSim::onReadable()
{
    char buf[ReadChunk];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            const QByteArray bytes(buf, n);
            m_received += bytes;
            if (!m_hostSeen) {
                // The host has the device open now; from here on its closing shows as a hang-up.
                m_hostSeen = true;
                dropKeeper();
            }
            if (m_baud > 0) {
                const qint64 due = qMax(nowNs(), m_rxLineFreeNs) + wireNs(n);
                m_rxLineFreeNs = due;
                m_rxQueue.push_back({bytes, due, false});
            } else {
                m_takenAtNs = nowNs();
                take(bytes);
                if (m_master < 0)
                    return;
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (errno == EINTR)
                continue;
            break;
        }
        // EIO (or end of file): no slave descriptor is open any more.
        hostGone();
        return;
    }
    schedule();
}

void LoaderSim::hostGone()
{
    m_txQueue.clear();
    m_writeBuffer.clear();
    m_closePending = false;
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    m_hostSeen = false;
    m_in.clear();
    m_inOffset = m_received.size();
    m_rxQueue.clear();
    m_rxLineFreeNs = 0;
    // Holding the device again keeps the master side quiet until the next host opens it.
    reopenKeeper();
    if (m_keeper < 0 && m_readNotifier)
        m_readNotifier->setEnabled(false);
    resetConversation();
    emit hostClosed();
}

void LoaderSim::onPacingTimer()
{
    quint64 expirations = 0;
    if (m_pacingFd >= 0 && ::read(m_pacingFd, &expirations, sizeof expirations) < 0 && errno != EAGAIN)
        return;
    const qint64 now = nowNs();
    while (!m_rxQueue.empty() && m_rxQueue.front().dueNs <= now + PacingSlackNs) {
        const QByteArray bytes = m_rxQueue.front().bytes;
        // The loader answers as soon as the request is through the line, not
        // when this process got round to it.
        m_takenAtNs = m_rxQueue.front().dueNs;
        m_rxQueue.pop_front();
        take(bytes);
        if (m_master < 0)
            return;
    }
    schedule();
}

// Moves what is due from the send queue to the pseudo-terminal and arms the
// timer for the next due moment of either direction.
void LoaderSim::schedule()
{
    if (m_master < 0)
        return;
    const qint64 now = nowNs();
    const qint64 byteNs = wireNs(1);
    bool moved = false;
    while (!m_txQueue.empty()) {
        Pending &e = m_txQueue.front();
        const qint64 elapsed = now + PacingSlackNs - e.dueNs;
        if (elapsed < 0)
            break;
        // Byte i is through the line at dueNs + (i + 1) * byteNs.
        const qsizetype count = byteNs > 0 ? qMin<qsizetype>(e.bytes.size(), elapsed / byteNs) : e.bytes.size();
        if (count > 0) {
            const QByteArray chunk = e.bytes.left(count);
            m_writeBuffer += chunk;
            m_sent += chunk;
            e.bytes.remove(0, count);
            e.dueNs += count * byteNs;
            moved = true;
        }
        if (!e.bytes.isEmpty())
            break;
        const bool closeAfter = e.closeAfter;
        m_txQueue.pop_front();
        if (closeAfter) {
            m_txQueue.clear();
            m_closePending = true;
        }
    }
    if (moved || m_closePending)
        flushOut();
    if (m_master < 0)
        return;

    qint64 next = -1;
    if (!m_rxQueue.empty())
        next = m_rxQueue.front().dueNs;
    if (!m_txQueue.empty()) {
        // A paced reply goes out in chunks; the last one leaves when its last byte is through.
        const Pending &e = m_txQueue.front();
        const qsizetype chunk = byteNs > 0 ? qMax<qint64>(1, PacingChunkNs / byteNs) : 0;
        const qint64 due = e.dueNs + qMin<qsizetype>(chunk, e.bytes.size()) * byteNs;
        next = next < 0 ? due : qMin(next, due);
    }
    armPacing(next < 0 ? -1 : next - PacingSlackNs);
}

void LoaderSim::flushOut()
{
    while (!m_writeBuffer.isEmpty()) {
        const ssize_t n = ::write(m_master, m_writeBuffer.constData(), size_t(m_writeBuffer.size()));
        if (n > 0) {
            m_writeBuffer.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        // The host side is gone; its closing is picked up by the read side.
        m_writeBuffer.clear();
        break;
    }
    m_writeNotifier->setEnabled(false);
    if (m_closePending) {
        m_closePending = false;
        QTimer::singleShot(HangUpGraceMs, this, [this] {
            if (m_master < 0)
                return;
            close();
            emit hungUp();
        });
    }
}

void LoaderSim::onWritable()
{
    flushOut();
}

void LoaderSim::send(const QByteArray &bytes, qint64 earliestNs, bool closeAfter)
{
    const qint64 start = qMax(earliestNs, m_baud > 0 ? m_txLineFreeNs : 0);
    m_txLineFreeNs = start + wireNs(bytes.size());
    m_txQueue.push_back({bytes, start, closeAfter});
}

void LoaderSim::reply(Point at, int index, const QByteArray &bytes)
{
    const auto matches = [at, index](const Fault &f) { return f.at == at && f.index == index; };
    QByteArray out = bytes;
    if (matches(m_extra))
        out += m_extraBytes;
    const qint64 now = m_takenAtNs;
    if (matches(m_hangUp)) {
        send(out.left(m_hangUp.afterBytes), now, true);
        setStage(Stage::Silent);
    } else if (matches(m_stall)) {
        send(out.left(m_stall.afterBytes), now, false);
        setStage(Stage::Silent);
    } else {
        send(out, now, false);
    }
    schedule();
}

void LoaderSim::sendMarker(int index)
{
    const QByteArray marker = QByteArray(Handshake[index].marker.data(), Handshake[index].marker.size());
    if (!m_splitMarkers) {
        reply(Point::Marker, index, marker);
        return;
    }
    const bool faulted = (m_hangUp.at == Point::Marker && m_hangUp.index == index)
        || (m_stall.at == Point::Marker && m_stall.index == index);
    if (faulted) {
        reply(Point::Marker, index, QByteArray(MarkerPrefixes[index]) + marker + MarkerSuffixes[index]);
        return;
    }
    // The marker in three writes: text and its first character, its middle,
    // then its last characters and more text.
    const QByteArray pieces[] = {
        QByteArray(MarkerPrefixes[index]) + marker.left(1),
        marker.mid(1, marker.size() - 2),
        marker.right(1) + MarkerSuffixes[index],
    };
    const qint64 now = m_takenAtNs;
    const qint64 gapNs = qint64(m_markerGapMs) * 1000000;
    for (int i = 0; i < 3; ++i) {
        QByteArray piece = pieces[i];
        if (i == 2 && m_extra.at == Point::Marker && m_extra.index == index)
            piece += m_extraBytes;
        send(piece, now + i * gapNs, false);
    }
    schedule();
}

void LoaderSim::take(const QByteArray &bytes)
{
    m_in += bytes;
    process();
}

void LoaderSim::deviate(const QString &expected, qsizetype at)
{
    const QString what = QStringLiteral("byte %1 of the host's stream: expected %2, received %3")
                             .arg(m_inOffset + at)
                             .arg(expected, describe(m_in.mid(at, 40)));
    m_deviations << what;
    setStage(Stage::Failed);
    emit deviation(what);
}

LoaderSim::Match LoaderSim::matchLiteral(const QByteArray &literal) const
{
    const qsizetype n = qMin(m_in.size(), literal.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (m_in.at(i) != literal.at(i))
            return {Match::Mismatch, i, -1};
    }
    if (m_in.size() < literal.size())
        return {Match::Incomplete, n, -1};
    return {Match::Complete, literal.size(), -1};
}

LoaderSim::Match LoaderSim::matchNumbered(const QByteArray &prefix, int number) const
{
    if (number >= 0)
        return matchLiteral(prefix + QByteArray::number(number) + Cr);
    const Match head = matchLiteral(prefix);
    if (head.result != Match::Complete)
        return head;
    qsizetype i = prefix.size();
    int value = 0;
    int digits = 0;
    for (; i < m_in.size(); ++i) {
        const char c = m_in.at(i);
        if (c == '\r' && digits > 0)
            return {Match::Complete, i + 1, value};
        if (c < '0' || c > '9' || digits == MaxBlockDigits || (digits == 1 && value == 0))
            return {Match::Mismatch, i, -1};
        value = value * 10 + (c - '0');
        ++digits;
    }
    return {Match::Incomplete, i, -1};
}

void LoaderSim::consume(qsizetype length)
{
    m_in.remove(0, length);
    m_inOffset += length;
}

void LoaderSim::process()
{
    while (!m_in.isEmpty() && m_master >= 0) {
        switch (m_stage) {
        case Stage::Closed:
        case Stage::Failed:
            consume(m_in.size());
            return;
        case Stage::Handshake:
        case Stage::Done:
        case Stage::Silent: {
            // After the end of a conversation only a new one may begin: a host may
            // close and reopen the device faster than its closing is noticed here.
            const Match m = matchLiteral(handshakeBytes());
            if (m.result == Match::Mismatch) {
                deviate(m_stage == Stage::Handshake ? describe(handshakeBytes().mid(m.length, 40))
                                                    : QStringLiteral("nothing more"),
                        m.length);
                return;
            }
            if (m.result == Match::Incomplete)
                return;
            if (m_stage != Stage::Handshake)
                resetConversation();
            consume(m.length);
            setStage(Stage::StartBlock);
            sendMarker(0);
            break;
        }
        case Stage::StartBlock:
        case Stage::BlockRequest:
        case Stage::Download: {
            const QByteArray &word = Handshake[m_stage == Stage::StartBlock ? 0
                                               : m_stage == Stage::BlockRequest ? 1
                                                                                : 2].request;
            const QByteArray expected = word + CrLf;
            const Match m = matchLiteral(expected);
            if (m.result == Match::Mismatch) {
                deviate(describe(expected.mid(m.length)), m.length);
                return;
            }
            if (m.result == Match::Incomplete)
                return;
            consume(m.length);
            if (m_stage == Stage::StartBlock) {
                setStage(Stage::BlockRequest);
                sendMarker(1);
            } else if (m_stage == Stage::BlockRequest) {
                setStage(Stage::Download);
                sendMarker(2);
            } else {
                setStage(Stage::Request);
            }
            break;
        }
        case Stage::Request: {
            const bool rangeKnown = m_expectedCount >= 0;
            const bool blockAllowed = !rangeKnown || m_blocksDone < m_expectedCount;
            const bool totalAllowed = !rangeKnown || m_blocksDone == m_expectedCount;
            Match block{Match::Mismatch, 0, -1};
            Match total{Match::Mismatch, 0, -1};
            if (blockAllowed)
                block = matchNumbered(BlockRequest, m_nextBlock);
            if (totalAllowed)
                total = matchLiteral(TotalRequest + Cr);
            if (block.result == Match::Complete) {
                consume(block.length);
                const int n = block.number >= 0 ? block.number : m_nextBlock;
                serveBlock(n);
                break;
            }
            if (total.result == Match::Complete) {
                consume(total.length);
                serveTotal();
                break;
            }
            if (block.result == Match::Incomplete || total.result == Match::Incomplete)
                return;
            QStringList expected;
            if (blockAllowed)
                expected << describe(BlockRequest
                                     + (m_nextBlock >= 0 ? QByteArray::number(m_nextBlock) : "<n>") + Cr);
            if (totalAllowed)
                expected << describe(TotalRequest + Cr);
            deviate(expected.join(QLatin1String(" or ")), qMax(block.length, total.length));
            return;
        }
        case Stage::Ack: {
            const Match m = matchNumbered(AckPrefix, m_lastBlock);
            if (m.result == Match::Mismatch) {
                deviate(describe(AckPrefix + QByteArray::number(m_lastBlock) + Cr), m.length);
                return;
            }
            if (m.result == Match::Incomplete)
                return;
            consume(m.length);
            setStage(Stage::Request);
            break;
        }
        case Stage::Closing: {
            const QByteArray expected = (m_totalGood && !m_downSuccessSeen) ? TotalAck + Cr
                                                                            : Closing + CrLf;
            const Match m = matchLiteral(expected);
            if (m.result == Match::Mismatch) {
                deviate(describe(expected), m.length);
                return;
            }
            if (m.result == Match::Incomplete)
                return;
            consume(m.length);
            if (expected.startsWith(TotalAck)) {
                m_downSuccessSeen = true;
            } else {
                setStage(Stage::Done);
                emit conversationFinished();
            }
            break;
        }
        }
    }
}

void LoaderSim::serveBlock(int n)
{
    const QByteArray data = block(n);
    const quint8 check = checkValue(data);
    m_totalSum += check;
    m_lastBlock = n;
    // Each request names its own block: without an expected range, any
    // block may come next (a resumed run compares samples first).
    m_nextBlock = m_expectedCount >= 0 ? n + 1 : -1;
    ++m_blocksDone;
    const bool bad = n == m_badCheckBlock;
    QByteArray out = data;
    out += char(bad ? quint8(check + 1) : check);
    setStage(bad ? Stage::Silent : Stage::Ack);
    reply(Point::Block, n, out);
    const bool cut = (m_stall.at == Point::Block && m_stall.index == n)
        || (m_hangUp.at == Point::Block && m_hangUp.index == n);
    if (!cut) {
        m_blocksServed << n;
        emit blockServed(n);
    }
}

void LoaderSim::serveTotal()
{
    quint8 total = quint8(m_totalSum);
    m_totalGood = !m_badTotal;
    if (m_badTotal)
        total = quint8(total + 1);
    m_downSuccessSeen = false;
    setStage(Stage::Closing);
    reply(Point::Total, 0, QByteArray(1, char(total)));
}

} // namespace tarvik
