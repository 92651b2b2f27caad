#include "UserActions.h"

#include <QDebug>
#include <QList>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

bool pickTab(QTabWidget* tabs, const QString& title, int timeoutMs)
{
    QTabBar* bar = tabs->tabBar();
    for (int i = 0; i < bar->count(); ++i)
        if (bar->tabText(i) == title) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
            return QTest::qWaitFor([&] { return tabs->currentIndex() == i; }, timeoutMs);
        }
    return false;
}

bool clickWhenEnabled(QWidget* w, int timeoutMs)
{
    if (!w->isVisible() || !QTest::qWaitFor([w] { return w->isEnabled(); }, timeoutMs)) {
        qWarning() << "cannot click" << w->objectName() << "visible" << w->isVisible() << "enabled" << w->isEnabled();
        return false;
    }
    QTest::mouseClick(w, Qt::LeftButton);
    return true;
}

bool mouseDrag(QWidget* w, QPoint from, QPoint to)
{
    if (!w->isVisible())
        return false;
    QTest::mousePress(w, Qt::LeftButton, {}, from);
    QTest::mouseMove(w, (from + to) / 2);
    QTest::mouseMove(w, to);
    QTest::mouseRelease(w, Qt::LeftButton, {}, to);
    return true;
}

bool waitSettled(const std::function<bool()>& settled, int settleMs, int timeoutMs)
{
    return QTest::qWaitFor([&] {
        if (!settled())
            return false;
        QTest::qWait(settleMs);
        return settled();
    }, timeoutMs);
}

namespace {

bool isMarker(QRgb c)
{
    const int r = qRed(c), g = qGreen(c), b = qBlue(c);
    return (r > 200 && g < 80 && b < 80) || (g > 200 && r < 80 && b < 80) || (b > 200 && r < 80 && g < 80);
}

} // namespace

std::optional<QPoint> tissueSpot(const QImage& overview)
{
    const QImage img = overview.convertToFormat(QImage::Format_RGB32);
    QList<QPoint> markers;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (isMarker(img.pixel(x, y)))
                markers << QPoint(x, y);
    std::optional<QPoint> best;
    double bestDark = 0;
    for (int y = 20; y < img.height() - 20; y += 3)
        for (int x = 20; x < img.width() - 20; x += 3) {
            bool nearMarker = false;
            for (const QPoint& m : markers)
                if ((m - QPoint(x, y)).manhattanLength() < 40) {
                    nearMarker = true;
                    break;
                }
            if (nearMarker)
                continue;
            double dark = 0;
            for (int v = -7; v <= 7; ++v)
                for (int u = -7; u <= 7; ++u) {
                    const QRgb c = img.pixel(x + u, y + v);
                    dark += 765 - (qRed(c) + qGreen(c) + qBlue(c));
                }
            if (dark > bestDark) {
                bestDark = dark;
                best = QPoint(x, y);
            }
        }
    return best;
}
