#include "tray/LikelyTrayAnchor.h"

#include <algorithm>

QRect likelyTrayAnchor(const QRect& geometry, const QRect& available)
{
    const int top = available.top() - geometry.top();
    const int bottom = geometry.bottom() - available.bottom();
    const int left = available.left() - geometry.left();
    const int right = geometry.right() - available.right();
    const int widest = std::max({top, bottom, left, right});
    QPoint point(available.right(), available.top() - 1);
    if (widest > 0 && widest == bottom && bottom > top) {
        point = QPoint(available.right(), available.bottom() + 1);
    } else if (widest > 0 && widest > top && widest == left) {
        point = QPoint(available.left() - 1, available.bottom());
    } else if (widest > 0 && widest > top) {
        point = QPoint(available.right() + 1, available.bottom());
    }
    return QRect(point, QSize(1, 1));
}
