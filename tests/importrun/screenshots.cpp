// Renders the dish grid after a load and the error panel open over it, laid out as on the
// screen's data group, into PNG files of the given directory (default: docs/screenshots).
#include "dishfixture.h"
#include "dishgrid.h"
#include "dishtable.h"
#include "errorreview.h"
#include "memtablemodel.h"

#include <QApplication>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QPixmap closeGlyph()
{
    QPixmap pm(9, 9);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::black);
    p.drawLine(1, 1, 7, 7);
    p.drawLine(2, 1, 7, 6);
    p.drawLine(7, 1, 1, 7);
    p.drawLine(6, 1, 1, 6);
    return pm;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir().mkpath(outDir);

    MemTable cdsPrato(QStringLiteral("PRATO"));
    QToolButton sbtErros;
    sbtErros.setEnabled(false);
    DishTable::install(
        cdsPrato, [&](bool on) { sbtErros.setEnabled(on); }, [] { return QStringLiteral("999.999"); });
    openDishTable(cdsPrato);
    const QList<Dish> dishes = {
        {"P", "100001", "ARROZ BRANCO"},
        {"P", "100002", "FEIJÃO CARIOCA"},
        {"P", "100003", "BIFE ACEBOLADO", "0100000000"},
        {"0009", "000900", "PUDIM DE LEITE CONDENSADO", "1011000000", "PUDIM DE LEITE"},
        {"0009", "000901", "MOUSSE DE CHOCOLATE"},
        {"P", "100004", "SALADA DE ALFACE E TOMATE"},
        {"P", "100005", "FRANGO ASSADO", "0010000000"},
        {"0009", "000902", "SUCO DE LARANJA"},
        {"P", "100006", "LEGUMES NO VAPOR"},
        {"P", "100007", "PEIXE GRELHADO"},
        {"", "100008", "SOPA DE LEGUMES"},
        {"P", "100009", "LASANHA À BOLONHESA", "1000000000"},
    };
    for (const Dish &d : dishes)
        addDish(cdsPrato, d);
    MemTableModel dtsPrato(&cdsPrato);
    dtsPrato.setVisibleFields(TDishGrid::fieldNames());

    // The data group below the parameter panel: the tab "Prato" holding the lowered panel with the
    // grid; the error panel floats over it.
    QWidget grbDadosRel;
    grbDadosRel.resize(497, 253);
    auto *layout = new QVBoxLayout(&grbDadosRel);
    layout->setContentsMargins(4, 2, 4, 4);
    auto *pgcPadrao = new QTabWidget(&grbDadosRel);
    auto *tshPrato = new QWidget;
    auto *panel1 = new QFrame(tshPrato);
    panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto *tabLayout = new QVBoxLayout(tshPrato);
    tabLayout->setContentsMargins(0, 0, 0, 0);
    tabLayout->addWidget(panel1);
    auto *panLayout = new QVBoxLayout(panel1);
    panLayout->setContentsMargins(2, 2, 2, 2);
    auto *dbgPrato = new TDishGrid(panel1);
    panLayout->addWidget(dbgPrato);
    pgcPadrao->addTab(tshPrato, QStringLiteral("Prato"));
    layout->addWidget(pgcPadrao);
    dbgPrato->setModel(&dtsPrato);
    dbgPrato->setDataSet(&cdsPrato);

    auto *panErro = new QFrame(&grbDadosRel);
    panErro->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panErro->setLineWidth(2);
    panErro->setGeometry(59, 62, 395, 126);
    panErro->setAutoFillBackground(true);
    auto *panel3 = new QLabel(QStringLiteral("  Verificar Erros"), panErro);
    panel3->setAutoFillBackground(true);
    QPalette titlePal = panel3->palette();
    titlePal.setColor(QPalette::Window, titlePal.color(QPalette::Active, QPalette::Highlight));
    titlePal.setColor(QPalette::WindowText, titlePal.color(QPalette::Active, QPalette::HighlightedText));
    panel3->setPalette(titlePal);
    QFont titleFont = panel3->font();
    titleFont.setBold(true);
    titleFont.setPointSize(8);
    panel3->setFont(titleFont);
    panel3->setGeometry(4, 4, 387, 18);
    auto *buttonFlat1 = new QToolButton(panErro);
    buttonFlat1->setAutoRaise(true);
    buttonFlat1->setIcon(QIcon(closeGlyph()));
    buttonFlat1->setGeometry(373, 5, 17, 17);
    auto *panel2 = new QFrame(panErro);
    panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel2->setGeometry(4, 22, 387, 100);
    auto *lsbErro = new QListWidget(panel2);
    lsbErro->setFrameShape(QFrame::NoFrame);
    lsbErro->setGeometry(2, 2, 383, 96);
    panErro->hide();

    ErrorReview review(cdsPrato, {panErro, lsbErro, &sbtErros, buttonFlat1, dbgPrato});

    grbDadosRel.show();
    cdsPrato.moveTo(2);
    QApplication::processEvents();
    dbgPrato->scrollToTop();
    QApplication::processEvents();
    bool ok = grbDadosRel.grab().save(outDir + QStringLiteral("/dish-grid.png"));

    cdsPrato.moveTo(3);
    QApplication::processEvents();
    review.dbgPratoDblClick();
    QApplication::processEvents();
    ok = grbDadosRel.grab().save(outDir + QStringLiteral("/error-panel.png")) && ok;
    return ok ? 0 : 1;
}
