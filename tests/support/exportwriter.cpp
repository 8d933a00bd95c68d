#include "exportwriter.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>

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

// ---- Files at the destination's limits -----------------------------------------------------------

namespace {

// The draws of one file, from its seed.
class Draw {
public:
    explicit Draw(quint32 seed) : m_g(seed) {}
    int below(int n) { return int(m_g.bounded(n)); }
    bool chance(int percent) { return below(100) < percent; }
    // One text of the pool; "\\0" in it stands for a NUL.
    template <size_t N>
    QString of(const char *const (&pool)[N])
    {
        return text(pool[below(int(N))]);
    }
    // A usual value, or one at the limits one time in `limitEvery`.
    template <typename P>
    QString of(const P &p, int limitEvery = 16)
    {
        const QStringList &from = below(limitEvery) == 0 ? p.limits : p.usual;
        return from.at(below(int(from.size())));
    }
    static QString text(const char *s)
    {
        return QString::fromUtf8(s).replace(QStringLiteral("\\0"), QString(QChar(0)));
    }

private:
    QRandomGenerator m_g;
};

// Each value is one of its column's usual ones, or now and then one at a limit.
struct Pool {
    QStringList usual, limits;
};
Pool pool(std::initializer_list<const char *> usual, std::initializer_list<const char *> limits)
{
    Pool p;
    for (const char *u : usual)
        p.usual << Draw::text(u);
    for (const char *l : limits)
        p.limits << Draw::text(l);
    return p;
}
const Pool kUnits = pool({"KG", "G", "UN", "PORC", "L", "ML"}, {"XX", "QUILOGRAMAS", "", "kg", " KG", "UN\\0"});
// At and past numeric(18,6): half-way cases, more decimals than the scale, more integer digits
// than the column, the largest that fits, and texts that are no number.
const Pool kNumbers = pool({"1", "0,5", "2,5", "3", "10", "0,25", "-2,5", "1.234,5"},
                           {"0,1234567", "0,0000005", "-0,0000005", "0,0000004", "1,2345675", "2,0000015",
                            "999999999999,999999", "999999999999,99999", "999999999999,9999995", "999999999999",
                            "-999999999999,5", "12345678901234,5", "-12345678901234", "1000000000000",
                            "123456789012,123456", "abc", "", "1e3", "0,000000000001", "-0", "+5", "1e400",
                            "1e-400", "0,00000050000001"});
const Pool kDates = pool({"10/1/2024", "12/3/2024 08:15", "29/2/2024 23:59"},
                         {"31/2/2024", "", "1/1/1900", "1/1/0001", "31/12/9999 23:59:59", "1/1/10000", "1/1/-1",
                          "10/1/2024 25:00", "0/0/0"});
const Pool kProducts = pool({"000101", "000102", "000103", "000104", "000105", "000106", "000107", "000108", "000109",
                             "000110", "000111", "000112", "000113", "000114"},
                            {"999999", "00010112345", "", "0001\\0", " 000101", "000102 ", "\u00A0000103"});
const Pool kBranches = pool({"0009"}, {"", "00091", "0002"});

struct Service {
    const char *code, *name;
    const char *byName; // the demo destination's service it pairs with by name; "" none
};
const Service kServices[] = {{"10", "Almoco", "00001"},
                             {"20", "JANTAR", "00002"},
                             {"30", "LANCHE DA TARDE", ""},
                             {"40", "Ceia", "00004"},
                             {"123456", "SERVIÇO DE CÓDIGO LONGO", ""}, // the map holds it cut: 12345
                             {"60", "SEM PAR", ""},
                             {"70", "CAFÉ DA MANHÃ", "00003"}};

QString limitName(const char *start)
{
    return QString::fromUtf8(start).leftJustified(40, u'.', true);
}

// The destination's names of the dishes a file may name again.
const QHash<QString, QString> &destinationNames()
{
    static const QHash<QString, QString> names = [] {
        QHash<QString, QString> n{{QStringLiteral("100001"), QStringLiteral("ARROZ BRANCO")},
                                  {QStringLiteral("000900"), QStringLiteral("PUDIM DE LEITE CONDENSADO")},
                                  {QStringLiteral("000901"), QStringLiteral("MOUSSE DE CHOCOLATE")}};
        for (const QStringList &d : ExportWriter::limitsDestination())
            n.insert(d.at(1), d.at(2));
        return n;
    }();
    return names;
}

struct Dish {
    QString tree, code;
};

class LimitsBuilder {
public:
    explicit LimitsBuilder(quint32 seed) : d(seed) {}
    ExportWriter::Limits build();

private:
    void services();
    Dish newDish();
    QString name(const QString &code);
    void dishLine(const Dish &dish);
    // With `nul`, the line's product holds a NUL.
    void recipeLine(const Dish &dish, bool nul = false);

    Draw d;
    ExportWriter::Limits out;
    QList<Dish> dishes;
    QStringList serviceCodes;
    QSet<QString> keys; // of the recipe lines written
    int serial = 0;
};

void LimitsBuilder::services()
{
    QStringList free{"00001", "00002", "00003", "00004"};
    QList<const Service *> unpaired;
    for (const Service &s : kServices) {
        if (!d.chance(55))
            continue;
        out.file.service(QString::fromUtf8(s.code), QString::fromUtf8(s.name));
        serviceCodes << QString::fromUtf8(s.code);
        if (*s.byName)
            free.removeAll(QString::fromLatin1(s.byName));
        else
            unpaired << &s;
    }
    // The origin as the map holds it (cut to its column), the destination one no other row holds.
    for (const Service *s : std::as_const(unpaired))
        if (!free.isEmpty() && d.chance(60))
            out.pairs.append({QString::fromUtf8(s->code).left(5), free.takeAt(d.below(int(free.size())))});
}

Dish LimitsBuilder::newDish()
{
    static const char *const kKnown[] = {"100001", "000900", "000901", "1234567890", "9876543210"};
    static const char *const kTrees[] = {"P", "P", "P", "P", "P", "P", "0009", "0009", "0009", "", "P ", "0009X", "p"};
    const Dish earlier = dishes.isEmpty() ? Dish{QStringLiteral("P"), QStringLiteral("100001")}
                                          : dishes.at(d.below(int(dishes.size())));
    const QString plain = QString::number(200000 + ++serial);
    const int kind = d.below(100);
    if (kind < 5)
        return earlier; // the same key again
    const QString tree = d.of(kTrees);
    if (kind < 10) {
        // Blanks around a code of the file, or of the destination.
        static const char *const kBlanks[] = {" ", "  ", "\u00A0"};
        const QString blank = d.of(kBlanks);
        const Dish base = d.chance(50) ? earlier : Dish{tree, d.of(kKnown)};
        return {base.tree, d.chance(50) ? blank + base.code : base.code + blank};
    }
    if (kind < 24)
        return {tree, d.of(kKnown)};
    if (kind < 34)
        return {tree, plain + QStringLiteral("12345")};      // cut to its first ten characters
    if (kind < 40)
        return {tree, d.of(kKnown) + QStringLiteral("ABC")}; // cut, and maybe a dish the destination has
    if (kind < 44)
        return {tree, d.chance(50) ? QString() : QStringLiteral("   ")};
    if (kind < 49)
        return {tree, QStringLiteral("20") + QChar(0) + plain.right(3)};
    if (kind < 53)
        return {tree, QStringLiteral("pão") + plain.right(3)};
    if (kind < 55)
        return {tree, QString(11, u'€')}; // three bytes a character in UTF-8
    return {tree, plain};
}

QString LimitsBuilder::name(const QString &code)
{
    const QString n = QString::number(serial);
    const QString known = destinationNames().value(code.left(10).trimmed());
    const int kind = d.below(100);
    if (kind < 20 && !known.isEmpty())
        return known;
    if (kind < 28 && !known.isEmpty())
        return known + QStringLiteral("MAIS ALGUMA COISA"); // the same once cut, when at the limit
    if (kind < 40)
        return QStringLiteral("PRATO COM UM NOME BEM MAIS LONGO QUE A COLUNA DO DESTINO ") + n;
    if (kind < 45)
        return QStringLiteral("PRATO") + QChar(0) + n;
    if (kind < 50)
        return QString();
    if (kind < 58)
        return QStringLiteral("FEIJÃO ÇÃO € ‰ ") + n;
    if (kind < 61)
        return QStringLiteral(" PRATO\u0001\u0081 ") + n; // controls, and blanks at either end
    if (kind < 63)
        return QString(45, u'€');
    return QStringLiteral("PRATO ") + n;
}

void LimitsBuilder::dishLine(const Dish &dish)
{
    static const char *const kLevels[] = {"1", "1", "1", "12"};
    static const char *const kSegments[] = {"01", "01", "01", "0123456789"};
    QString exp = QStringLiteral("G%1").arg(serial);
    if (d.chance(10))
        exp += QStringLiteral(" COM UM TEXTO QUE PASSA DA COLUNA");
    out.file.add({"PRATO", dish.tree, dish.code, d.of(kBranches), name(dish.code), d.of(kLevels), d.of(kUnits),
                  d.of(kNumbers), d.of(kDates), d.of(kSegments), exp, d.of(kDates)});
}

void LimitsBuilder::recipeLine(const Dish &dish, bool nul)
{
    const QString fil = d.of(kBranches);
    const QString product = nul ? QStringLiteral("0001") + QChar(0) + QString::number(d.below(10)) : d.of(kProducts);
    QString svc = serviceCodes.isEmpty() ? QString() : serviceCodes.at(d.below(int(serviceCodes.size())));
    if (d.chance(8)) {
        static const char *const kOdd[] = {"99", "", "3\\0", " 10"};
        svc = d.of(kOdd);
    }
    QStringList v;
    switch (d.below(6)) {
    case 0: v = {"RECEPADR", dish.tree, dish.code, product, d.of(kUnits), d.of(kNumbers)}; break;
    case 1: v = {"PRATPADR", dish.tree, dish.code, d.of(kUnits), d.of(kNumbers)}; break;
    case 2: v = {"RECEFILI", fil, dish.tree, dish.code, product, d.of(kUnits), d.of(kNumbers)}; break;
    case 3: v = {"PRATFILI", fil, dish.tree, dish.code, d.of(kNumbers), d.of(kDates)}; break;
    case 4: v = {"RECESERV", fil, svc, dish.tree, dish.code, product, d.of(kUnits), d.of(kNumbers)}; break;
    default: v = {"PRATSERV", fil, svc, dish.tree, dish.code, d.of(kNumbers)}; break;
    }
    // A key once, but now and then twice on purpose.
    const bool perDish = v.first() == u"PRATPADR" || v.first() == u"PRATFILI" || v.first() == u"PRATSERV";
    const QString key = QStringList{v.first(), dish.tree, dish.code, perDish ? QString() : product,
                                    v.first().endsWith(u"SERV") ? svc : QString()}.join(u'|');
    if (keys.contains(key) && !d.chance(10))
        return;
    keys.insert(key);
    out.file.add(v);
    if (d.chance(5))
        out.file.add(v);
}

ExportWriter::Limits LimitsBuilder::build()
{
    services();
    if (d.chance(4))
        recipeLine({QStringLiteral("P"), QStringLiteral("100001")}); // before any dish
    for (int n = 2 + d.below(14); n > 0; --n) {
        const Dish dish = newDish();
        dishLine(dish);
        dishes << dish;
        for (int r = d.below(5); r > 0; --r) {
            const int to = d.below(100);
            if (to < 80)
                recipeLine(dish);
            else if (to < 92)
                recipeLine(dishes.at(d.below(int(dishes.size()))), d.chance(25)); // maybe after another dish
            else if (to < 96)
                recipeLine({QStringLiteral("P"), QStringLiteral("777777")}); // a dish the file lacks
            else
                recipeLine({dish.tree, QString()});
        }
    }
    return std::move(out);
}

} // namespace

QList<QStringList> ExportWriter::limitsDestination()
{
    return {{QStringLiteral("0001"), QStringLiteral("1234567890"),
             limitName("PRATO LOCAL COM CÓDIGO E NOME NO LIMITE")},
            {QStringLiteral("P"), QStringLiteral("9876543210"),
             limitName("PRATO PADRÃO COM CÓDIGO E NOME NO LIMITE")}};
}

ExportWriter::Limits ExportWriter::atLimits(quint32 seed)
{
    return LimitsBuilder(seed).build();
}
