#include "checkreport.h"

#include "ambiente.h"
#include "dishflags.h"
#include "dishtable.h"
#include "importpreview.h"
#include "importsession.h"
#include "messages.h"
#include "rdmcalls.h"

#include <QDateTime>
#include <QLocale>

#include <functional>

namespace CheckReport {

namespace {

// Output collected in a block and written when it fills: one fwrite per 64 KiB, not per value.
class Out {
public:
    explicit Out(std::FILE *f) : m_f(f) { m_buf.reserve(kBlock + 4096); }
    ~Out() { flush(); }
    Out &operator<<(const char *s)
    {
        m_buf.append(s);
        check();
        return *this;
    }
    Out &operator<<(const QByteArray &s)
    {
        m_buf.append(s);
        check();
        return *this;
    }
    Out &operator<<(QStringView s)
    {
        appendUtf8(s);
        check();
        return *this;
    }
    // `s` padded with blanks to `width` characters, as QString::leftJustified pads it.
    Out &justified(QStringView s, qsizetype width)
    {
        appendUtf8(s);
        for (qsizetype i = s.size(); i < width; ++i)
            m_buf.append(' ');
        check();
        return *this;
    }
    Out &operator<<(const QString &s) { return *this << QStringView(s); }
    void flush()
    {
        if (!m_buf.isEmpty())
            std::fwrite(m_buf.constData(), 1, size_t(m_buf.size()), m_f);
        m_buf.resize(0);
        std::fflush(m_f);
    }

private:
    static constexpr qsizetype kBlock = 1 << 16;
    // UTF-8 straight into the block; text with surrogates goes through Qt's own conversion.
    void appendUtf8(QStringView s)
    {
        const qsizetype at = m_buf.size();
        m_buf.resize(at + 3 * s.size());
        char *out = m_buf.data() + at;
        for (QChar qc : s) {
            const char16_t c = qc.unicode();
            if (c < 0x80) {
                *out++ = char(c);
            } else if (c < 0x800) {
                *out++ = char(0xC0 | (c >> 6));
                *out++ = char(0x80 | (c & 0x3F));
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                m_buf.resize(at);
                m_buf.append(s.toUtf8());
                return;
            } else {
                *out++ = char(0xE0 | (c >> 12));
                *out++ = char(0x80 | ((c >> 6) & 0x3F));
                *out++ = char(0x80 | (c & 0x3F));
            }
        }
        m_buf.resize(out - m_buf.constData());
    }
    void check()
    {
        if (m_buf.size() >= kBlock) {
            std::fwrite(m_buf.constData(), 1, size_t(m_buf.size()), m_f);
            m_buf.resize(0);
        }
    }
    std::FILE *m_f;
    QByteArray m_buf;
};

void appendJsonString(QByteArray &out, QStringView s)
{
    out.append('"');
    const QByteArray utf8 = s.toUtf8();
    for (char ch : utf8) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out.append(buf);
            } else {
                out.append(ch);
            }
        }
    }
    out.append('"');
}

QByteArray jsonNumber(double d)
{
    // Shortest text that reads back as the same double; integers without a fraction.
    return QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
}

void appendCell(QByteArray &out, const MemTable &t, int row, int col)
{
    static thread_local QString scratch;
    if (t.isNullAt(row, col)) {
        out.append("null");
        return;
    }
    switch (t.field(col).kind) {
    case FieldKind::Text: appendJsonString(out, t.textViewAt(row, col, scratch)); break;
    case FieldKind::Number: out.append(jsonNumber(t.numberAt(row, col))); break;
    case FieldKind::Integer: out.append(QByteArray::number(t.integerAt(row, col))); break;
    case FieldKind::Boolean: out.append(t.booleanAt(row, col) ? "true" : "false"); break;
    case FieldKind::DateTime:
        out.append('"');
        out.append(t.dateTimeAt(row, col).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1());
        out.append('"');
        break;
    }
}

// `afterColumn`/`extra`: a key written into every row right after that column (the dish's error
// texts after IDERRO); -1 for none.
void writeRows(Out &o, const MemTable &t, int afterColumn = -1, const std::function<QByteArray(int row)> &extra = {})
{
    o << "[";
    if (t.isActive()) {
        QList<QByteArray> keys;
        for (const FieldDef &f : t.fields())
            keys << jsonString(f.name) + ": ";
        QByteArray row;
        for (int r = 0; r < t.rowCount(); ++r) {
            row.resize(0);
            row.append(r ? ", {" : "{");
            for (int c = 0; c < t.fieldCount(); ++c) {
                if (c)
                    row.append(", ");
                row.append(keys[c]);
                appendCell(row, t, r, c);
                if (c == afterColumn)
                    row.append(extra(r));
            }
            row.append('}');
            o << row;
        }
    }
    o << "]";
}

// ', "erros": [texts]' of a dish: what IDERRO's raised positions say, as the error panel says it,
// so that a reader of the JSON need not know the positions. Empty for a dish without errors.
QByteArray errorTexts(ImportSession &s, int row, int flagsColumn, int localColumn)
{
    static thread_local QString scratch;
    const QStringView flags = s.cdsPrato.textViewAt(row, flagsColumn, scratch);
    if (!DishFlags::hasErrors(flags))
        return QByteArrayLiteral(", \"erros\": []");
    QStringList texts = DishFlags::texts(flags.toString(), localColumn >= 0 ? s.cdsPrato.textAt(row, localColumn) : QString(),
                                         s.controlCharLine(row));
    if (texts.isEmpty())
        texts << Msg(QStringLiteral("Erro_Indefinido")).arg(flags.toString());
    QByteArray out(", \"erros\": [");
    for (qsizetype i = 0; i < texts.size(); ++i)
        out.append(i ? ", " : "").append(jsonString(texts[i]));
    return out.append(']');
}

const char *boolText(bool b)
{
    return b ? "true" : "false";
}

// ',\n "warnings": {...}' of what the pass found, when it found anything.
void writeWarnings(Out &o, const LoadNotes &notes)
{
    if (!notes.isEmpty()) {
        const auto numbers = [](const QList<int> &l) {
            QByteArray out("[");
            for (qsizetype i = 0; i < l.size(); ++i)
                out.append(i ? ", " : "").append(QByteArray::number(l[i]));
            return out.append(']');
        };
        o << ",\n \"warnings\": {";
        const char *sep = "";
        // Per column: values that did not convert, key values cut, numbers rounded.
        const auto perColumn = [&](const char *name, const QList<LoadNotes::Unparsed> &list) {
            if (list.isEmpty())
                return;
            o << sep << "\"" << name << "\": [";
            for (qsizetype i = 0; i < list.size(); ++i) {
                const LoadNotes::Unparsed &u = list[i];
                o << (i ? ", " : "") << "{\"table\": " << jsonString(u.table) << ", \"column\": "
                  << jsonString(u.column) << ", \"count\": " << QByteArray::number(u.count)
                  << ", \"lines\": " << numbers(u.lines) << "}";
            }
            o << "]";
            sep = ", ";
        };
        perColumn("unparsed", notes.unparsed);
        perColumn("cut", notes.cut);
        perColumn("rounded", notes.rounded);
        if (!notes.nulLines.isEmpty()) {
            o << sep << "\"nulLines\": " << numbers(notes.nulLines);
            sep = ", ";
        }
        if (notes.cutLastLine > 0)
            o << sep << "\"cutLastLine\": " << QByteArray::number(notes.cutLastLine);
        o << "}";
    }
}

} // namespace

QByteArray jsonString(QStringView s)
{
    QByteArray out;
    appendJsonString(out, s);
    return out;
}

void writeJson(ImportSession &s, std::FILE *f, const ImportPreview *preview, bool close)
{
    Out o(f);
    o << "{\"flags\": {\"TemRecePadr\": " << boolText(s.TemRecePadr) << ", \"TemReceFili\": "
      << boolText(s.TemReceFili) << ", \"TemReceServ\": " << boolText(s.TemReceServ) << "},\n";
    o << " \"tables\": {";
    bool firstTable = true;
    for (const auto &[name, table] : s.dataTables()) {
        o << (firstTable ? "\n  " : ",\n  ") << jsonString(name) << ": ";
        const int flags = table == &s.cdsPrato && table->isActive() ? table->fieldIndex(u"IDERRO") : -1;
        const int local = flags >= 0 ? table->fieldIndex(u"MNPRATOLOCAL") : -1;
        writeRows(o, *table, flags, [&](int r) { return errorTexts(s, r, flags, local); });
        firstTable = false;
    }
    o << "},\n \"servico\": ";
    writeRows(o, s.cdsServico);
    o << ",\n \"servdestino\": ";
    writeRows(o, s.cdsServDestino);
    // The rows that took the destination the branch's last import gave them; only when there are
    // any, so the output of a load without them stays as it always was.
    const QList<int> remembered = s.serviceMap.rememberedRows();
    if (!remembered.isEmpty()) {
        o << ",\n \"remembered\": [";
        for (qsizetype i = 0; i < remembered.size(); ++i) {
            const int r = remembered[i];
            o << (i ? ", " : "") << "{\"CDSERVFILIORIG\": " << jsonString(s.cdsServico.textAt(r, ServiceMap::ColOrig))
              << ", \"CDSERVFILIDEST\": " << jsonString(s.cdsServico.textAt(r, ServiceMap::ColDest)) << "}";
        }
        o << "]";
    }
    // Only when the pass found something: a clean file's output stays as it always was.
    writeWarnings(o, s.loadNotes());
    // Last, so that everything before it reads as it did without a preview.
    if (preview) {
        const auto codes = [&](const QStringList &l) {
            o << "[";
            for (qsizetype i = 0; i < l.size(); ++i)
                o << (i ? ", " : "") << jsonString(l[i]);
            o << "]";
        };
        o << ",\n \"preview\": {\"new\": ";
        codes(preview->newDishes);
        o << ", \"replaced\": ";
        codes(preview->replacedDishes);
        o << ", \"rows_replaced\": {";
        for (qsizetype i = 0; i < preview->rowsReplaced.size(); ++i)
            o << (i ? ", " : "") << jsonString(preview->rowsReplaced[i].first) << ": "
              << QByteArray::number(preview->rowsReplaced[i].second);
        o << "}}";
    }
    if (close)
        o << "}\n";
}

void writeImportOutcome(const ImportSummary &summary, std::FILE *f)
{
    Out o(f);
    o << ",\n \"import\": {\"outcome\": \"ok\", \"dishes_written\": " << QByteArray::number(summary.dishesWritten)
      << ", \"dishes_refused\": [";
    for (qsizetype i = 0; i < summary.dishesNotWritten.size(); ++i)
        o << (i ? ", " : "") << jsonString(summary.dishesNotWritten[i]);
    o << "], \"rows\": {";
    for (qsizetype i = 0; i < summary.rowsPerTable.size(); ++i)
        o << (i ? ", " : "") << jsonString(summary.rowsPerTable[i].first) << ": "
          << QByteArray::number(summary.rowsPerTable[i].second);
    o << "}, \"history_id\": " << (summary.historyId.isEmpty() ? QByteArray("null") : jsonString(summary.historyId))
      << "}}\n";
}

void writeJsonError(const Failure &failure, const QString &text, std::FILE *f)
{
    Out o(f);
    o << "{\"error\": {\"key\": " << jsonString(failure.key) << ", \"kind\": \""
      << Failure::kindName(failure.kind()) << "\", \"text\": " << jsonString(text) << "}}\n";
}

namespace {

// One line a dish, "  STATUS CODE  NAME  TREE", and under a dish with errors one line an error.
// Answers how many dishes have errors.
int writeDishLines(Out &o, ImportSession &s, const QString &dishPicture, const ImportPreview *preview)
{
    const QString isNew = preview ? Msg(QStringLiteral("Previa_Novo")) : QString();
    const QString replaces = preview ? Msg(QStringLiteral("Previa_Substitui")) : QString();
    const MemTable &p = s.cdsPrato;
    const int cCode = p.fieldIndex(u"CDPRATO");
    const int cName = p.fieldIndex(u"NMPRATO");
    const int cTree = p.fieldIndex(u"CDFILAUXPRAT");
    const int cErr = p.fieldIndex(u"IDERRO");
    const int cLocal = p.fieldIndex(u"MNPRATOLOCAL");
    int withErrors = 0;
    const int dishes = p.isActive() ? p.rowCount() : 0;
    // The words of the few trees a file has, looked up once each.
    std::vector<std::pair<QString, QString>> treeWords;
    const auto treeText = [&](QStringView tree) -> const QString & {
        for (const auto &[value, words] : treeWords)
            if (value == tree)
                return words;
        treeWords.emplace_back(tree.toString(), DishTable::treeText(tree));
        return treeWords.back().second;
    };
    QString codeChars, treeChars, errChars, nameChars; // the views' characters, narrow columns only
    for (int r = 0; r < dishes; ++r) {
        const QStringView codeView = cCode >= 0 ? p.textViewAt(r, cCode, codeChars) : QStringView();
        const QStringView treeView = cTree >= 0 ? p.textViewAt(r, cTree, treeChars) : QStringView();
        const QStringView errView = cErr >= 0 ? p.textViewAt(r, cErr, errChars) : QStringView();
        const bool bad = DishFlags::hasErrors(errView);
        withErrors += bad ? 1 : 0;
        // The code and the name padded to 12 and 40 characters.
        o << (bad ? "  ERRO " : "  OK   ");
        if (dishPicture.isEmpty())
            o.justified(codeView, 12);
        else
            o.justified(formatThroughPicture(codeView.toString(), dishPicture), 12);
        o << "  ";
        o.justified(cName >= 0 ? p.textViewAt(r, cName, nameChars) : QStringView(), 40);
        o << "  " << treeText(treeView);
        if (preview && !bad) {
            const ImportPreview::Dish d = preview->dish(r);
            if (d != ImportPreview::Dish::NotWritten)
                o << "  (" << (d == ImportPreview::Dish::New ? isNew : replaces) << ")";
        }
        o << "\n";
        if (bad)
            for (const QString &e : DishFlags::texts(errView.toString(), cLocal >= 0 ? p.textAt(r, cLocal) : QString(), s.controlCharLine(r)))
                o << "         - " << e << "\n";
    }
    return withErrors;
}

// One line an exported service, with the destination service it is paired with.
void writeServiceLines(Out &o, ImportSession &s, int &paired, int &unpaired)
{
    const MemTable &m = s.cdsServico;
    paired = 0;
    unpaired = 0;
    if (m.isActive()) {
        for (int r = 0; r < m.rowCount(); ++r) {
            const QString dest = m.textAt(r, ServiceMap::ColDest);
            const bool isPaired = !dest.trimmed().isEmpty();
            (isPaired ? paired : unpaired)++;
            o << "  " << m.textAt(r, ServiceMap::ColOrig).leftJustified(5) << " "
              << m.textAt(r, ServiceMap::ColNmOrig).leftJustified(40) << " -> "
              << (isPaired ? dest + QLatin1Char(' ') + m.textAt(r, ServiceMap::ColNmDest)
                           : QStringLiteral("(sem serviço destino)"));
            if (s.serviceMap.isRemembered(r))
                o << " " << Msg(QStringLiteral("Serv_Lembrado_Marca"));
            o << "\n";
        }
    }
    if (paired + unpaired == 0)
        o << "  nenhum\n";
}

} // namespace

namespace {

// The dishes with errors and the services with and without a destination, counted without a
// line written (the report of --quiet).
int countDishesWithErrors(ImportSession &s)
{
    const MemTable &p = s.cdsPrato;
    const int flags = p.isActive() ? p.fieldIndex(u"IDERRO") : -1;
    int n = 0;
    QString scratch;
    for (int r = 0; flags >= 0 && r < p.rowCount(); ++r)
        n += DishFlags::hasErrors(p.textViewAt(r, flags, scratch)) ? 1 : 0;
    return n;
}

void countServices(ImportSession &s, int &paired, int &unpaired)
{
    paired = unpaired = 0;
    const MemTable &m = s.cdsServico;
    for (int r = 0; m.isActive() && r < m.rowCount(); ++r)
        (m.textAt(r, ServiceMap::ColDest).trimmed().isEmpty() ? unpaired : paired)++;
}

void writeTotals(Out &o, ImportSession &s, int dishes, int withErrors, int paired, int unpaired)
{
    o << "Totais: " << QByteArray::number(dishes) << " pratos, " << QByteArray::number(withErrors)
      << " com erros; serviços " << QByteArray::number(paired) << " pareados, " << QByteArray::number(unpaired)
      << " sem destino.\nLinhas carregadas:";
    bool first = true;
    for (const auto &[name, table] : s.dataTables()) {
        o << (first ? " " : ", ") << name << " " << QByteArray::number(table->isActive() ? table->rowCount() : 0);
        first = false;
    }
    o << ".\n";
}

} // namespace

void writeText(ImportSession &s, const QString &branchName, const QString &dishPicture, std::FILE *f,
               const ImportPreview *preview, bool totalsOnly)
{
    Out o(f);
    const int dishes = s.cdsPrato.isActive() ? s.cdsPrato.rowCount() : 0;
    int paired = 0, unpaired = 0;
    if (totalsOnly) {
        countServices(s, paired, unpaired);
        writeTotals(o, s, dishes, countDishesWithErrors(s), paired, unpaired);
        if (preview)
            o << "Importação: " << preview->totalsText() << "; " << preview->rowsText() << ".\n";
        return;
    }
    o << "Arquivo: " << s.NmArquivo << "\n";
    o << "Filial destino: " << s.CdFilial << (branchName.isEmpty() ? QString() : QStringLiteral(" - ") + branchName)
      << "\n\n";

    o << "Pratos: " << QByteArray::number(dishes) << "\n";
    const int withErrors = writeDishLines(o, s, dishPicture, preview);

    o << "\nServiços (" << Msg(QStringLiteral("Serv_Exp")) << "):\n";
    writeServiceLines(o, s, paired, unpaired);

    o << "\n";
    writeTotals(o, s, dishes, withErrors, paired, unpaired);
    const QStringList warnings = s.loadWarnings();
    if (!warnings.isEmpty()) {
        o << "\nAvisos:\n";
        for (const QString &w : warnings)
            o << "  - " << w << "\n";
    }
    if (preview)
        o << "\nImportação: " << preview->totalsText() << "; " << preview->rowsText() << ".\n";
}

} // namespace CheckReport
