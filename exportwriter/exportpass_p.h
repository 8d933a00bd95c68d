#pragma once
// One export's pass over the database (menuexport.cpp runs it): the header and structure lines,
// the services, then every dish followed by its recipe lines, read table by table in dish order
// and merged as they come. Only the export's own sources include this.
#include "menuexport.h"
#include "rowcursor.h"

#include "catalogue.h"

#include <QByteArray>
#include <QSaveFile>

#include <memory>
#include <openssl/evp.h>

namespace MenuExport::detail {

// The file as it is written: a block of lines in memory, handed to the temporary file and to the
// SHA-256 as it fills.
class Output {
public:
    Output();
    ~Output();
    Status open(const QString &path);
    QByteArray &buffer() { return m_buf; }
    // Writes the block when it is full.
    Status maybeFlush() { return m_buf.size() >= kBlock ? flush() : okStatus(); }
    // Everything written and the file renamed into place.
    Status commit();
    qint64 bytes() const { return m_bytes; }
    QString sha256() const { return m_sha256; }

private:
    static constexpr qsizetype kBlock = 1 << 20;
    Status flush();
    Status failed() const;
    QSaveFile m_file;
    QByteArray m_buf;
    EVP_MD_CTX *m_hash = nullptr;
    qint64 m_bytes = 0;
    QString m_sha256;
};

class Pass {
public:
    Pass(ExportRead::Snapshot &snapshot, const Request &request, Output &out, StopRequest *stop, Observer *observer);
    // Every line of the file into `out`; the totals' rows and missing codes.
    Status run(Totals &totals);

private:
    struct Source; // one table's cursor in the merge
    Status header();
    Status services(Totals &totals);
    Status tree(const QByteArray &aux, Totals &totals);
    Status dishLoop(Source &dish, std::vector<std::unique_ptr<Source>> &recipes);
    // One line of `def` from the cursor's row; a refused value fails with the dish named.
    Status line(const Catalogue::TableDef &def, QByteArrayView name, const ExportRead::Cursor &row);
    Status stopPoint();
    // The dish-code filter: " AND <column> IN (?,...)" and its parameters, empty without codes.
    QString dishFilter(const QString &column) const;
    Result<qint64> count(const QString &sql, const QList<QByteArray> &params);
    Failure readFailure(const QString &what, const QString &why) const;

    ExportRead::Snapshot &m_snapshot;
    const Request &m_request;
    Output &m_out;
    StopRequest *m_stop;
    Observer *m_observer;
    QList<QByteArray> m_codes;  // the dish codes asked for, each once
    QList<QByteArray> m_trees;  // CDFILAUXPRAT of the trees exported, in the order written
    qint64 m_dishes = 0;
    qint64 m_lastServe = -kServeEveryMs; // the first dishes already let the events in
    static constexpr qint64 kServeEveryMs = 50;
};

} // namespace MenuExport::detail
