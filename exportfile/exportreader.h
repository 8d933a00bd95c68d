#pragma once
// Line reader of the export file: reads the file in large blocks and hands out each line as a view
// of its bytes, valid until the next read. A line ends at LF, with or without a CR before it; the
// line end is not part of the line. readLine first skips every byte up to 32 (blanks, control
// characters, line ends), as the load pass does before each line; readRawLine does not, for the
// header lines.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class QIODevice;
class Sha256;

class ExportReader {
public:
    ExportReader();
    ~ExportReader();
    ExportReader(const ExportReader &) = delete;
    ExportReader &operator=(const ExportReader &) = delete;

    // Opens a file; false with the system's message in errorString().
    bool open(const QString &path);
    // Reads from bytes in memory (they must outlive the reader).
    void openBytes(QByteArrayView bytes);
    void close();
    bool isOpen() const;

    // True when nothing but bytes up to 32 is left (skips them).
    bool atEnd();
    // Skips bytes up to 32, then the line; false at the end of the file.
    bool readLine(QByteArrayView &line);
    // The next physical line as stored; false at the end of the file.
    bool readRawLine(QByteArrayView &line);

    // A read error happened (the calls above then behave as at the end of the file).
    bool failed() const;
    QString errorString() const;

    void setBlockSize(qint64 bytes); // tests: small blocks to cross their edges
    // Every byte read from now on also goes into `hash` (not owned; nullptr: none). close() drops it.
    // With read-ahead, set it before the first read.
    void hashInto(Sha256 *hash) { m_hash = hash; }
    // A file's blocks are read, and hashed, on a thread of their own, a block or two ahead of the
    // lines taken here (the load pass's readings: both cores work). Set before the first read; it
    // holds until close(). The thread touches nothing but the file, its blocks and the hash.
    void setReadAhead(bool on) { m_readAheadWanted = on; }

private:
    bool fill();         // more bytes after m_end; false when none come
    bool takeLine(QByteArrayView &line);
    qint64 readAhead(); // the thread's next block as the buffer; its size, 0 at the end, -1 failed
    void stopReadAhead();

    std::unique_ptr<QIODevice> m_file;
    QByteArrayView m_memory;
    qint64 m_memoryPos = 0;
    bool m_inMemory = false;
    bool m_open = false;
    bool m_eof = false;
    bool m_failed = false;
    QString m_error;
    QByteArray m_buf;
    qint64 m_pos = 0;    // next unread byte in m_buf
    qint64 m_end = 0;    // bytes held in m_buf
    qint64 m_block = qint64(1) << 20;
    Sha256 *m_hash = nullptr;
    struct ReadAhead;
    std::unique_ptr<ReadAhead> m_ahead;
    bool m_readAheadWanted = false;
};
