#include "exportwriter.h"

#include <QFile>

namespace {

// Windows-1252 at 0x80..0x9F; the holes map to the C1 control of the same number.
const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                            0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

QByteArray ExportWriter::cp1252(QStringView text)
{
    QByteArray out;
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        char b = '?';
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
            b = char(c);
        for (int i = 0; i < 32; ++i)
            if (kHigh[i] == c)
                b = char(0x80 + i);
        out.append(b);
    }
    return out;
}

QByteArray ExportWriter::fields(const QStringList &values)
{
    QByteArray out;
    for (const QString &v : values)
        out.append(cp1252(v)).append(char(0xF8));
    return out;
}

QByteArray ExportWriter::marker()
{
    return fields({QStringLiteral("BASE DE DADOS")});
}

QStringList ExportWriter::structure(const QString &table)
{
    using L = QStringList;
    if (table == u"PRATO")
        return L{"PRATO", "CDFILAUXPRAT", "CDPRATO", "CDFILIAL", "NMPRATO", "CDNVPRATO", "SGUNIDADE",
                 "VRARREDTRANS", "DTULTATUPRAT", "CDSEGMER", "CDEXPRATO", "DTULTATURECE"};
    if (table == u"RECEPADR")
        return L{"RECEPADR", "CDFILAUXPRAT", "CDPRATO", "CDPRODUTO", "SGUNIDADE", "QTPRODUTO"};
    if (table == u"PRATPADR")
        return L{"PRATPADR", "CDFILAUXPRAT", "CDPRATO", "SGUNIDADE", "QTRENDIMENTO"};
    if (table == u"RECEFILI")
        return L{"RECEFILI", "CDFILIAL", "CDFILAUXPRAT", "CDPRATO", "CDPRODUTO", "SGUNIDADE", "QTPRODUTO"};
    if (table == u"PRATFILI")
        return L{"PRATFILI", "CDFILIAL", "CDFILAUXPRAT", "CDPRATO", "VRPRECO", "DTULTATU"};
    if (table == u"SERVICO")
        return L{"SERVICO", "CDSERVFILI", "NMSERVICO"};
    if (table == u"RECESERV")
        return L{"RECESERV", "CDFILIAL", "CDSERVFILI", "CDFILAUXPRAT", "CDPRATO", "CDPRODUTO", "SGUNIDADE", "QTPRODUTO"};
    if (table == u"PRATSERV")
        return L{"PRATSERV", "CDFILIAL", "CDSERVFILI", "CDFILAUXPRAT", "CDPRATO", "VRPRECO"};
    return {};
}

ExportWriter::ExportWriter()
{
    lines << fields({"PRATO", "EXPORTAÇÃO DE PRATOS"}) << fields({"MASCARA", "999.999"})
          << fields({"ORIGEM", "0009"});
    for (const char *t : {"PRATO", "RECEPADR", "PRATPADR", "RECEFILI", "PRATFILI", "SERVICO", "RECESERV", "PRATSERV"})
        lines << fields(structure(QString::fromLatin1(t)));
    lines << fields({"FIM DA ESTRUTURA"}) << marker();
}

ExportWriter &ExportWriter::add(const QStringList &values)
{
    lines << fields(values);
    return *this;
}

ExportWriter &ExportWriter::service(const QString &code, const QString &name)
{
    return add({QStringLiteral("SERVICO"), code, name});
}

ExportWriter &ExportWriter::dish(const QString &tree, const QString &code, const QString &name, const QString &unit)
{
    return add({"PRATO", tree, code, "0009", name, "1", unit, "0,5", "10/1/2024", "01", "EXP" + code, "12/3/2024 08:15"});
}

QByteArray ExportWriter::bytes(const QByteArray &eol) const
{
    QByteArray out;
    for (const QByteArray &l : lines)
        out.append(l).append(eol);
    return out;
}

bool ExportWriter::write(const QString &path, const QByteArray &eol) const
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes(eol)) == bytes(eol).size();
}
