#include "exportreader.h"
#include "importorigin.h"

#include "messages.h"

#include <QFile>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {
// Why the file could not be read, in words: the system's own ("Permission denied") are English.
QString whyNotRead(const QString &path, int err)
{
    const QString why = err == EACCES || err == EPERM ? Msg(QStringLiteral("Arq_SemLeitura"))
        : err == EISDIR                               ? Msg(QStringLiteral("Arq_EhPasta")).arg(path)
        : err == EIO                                  ? Msg(QStringLiteral("Arq_ErroLeitura"))
                                                      : Msg(QStringLiteral("Arq_FalhaSistema")).arg(err);
    return Msg(QStringLiteral("Arq_Ler_Falha")).arg(path, why);
}
} // namespace

// The read-ahead thread and the blocks it has read and hashed, in file order. Each block is read
// behind kHeadroom free bytes, where the reader puts the unread end of the block before it; the
// block then becomes the reader's buffer as it is, and the buffer it replaces goes back to be read
// into again: no block is copied, and three blocks serve a whole file. The thread ends at the end
// of the file, at a failed read, or when asked to stop; what it failed with goes to the reader.
struct ExportReader::ReadAhead {
    static constexpr qint64 kHeadroom = 64 * 1024;
    static constexpr size_t kBuffers = 3;
    struct Block {
        QByteArray bytes; // kHeadroom free bytes, then what was read
        qint64 size = 0;  // bytes read
    };
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Block> ready;
    std::vector<QByteArray> spare; // buffers to read into again
    size_t made = 0;
    bool done = false;   // no block comes after those in `ready`
    bool failed = false;
    int error = 0;       // errno of the failed read
    bool stop = false;

    void run(QIODevice *file, qint64 block, Sha256 *hash) noexcept
    {
        bool ok = true;
        int err = 0;
        try {
            for (;;) {
                QByteArray bytes;
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return stop || !spare.empty() || made < kBuffers; });
                    if (stop)
                        break;
                    if (!spare.empty()) {
                        bytes = std::move(spare.back());
                        spare.pop_back();
                    } else {
                        ++made;
                    }
                }
                if (bytes.size() != kHeadroom + block)
                    bytes = QByteArray(kHeadroom + block, Qt::Uninitialized);
                errno = 0;
                const qint64 got = file->read(bytes.data() + kHeadroom, block);
                if (got <= 0) {
                    ok = got == 0;
                    err = errno;
                    break;
                }
                if (hash)
                    hash->add(QByteArrayView(bytes.constData() + kHeadroom, got));
                std::lock_guard lock(mutex);
                ready.push_back(Block{std::move(bytes), got});
                changed.notify_all();
            }
        } catch (...) {
            ok = false;
            err = ENOMEM;
        }
        std::lock_guard lock(mutex);
        done = true;
        failed = !ok;
        error = err;
        changed.notify_all();
    }
};

ExportReader::ExportReader() = default;
ExportReader::~ExportReader()
{
    stopReadAhead();
}

void ExportReader::stopReadAhead()
{
    if (!m_ahead)
        return;
    {
        std::lock_guard lock(m_ahead->mutex);
        m_ahead->stop = true;
    }
    m_ahead->changed.notify_all();
    if (m_ahead->thread.joinable())
        m_ahead->thread.join();
    m_ahead.reset();
}

qint64 ExportReader::readAhead()
{
    if (!m_ahead) {
        m_ahead = std::make_unique<ReadAhead>();
        m_ahead->thread = std::thread(&ReadAhead::run, m_ahead.get(), m_file.get(), m_block, m_hash);
    }
    ReadAhead &a = *m_ahead;
    ReadAhead::Block next;
    {
        std::unique_lock lock(a.mutex);
        a.changed.wait(lock, [&] { return !a.ready.empty() || a.done; });
        if (a.ready.empty()) {
            errno = a.error;
            return a.failed ? -1 : 0;
        }
        next = std::move(a.ready.front());
        a.ready.pop_front();
    }
    // The unread bytes [m_pos, m_end) go in front of the new ones.
    const qint64 tail = m_end - m_pos;
    QByteArray old;
    if (tail <= ReadAhead::kHeadroom) {
        char *at = next.bytes.data() + (ReadAhead::kHeadroom - tail);
        if (tail > 0)
            std::memcpy(at, m_buf.constData() + m_pos, size_t(tail));
        old = std::exchange(m_buf, std::move(next.bytes));
        m_pos = ReadAhead::kHeadroom - tail;
        m_end = ReadAhead::kHeadroom + next.size;
    } else {
        // A line longer than the room in front: the new bytes go after it, in a buffer that grows
        // by doubling (a line of any length costs linear time).
        if (m_pos > 0) {
            std::memmove(m_buf.data(), m_buf.constData() + m_pos, size_t(tail));
            m_pos = 0;
            m_end = tail;
        }
        if (m_buf.size() - m_end < next.size) {
            QByteArray grown(std::max(m_buf.size() * 2, m_end + next.size), Qt::Uninitialized);
            std::memcpy(grown.data(), m_buf.constData(), size_t(m_end));
            old = std::exchange(m_buf, std::move(grown));
        }
        std::memcpy(m_buf.data() + m_end, next.bytes.constData() + ReadAhead::kHeadroom, size_t(next.size));
        m_end += next.size;
        std::lock_guard lock(a.mutex);
        a.spare.push_back(std::move(next.bytes));
    }
    // The buffer replaced is read into again; one of another size (the first, a grown one) goes.
    if (old.size() == ReadAhead::kHeadroom + m_block) {
        std::lock_guard lock(a.mutex);
        a.spare.push_back(std::move(old));
    }
    a.changed.notify_all();
    return next.size;
}

bool ExportReader::open(const QString &path)
{
    close();
    auto file = std::make_unique<QFile>(path);
    // Unbuffered: the reader does its own buffering in big blocks, and a second copy would double
    // the bytes touched per line.
    errno = 0;
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        m_failed = true;
        m_error = whyNotRead(path, errno);
        return false;
    }
    m_file = std::move(file);
    m_open = true;
    return true;
}

void ExportReader::openBytes(QByteArrayView bytes)
{
    close();
    m_memory = bytes;
    m_inMemory = true;
    m_open = true;
}

void ExportReader::close()
{
    // The thread goes before the file and the hash it uses.
    stopReadAhead();
    m_readAheadWanted = false;
    m_file.reset();
    m_memory = {};
    m_memoryPos = 0;
    m_inMemory = false;
    m_open = false;
    m_eof = false;
    m_failed = false;
    m_error.clear();
    m_pos = m_end = 0;
    m_hash = nullptr;
    // The block goes with the file: what the load keeps in memory after its readings must not
    // carry it (the next opening takes a new one, a single allocation).
    m_buf = QByteArray();
}

bool ExportReader::isOpen() const
{
    return m_open;
}

bool ExportReader::failed() const
{
    return m_failed;
}

QString ExportReader::errorString() const
{
    return m_error;
}

void ExportReader::setBlockSize(qint64 bytes)
{
    m_block = qMax<qint64>(1, bytes);
}

bool ExportReader::fill()
{
    if (!m_open || m_eof)
        return false;
    if (m_readAheadWanted && !m_inMemory) {
        // The thread's blocks become the buffer (hashed there): the tail goes in front of them.
        const qint64 got = readAhead();
        if (got < 0) {
            m_failed = true;
            const auto *file = qobject_cast<const QFile *>(m_file.get());
            m_error = whyNotRead(file ? file->fileName() : QString(), errno);
        }
        if (got <= 0) {
            m_eof = true;
            return false;
        }
        return true;
    }
    // Keep the unread tail at the front, then read a block behind it.
    if (m_pos > 0) {
        const qint64 tail = m_end - m_pos;
        if (tail > 0)
            std::memmove(m_buf.data(), m_buf.constData() + m_pos, size_t(tail));
        m_end = tail;
        m_pos = 0;
    }
    // One block of room; the buffer grows only for a line longer than what it holds.
    if (m_buf.size() < m_block) {
        // Exactly one block: resize would round a buffer's first growth up to twice that.
        QByteArray block(m_block, Qt::Uninitialized);
        if (m_end > 0)
            std::memcpy(block.data(), m_buf.constData(), size_t(m_end));
        m_buf = std::move(block);
    } else if (m_buf.size() - m_end < qMax<qint64>(1, m_block / 4))
        m_buf.resize(qMax<qint64>(m_buf.size() * 2, m_end + m_block));
    const qint64 room = qMin<qint64>(m_buf.size() - m_end, m_block);
    qint64 got = 0;
    if (m_inMemory) {
        // Bytes in memory go through the same blocks as a file, so both take the same paths.
        got = qMin<qint64>(room, m_memory.size() - m_memoryPos);
        if (got > 0)
            std::memcpy(m_buf.data() + m_end, m_memory.data() + m_memoryPos, size_t(got));
        m_memoryPos += got;
    } else {
        errno = 0;
        got = m_file->read(m_buf.data() + m_end, room);
    }
    if (got < 0) {
        m_failed = true;
        const auto *file = qobject_cast<const QFile *>(m_file.get());
        m_error = whyNotRead(file ? file->fileName() : QString(), errno);
        m_eof = true;
        return false;
    }
    if (got == 0) {
        m_eof = true;
        return false;
    }
    if (m_hash)
        m_hash->add(QByteArrayView(m_buf.constData() + m_end, got));
    m_end += got;
    return true;
}

bool ExportReader::atEnd()
{
    for (;;) {
        const unsigned char *b = reinterpret_cast<const unsigned char *>(m_buf.constData());
        while (m_pos < m_end && b[m_pos] <= 32)
            ++m_pos;
        if (m_pos < m_end)
            return false;
        if (!fill())
            return true;
    }
}

bool ExportReader::takeLine(QByteArrayView &line)
{
    qint64 scanFrom = m_pos;
    for (;;) {
        const char *b = m_buf.constData();
        const void *lf = m_end > scanFrom ? std::memchr(b + scanFrom, '\n', size_t(m_end - scanFrom)) : nullptr;
        if (lf) {
            const qint64 at = static_cast<const char *>(lf) - b;
            qint64 len = at - m_pos;
            if (len > 0 && b[at - 1] == '\r')
                --len;
            line = QByteArrayView(b + m_pos, len);
            m_pos = at + 1;
            return true;
        }
        const qint64 seen = m_end - m_pos;
        if (!fill()) {
            if (m_end > m_pos) {
                // The last line, without a line end.
                line = QByteArrayView(m_buf.constData() + m_pos, m_end - m_pos);
                m_pos = m_end;
                return true;
            }
            line = {};
            return false;
        }
        scanFrom = m_pos + seen;
    }
}

bool ExportReader::readLine(QByteArrayView &line)
{
    if (atEnd()) {
        line = {};
        return false;
    }
    return takeLine(line);
}

bool ExportReader::readRawLine(QByteArrayView &line)
{
    if (m_pos >= m_end && !fill()) {
        line = {};
        return false;
    }
    return takeLine(line);
}
