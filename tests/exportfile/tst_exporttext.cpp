// The export file's text rules without a database: lines, fields, code page 1252 and the
// conversions of values in the operator's locale.
#include "exportreader.h"
#include "exportwriter.h"
#include "valuedecoder.h"

#include <QTest>

#include <cmath>

class TstExportText : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void rawLinesKeepBlanks();
    void codePage();
    void fields_data();
    void fields();
    void marker_data();
    void marker();
    void numbers_data();
    void numbers();
    void numbersForTheColumn_data();
    void numbersForTheColumn();
    void dates_data();
    void dates();
    void namedDates_data();
    void namedDates();
};

void TstExportText::lines_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("expected"); // lines as readLine gives them, CR shown as "\\r"

    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("bare lf") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("mixed ends") << QByteArray("a\r\nb\nc\r\n") << QStringList{"a", "b", "c"};
    QTest::newRow("last line without end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
    QTest::newRow("blank lines count nowhere") << QByteArray("a\r\n\r\n   \r\n\tb\r\n") << QStringList{"a", "b"};
    QTest::newRow("leading blanks dropped, trailing kept") << QByteArray("  a b  \r\n") << QStringList{"a b  "};
    QTest::newRow("control bytes skipped before a line") << QByteArray("\x01\x02\x1f" "a\n") << QStringList{"a"};
    QTest::newRow("a lone cr stays in the line") << QByteArray("a\rb\n") << QStringList{"a\\rb"};
    QTest::newRow("cr before the end of file stays") << QByteArray("a\r") << QStringList{"a\\r"};
    QTest::newRow("only blanks") << QByteArray(" \r\n\t \n") << QStringList{};
    QTest::newRow("empty") << QByteArray() << QStringList{};
    QTest::newRow("0xF8 and high bytes are content") << QByteArray("\xF8\x80\xFF\n") << QStringList{"\xC3\xB8\xE2\x82\xAC\xC3\xBF"};
}

void TstExportText::lines()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, expected);
    // Every block size, so that every line end falls across a block's edge somewhere; from a file
    // and from memory.
    QTemporaryDir dir;
    const QString path = dir.filePath("f.txt");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(input);
    f.close();
    for (bool fromFile : {true, false}) {
        for (qint64 block : {1, 2, 3, 7, 1 << 20}) {
            ExportReader r;
            r.setBlockSize(block);
            if (fromFile)
                QVERIFY(r.open(path));
            else
                r.openBytes(input);
            QStringList got;
            QByteArrayView line;
            while (r.readLine(line))
                got << ExportText::decode(line).replace(u'\r', QStringLiteral("\\r"));
            QVERIFY(!r.failed());
            QCOMPARE(got, expected);
        }
    }
}

void TstExportText::rawLinesKeepBlanks()
{
    // The header check reads lines 1 and 2 as the first two physical lines.
    ExportReader r;
    const QByteArray bytes("  PRATO\xF8\r\n\r\nMASCARA\xF8\r\n");
    r.openBytes(bytes);
    QByteArrayView line;
    QVERIFY(r.readRawLine(line));
    QCOMPARE(line, QByteArrayView("  PRATO\xF8"));
    QVERIFY(r.readRawLine(line));
    QCOMPARE(line.size(), 0);
    QVERIFY(r.readLine(line));
    QCOMPARE(line, QByteArrayView("MASCARA\xF8"));
    QVERIFY(r.atEnd());
    QVERIFY(!r.readRawLine(line));
}

void TstExportText::codePage()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = ExportText::decode(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(text.at(0x80), QChar(0x20AC));
    QCOMPARE(text.at(0x81), QChar(0x0081)); // an undefined byte is kept, not lost
    QCOMPARE(text.at(0x9F), QChar(0x0178));
    QCOMPARE(text.at(0xE7), QChar(u'ç'));
    QCOMPARE(text.at(0xF8), QChar(u'ø'));
    // Every byte comes back through the test's own encoder: nothing is lost either way.
    QCOMPARE(ExportWriter::cp1252(text), all);
    QCOMPARE(ExportText::encode(text), all);
}

void TstExportText::fields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("pos");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("rest");
    QTest::newRow("two fields") << "AøBø" << 1 << "A" << "Bø";
    QTest::newRow("empty field") << "øBø" << 0 << "" << "Bø";
    QTest::newRow("no terminator: empty first field, nothing dropped") << "PRATO" << -1 << "" << "PRATO";
    QTest::newRow("text after the last terminator") << "AøC" << 1 << "A" << "C";
    QTest::newRow("empty") << "" << -1 << "" << "";
}

void TstExportText::fields()
{
    QFETCH(QString, text);
    QFETCH(int, pos);
    QFETCH(QString, first);
    QFETCH(QString, rest);
    QCOMPARE(ExportText::inPosicao(text), pos);
    QCOMPARE(ExportText::firstField(text).toString(), first);
    QCOMPARE(ExportText::dropFirstField(text).toString(), rest);
    const QByteArray bytes = ExportWriter::cp1252(text);
    QCOMPARE(ExportText::inPosicao(bytes), pos);
    QCOMPARE(ExportText::decode(ExportText::firstField(bytes)), first);
}

void TstExportText::marker_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("isMarker");
    QTest::newRow("exact") << QByteArray("BASE DE DADOS\xF8") << true;
    QTest::newRow("trailing blank") << QByteArray("BASE DE DADOS\xF8 ") << false;
    QTest::newRow("no terminator") << QByteArray("BASE DE DADOS") << false;
    QTest::newRow("lower case") << QByteArray("base de dados\xF8") << false;
    QTest::newRow("a second field") << QByteArray("BASE DE DADOS\xF8X\xF8") << false;
}

void TstExportText::marker()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, isMarker);
    QCOMPARE(ExportText::isDataMarker(QByteArrayView(line)), isMarker);
    QCOMPARE(ExportText::isDataMarker(QStringView(ExportText::decode(line))), isMarker);
}

void TstExportText::numbers_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");
    QTest::newRow("pt_BR comma") << "pt_BR" << "1,5" << true << 1.5;
    QTest::newRow("pt_BR point is no number") << "pt_BR" << "1.5" << false << 0.0;
    QTest::newRow("pt_BR group separator refused") << "pt_BR" << "1.000,5" << false << 0.0;
    QTest::newRow("pt_BR negative") << "pt_BR" << "-0,125" << true << -0.125;
    QTest::newRow("pt_BR outer blanks") << "pt_BR" << " 7 " << true << 7.0;
    QTest::newRow("pt_BR exponent") << "pt_BR" << "2,5E3" << true << 2500.0;
    QTest::newRow("pt_BR leading separator") << "pt_BR" << ",5" << true << 0.5;
    QTest::newRow("pt_BR two separators") << "pt_BR" << "1,2,3" << false << 0.0;
    QTest::newRow("pt_BR letters") << "pt_BR" << "abc" << false << 0.0;
    QTest::newRow("pt_BR sign alone") << "pt_BR" << "-" << false << 0.0;
    QTest::newRow("pt_BR overflow") << "pt_BR" << "1E999" << false << 0.0;
    QTest::newRow("C point") << "C" << "1.5" << true << 1.5;
    QTest::newRow("C comma is no number") << "C" << "1,5" << false << 0.0;
    QTest::newRow("exact rounding") << "C" << "0.1" << true << 0.1;
}

void TstExportText::numbers()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, value);
    const ValueDecoder dec{QLocale(locale)};
    const auto n = dec.toNumber(text);
    QCOMPARE(n.has_value(), valid);
    if (valid) {
        QCOMPARE(*n, value);
        QCOMPARE(dec.toNumber(dec.fromNumber(*n)), n); // what the generator writes reads back
    }
}

// A quantity column of 18 digits, 6 of them decimals: rounded half away from zero on the digits as
// written (0.1234565 is 0.12345649... as a double), and too large past 12 integer digits.
void TstExportText::numbersForTheColumn_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("fit");
    const int fits = int(NumberFit::Fits), rounded = int(NumberFit::Rounded), tooLarge = int(NumberFit::TooLarge);
    QTest::newRow("as written") << "1.25" << 1.25 << fits;
    QTest::newRow("zeros past the scale are no rounding") << "1.5000000000" << 1.5 << fits;
    QTest::newRow("one decimal too many") << "0.1234567" << 0.123457 << rounded;
    QTest::newRow("half, away from zero") << "0.1234565" << 0.123457 << rounded;
    QTest::newRow("half, negative") << "-0.1234565" << -0.123457 << rounded;
    QTest::newRow("below half") << "2.00000049999" << 2.0 << rounded;
    QTest::newRow("carry into the integer digits") << "9.9999995" << 10.0 << rounded;
    QTest::newRow("exponent brings decimals") << "1.234567855E2" << 123.456786 << rounded;
    QTest::newRow("smallest that rounds up") << "5E-7" << 0.000001 << rounded;
    QTest::newRow("rounds to zero, no sign") << "-4E-7" << 0.0 << rounded;
    QTest::newRow("twelve integer digits") << "999999999999.99" << 999999999999.99 << fits;
    // The nearest double is 1e12, which the column cannot take.
    QTest::newRow("twelve integer digits, 1e12 as a double") << "999999999999.999999" << 1e12 << tooLarge;
    QTest::newRow("thirteen") << "12345678901234.5" << 12345678901234.5 << tooLarge;
    QTest::newRow("thirteen after rounding") << "999999999999.9999995" << 1e12 << tooLarge;
    QTest::newRow("exponent makes it large") << "1E12" << 1e12 << tooLarge;
    QTest::newRow("leading zeros are no digits") << "000000000000000001.5" << 1.5 << fits;
}

void TstExportText::numbersForTheColumn()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QFETCH(int, fit);
    const ValueDecoder dec{QLocale(QStringLiteral("C"))};
    NumberFit got = NumberFit::Fits;
    const auto n = dec.toNumber(text, 18, 6, &got);
    QVERIFY(n.has_value());
    QCOMPARE(*n, value);
    QVERIFY(!std::signbit(*n) || *n != 0);
    QCOMPARE(int(got), fit);
    // Without a column, the value as read.
    QCOMPARE(dec.toNumber(text, 0, 0, &got), dec.toNumber(text));
}

void TstExportText::dates_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected"); // invalid: no value
    const auto dt = [](int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
        return QDateTime(QDate(y, m, d), QTime(h, mi, s), Qt::UTC);
    };
    QTest::newRow("d/M/yyyy") << "pt_BR" << "5/3/2024" << dt(2024, 3, 5);
    QTest::newRow("dd/MM/yyyy") << "pt_BR" << "05/03/2024" << dt(2024, 3, 5);
    QTest::newRow("with h:mm") << "pt_BR" << "5/3/2024 9:07" << dt(2024, 3, 5, 9, 7);
    QTest::newRow("with h:mm:ss") << "pt_BR" << "5/3/2024 23:59:58" << dt(2024, 3, 5, 23, 59, 58);
    QTest::newRow("leap day") << "pt_BR" << "29/2/2024" << dt(2024, 2, 29);
    QTest::newRow("no leap day") << "pt_BR" << "29/2/2023" << QDateTime();
    QTest::newRow("day and month swapped") << "pt_BR" << "3/25/2024" << QDateTime();
    QTest::newRow("two-digit year") << "pt_BR" << "5/3/24" << QDateTime();
    QTest::newRow("iso is not the locale's") << "pt_BR" << "2024-03-05" << QDateTime();
    QTest::newRow("hour 24") << "pt_BR" << "5/3/2024 24:00" << QDateTime();
    QTest::newRow("minute of one digit") << "pt_BR" << "5/3/2024 9:7" << QDateTime();
    QTest::newRow("time without a blank") << "pt_BR" << "5/3/20249:07" << QDateTime();
    QTest::newRow("trailing text") << "pt_BR" << "5/3/2024 9:07 x" << QDateTime();
    QTest::newRow("en_US month first") << "en_US" << "3/5/24" << dt(2024, 3, 5);
    QTest::newRow("en_US pm") << "en_US" << "3/5/24 1:30 PM" << dt(2024, 3, 5, 13, 30);
    QTest::newRow("de_DE dots") << "de_DE" << "5.3.24 14:30" << dt(2024, 3, 5, 14, 30);
}

void TstExportText::dates()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const ValueDecoder dec{QLocale(locale)};
    const auto got = dec.toDateTime(text);
    QCOMPARE(got.has_value(), expected.isValid());
    if (got) {
        QCOMPARE(*got, expected);
        QCOMPARE(dec.toDateTime(dec.fromDateTime(*got)), got);
    }
}

// In a locale that writes month names, the decoder must answer as the locale's own parser would,
// whichever way it reads the text.
namespace {
std::optional<QDateTime> localeParser(const QLocale &l, const QString &text)
{
    const QString date = l.dateFormat(QLocale::ShortFormat);
    for (const QString &fmt : {date + u' ' + l.timeFormat(QLocale::LongFormat), date + u' ' + l.timeFormat(QLocale::ShortFormat)}) {
        const QDateTime dt = l.toDateTime(text, fmt);
        if (dt.isValid())
            return QDateTime(dt.date(), dt.time(), Qt::UTC);
    }
    const QDate d = l.toDate(text, date);
    if (d.isValid())
        return QDateTime(d, QTime(0, 0), Qt::UTC);
    return std::nullopt;
}
} // namespace

void TstExportText::namedDates_data()
{
    QTest::addColumn<QString>("text");
    for (const char *t : {"5 Mar 2024 14:30:00", "5 Mar 2024", "31 Dec 1999 23:59:59", "1 Jan 2000 00:00:00",
                          "29 Feb 2024 12:00:00", "29 Feb 2023 12:00:00", "31 Apr 2024", "05 Mar 2024 14:30:00",
                          "5 mar 2024 14:30:00", "5 March 2024", "5 Mar 24", "5 Mar 0000", "5 Mar 2024 24:00:00",
                          "5 Mar 2024 9:30:00", "5 Mar 2024 14:30", "5 Mar 2024 14:60:00", "5 Mar 2024  14:30:00",
                          "5 Mar 2024 14:30:00 x", "5 Ma 2024", "Mar 5 2024", "123 Mar 2024", "5 Mar 20245"})
        QTest::newRow(t) << QString::fromLatin1(t);
    // Everything the decoder writes, over a year of days and times.
    const ValueDecoder c{QLocale::c()};
    for (int day = 0; day < 366; day += 7)
        QTest::newRow(qPrintable(QStringLiteral("written %1").arg(day)))
            << c.fromDateTime(QDateTime(QDate(2024, 1, 1).addDays(day), QTime(day % 24, day % 60, (day * 7) % 60), Qt::UTC));
}

void TstExportText::namedDates()
{
    QFETCH(QString, text);
    const QLocale l = QLocale::c();
    const ValueDecoder dec{l};
    QCOMPARE(dec.toDateTime(text), localeParser(l, text));
}

QTEST_GUILESS_MAIN(TstExportText)
#include "tst_exporttext.moc"
