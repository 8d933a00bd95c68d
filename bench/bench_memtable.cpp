// Fills PRATO with a million dishes the way the load pass does (each row inserted ahead of the
// one posted last, its columns set from text), then packs the table and loads the packet back.
// Prints plain lines: what was measured, the figure, the unit.
#include "datapacket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

QList<FieldDef> pratoFields()
{
    return {FieldDef::text("CDFILAUXPRAT", 4), FieldDef::text("CDPRATO", 10), FieldDef::text("CDFILIAL", 4),
            FieldDef::text("NMPRATO", 40), FieldDef::text("CDNVPRATO", 1), FieldDef::text("SGUNIDADE", 10),
            FieldDef::number("VRARREDTRANS"), FieldDef::dateTime("DTULTATUPRAT"), FieldDef::text("CDSEGMER", 5),
            FieldDef::text("CDEXPRATO", 20), FieldDef::dateTime("DTULTATURECE"), FieldDef::text("IDERRO", 10),
            FieldDef::text("MNPRATOLOCAL", 40)};
}

// Resident set now and at its peak, in MB, from the kernel's view of this process.
QString rss()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("n/a");
    QString now, peak;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const auto mb = [&] { return QString::number(line.mid(6).trimmed().split(' ').value(0).toLongLong() / 1024.0, 'f', 1); };
        if (line.startsWith("VmRSS:"))
            now = mb();
        else if (line.startsWith("VmHWM:"))
            peak = mb();
    }
    return QStringLiteral("rss %1 MB, peak %2 MB").arg(now, peak);
}

void print(const QString &s) { std::printf("%s\n", qPrintable(s)); std::fflush(stdout); }

double mb(std::size_t bytes) { return double(bytes) / (1024.0 * 1024.0); }

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 1'000'000;

    static const char *const words[] = {"Arroz", "Feijão", "Frango", "Grelhado", "à", "Moda", "da", "Casa",
                                        "Salada", "Verde", "Purê", "Batata", "Peixe", "Assado", "Molho", "Branco"};
    QStringList names;
    for (int i = 0; i < 997; ++i) {
        QString n;
        for (int w = 0; w < 3 + i % 3; ++w)
            n += QString::fromUtf8(words[(i * 7 + w * 5) % 16]) + u' ';
        names << n.trimmed();
    }
    const QString units[] = {QStringLiteral("KG"), QStringLiteral("UN"), QStringLiteral("PORCAO")};
    const QDateTime base(QDate(2020, 1, 1), QTime(8, 0), Qt::UTC);
    print(QStringLiteral("start: %1").arg(rss()));

    MemTable prato(QStringLiteral("PRATO"));
    prato.setFields(pratoFields());
    prato.createDataSet();
    QElapsedTimer timer;
    timer.start();
    QString code(10, u'0');
    for (int i = 0; i < rows; ++i) {
        prato.insert();
        prato.setText(0, i % 10 < 7 ? u"P" : u"0001");
        const QString digits = QString::number(i + 1);
        code.fill(u'0');
        code.replace(10 - digits.size(), digits.size(), digits);
        prato.setText(1, code);
        prato.setText(2, u"0001");
        prato.setText(3, names[i % names.size()]);
        prato.setText(4, i % 3 == 0 ? u"1" : u"2");
        prato.setText(5, units[i % 3]);
        prato.setNumber(6, (i % 100) * 0.05);
        prato.setDateTime(7, base.addSecs(i * 37));
        prato.setText(8, i % 4 ? u"00001" : u"00002");
        prato.setText(9, QStringView(code).mid(4));
        prato.setDateTime(10, base.addSecs(i * 53));
        prato.setText(11, i % 50 ? u"0000000000" : u"0010000000");
        if (i % 50 == 0)
            prato.setText(12, names[(i / 50) % names.size()]);
        prato.post();
    }
    const double fillSecs = timer.nsecsElapsed() / 1e9;
    print(QStringLiteral("fill (insert ahead of current, setText, post): %1 rows in %2 s")
              .arg(prato.rowCount()).arg(fillSecs, 0, 'f', 2));
    print(QStringLiteral("table memoryUsage: %1 MB; %2").arg(mb(prato.memoryUsage()), 0, 'f', 1).arg(rss()));

    prato.mergeChangeLog();
    timer.restart();
    const QByteArray packet = DataPacket::save(prato);
    print(QStringLiteral("save packet: %1 MB in %2 s").arg(mb(size_t(packet.size())), 0, 'f', 1)
              .arg(timer.nsecsElapsed() / 1e9, 0, 'f', 2));

    MemTable loaded;
    timer.restart();
    const Status st = DataPacket::load(loaded, packet);
    if (!st.ok()) {
        print(QStringLiteral("load failed: ") + st.error());
        return 1;
    }
    print(QStringLiteral("load packet: %1 rows in %2 s").arg(loaded.rowCount()).arg(timer.nsecsElapsed() / 1e9, 0, 'f', 2));
    print(QStringLiteral("loaded table memoryUsage: %1 MB; %2").arg(mb(loaded.memoryUsage()), 0, 'f', 1).arg(rss()));
    const bool same = loaded.rowCount() == prato.rowCount() && loaded.rowValues(0) == prato.rowValues(0)
        && loaded.rowValues(rows - 1) == prato.rowValues(rows - 1);
    print(QStringLiteral("round trip equal: %1").arg(same ? "yes" : "no"));
    return same ? 0 : 1;
}
