// Dialog units to pixels: the rounding of each edge, and what a form goes
// through when it is converted.

#include "ui/DialogUnits.h"

#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

using namespace veltrad;

class DialogUnitsTest : public QObject {
    Q_OBJECT

private slots:
    void mapsEachEdge_data()
    {
        QTest::addColumn<int>("cx");
        QTest::addColumn<int>("cy");
        QTest::addColumn<QRect>("dlu");
        QTest::addColumn<QRect>("px");
        // x * cx / 4 and y * cy / 8, each edge rounded half up.
        QTest::newRow("origin") << 8 << 19 << QRect(0, 0, 4, 8) << QRect(0, 0, 8, 19);
        QTest::newRow("open-file button") << 8 << 19 << QRect(211, 23, 53, 31) << QRect(422, 55, 106, 73);
        QTest::newRow("half rounds up") << 7 << 12 << QRect(10, 1, 10, 1) << QRect(18, 2, 17, 1);
        QTest::newRow("MS Sans Serif 8") << 6 << 13 << QRect(7, 7, 265, 59) << QRect(11, 11, 397, 96);
        QTest::newRow("empty") << 8 << 19 << QRect(5, 5, 0, 0) << QRect(10, 12, 0, 0);
    }
    void mapsEachEdge()
    {
        QFETCH(int, cx);
        QFETCH(int, cy);
        QFETCH(QRect, dlu);
        QFETCH(QRect, px);
        QCOMPARE(MapDialogRect(dlu, {cx, cy}), px);
    }

    // Controls that touch in dialog units touch in pixels: no gaps, no overlaps.
    void neighboursKeepTheirSharedEdge()
    {
        for (int cx = 5; cx <= 11; ++cx) {
            for (int x = 0; x < 40; ++x) {
                const QRect left = MapDialogRect({x, 0, 13, 8}, {cx, 16});
                const QRect right = MapDialogRect({x + 13, 0, 7, 8}, {cx, 16});
                QCOMPARE(left.x() + left.width(), right.x());
            }
        }
    }

    void convertsAForm()
    {
        QDialog dialog;
        dialog.resize(100, 60);
        auto* group = new QGroupBox(QStringLiteral("group"), &dialog);
        group->setGeometry(4, 4, 92, 40);
        auto* button = new QPushButton(QStringLiteral("button"), &dialog);
        button->setGeometry(10, 14, 40, 14);
        auto* combo = new QComboBox(&dialog);
        for (int i = 0; i < 20; ++i)
            combo->addItem(QString::number(i));
        combo->setGeometry(54, 14, 40, 81);
        auto* icon = new QLabel(&dialog);
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::red);
        icon->setPixmap(pixmap);
        icon->setGeometry(4, 46, 20, 20);

        ApplyDialogUnits(dialog);
        const DialogBaseUnits units = BaseUnitsFor(dialog.font());
        QCOMPARE(dialog.size(), MapDialogSize({100, 60}, units));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());  // fixed
        QCOMPARE(button->geometry(), MapDialogRect({10, 14, 40, 14}, units));

        // The drop-down list keeps its natural closed height; the rest of the
        // template's height becomes the dropped list.
        QCOMPARE(combo->height(), combo->sizeHint().height());
        const int dropped = MapDialogRect({54, 14, 40, 81}, units).height() - combo->height();
        QCOMPARE(combo->maxVisibleItems(), dropped / QFontMetrics(combo->font()).height());

        // The icon shows at its own size.
        QCOMPARE(icon->size(), QSize(32, 32));

        // Group boxes sit behind and let clicks through to what they frame.
        QCOMPARE(dialog.children().indexOf(group), 0);
        QVERIFY(group->testAttribute(Qt::WA_TransparentForMouseEvents));
        dialog.show();
        QCOMPARE(dialog.childAt(button->geometry().center()), button);
    }
};

QTEST_MAIN(DialogUnitsTest)
#include "DialogUnitsTest.moc"
