#include "configurator/shell/flags.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace mbus::meridex {
namespace {

// Margin around the flag for frame and glow, in logical pixels.
int Margin(QSize size) { return std::max(3, std::min(size.width(), size.height()) / 7); }

void HorizontalBands(QPainter& p, const QRectF& r, const QColor& top, const QColor& middle, const QColor& bottom) {
    const qreal h = r.height() / 3;
    p.fillRect(QRectF(r.left(), r.top(), r.width(), h), top);
    p.fillRect(QRectF(r.left(), r.top() + h, r.width(), h), middle);
    p.fillRect(QRectF(r.left(), r.top() + 2 * h, r.width(), r.height() - 2 * h), bottom);
}

void VerticalBands(QPainter& p, const QRectF& r, const QColor& left, const QColor& middle, const QColor& right) {
    const qreal w = r.width() / 3;
    p.fillRect(QRectF(r.left(), r.top(), w, r.height()), left);
    p.fillRect(QRectF(r.left() + w, r.top(), w, r.height()), middle);
    p.fillRect(QRectF(r.left() + 2 * w, r.top(), r.width() - 2 * w, r.height()), right);
}

// A simplified Union flag: blue field, white and red diagonals, white-edged
// red cross.
void DrawEnglish(QPainter& p, const QRectF& r) {
    const QColor blue(1, 33, 105), red(200, 16, 46);
    p.fillRect(r, blue);
    p.save();
    p.setClipRect(r);
    const qreal h = r.height();
    auto diagonals = [&](const QColor& color, qreal width) {
        p.setPen(QPen(color, width, Qt::SolidLine, Qt::SquareCap));
        p.drawLine(r.topLeft(), r.bottomRight());
        p.drawLine(r.bottomLeft(), r.topRight());
    };
    diagonals(Qt::white, h * 0.2);
    diagonals(red, h * 0.07);
    p.setPen(Qt::NoPen);
    const QPointF c = r.center();
    auto cross = [&](const QColor& color, qreal width) {
        p.fillRect(QRectF(r.left(), c.y() - width / 2, r.width(), width), color);
        p.fillRect(QRectF(c.x() - width / 2, r.top(), width, r.height()), color);
    };
    cross(Qt::white, h / 3);
    cross(red, h / 5);
    p.restore();
}

void DrawFrench(QPainter& p, const QRectF& r) {
    VerticalBands(p, r, QColor(0, 35, 149), Qt::white, QColor(237, 41, 57));
}

void DrawGerman(QPainter& p, const QRectF& r) {
    HorizontalBands(p, r, Qt::black, QColor(221, 0, 0), QColor(255, 206, 0));
}

// A small white page with a folded corner and lines of text in the lower
// right corner: the German texts come from a language file.
void DrawPageMark(QPainter& p, const QRectF& r) {
    const qreal h = r.height();
    const qreal pageW = h * 0.42, pageH = h * 0.54;
    const qreal inset = std::max<qreal>(1.5, h * 0.08);
    const QRectF page(r.right() - inset - pageW, r.bottom() - inset - pageH, pageW, pageH);
    const qreal fold = pageW * 0.35;
    QPolygonF outline;
    outline << page.topLeft() << QPointF(page.right() - fold, page.top()) << QPointF(page.right(), page.top() + fold)
            << page.bottomRight() << page.bottomLeft();
    p.setPen(QPen(QColor(40, 40, 40), std::max<qreal>(1.0, h / 40)));
    p.setBrush(Qt::white);
    p.drawPolygon(outline);
    QPolygonF corner;
    corner << QPointF(page.right() - fold, page.top()) << QPointF(page.right() - fold, page.top() + fold)
           << QPointF(page.right(), page.top() + fold);
    p.setBrush(QColor(200, 200, 200));
    p.drawPolygon(corner);
    p.setPen(QPen(QColor(90, 90, 90), std::max<qreal>(1.0, h / 32)));
    for (int line = 0; line < 3; ++line) {
        const qreal y = page.top() + fold + (pageH - fold) * (line + 1) / 4.5;
        p.drawLine(QPointF(page.left() + pageW * 0.2, y), QPointF(page.right() - pageW * 0.2, y));
    }
    p.setBrush(Qt::NoBrush);
}

// Green field, yellow rhombus, blue disc crossed by a white band.
void DrawBrazilian(QPainter& p, const QRectF& r) {
    p.fillRect(r, QColor(0, 148, 64));
    const qreal w = r.width(), h = r.height();
    QPolygonF rhombus;
    rhombus << QPointF(r.left() + w * 0.085, r.center().y()) << QPointF(r.center().x(), r.top() + h * 0.12)
            << QPointF(r.right() - w * 0.085, r.center().y()) << QPointF(r.center().x(), r.bottom() - h * 0.12);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(254, 221, 0));
    p.drawPolygon(rhombus);
    const qreal radius = h * 0.25;
    QPainterPath disc;
    disc.addEllipse(r.center(), radius, radius);
    p.setBrush(QColor(0, 39, 118));
    p.drawPath(disc);
    p.save();
    p.setClipPath(disc);
    const QPointF bandCentre(r.center().x() - radius * 0.4, r.center().y() + radius * 2.2);
    const qreal bandRadius = radius * 2.35;
    p.setPen(QPen(Qt::white, radius * 0.22));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(bandCentre, bandRadius, bandRadius);
    p.restore();
    p.setBrush(Qt::NoBrush);
}

// Blue field with the yellow Nordic cross, its upright nearer the hoist.
void DrawSwedish(QPainter& p, const QRectF& r) {
    p.fillRect(r, QColor(0, 106, 167));
    const QColor yellow(254, 204, 0);
    const qreal w = r.width(), h = r.height();
    p.fillRect(QRectF(r.left() + w * 5 / 16, r.top(), w * 2 / 16, h), yellow);
    p.fillRect(QRectF(r.left(), r.top() + h * 4 / 10, w, h * 2 / 10), yellow);
}

void DrawRussian(QPainter& p, const QRectF& r) {
    HorizontalBands(p, r, Qt::white, QColor(0, 57, 166), QColor(213, 43, 30));
}

// Thick bright frame with a soft glow fading outwards, around `flag`.
void DrawHighlight(QPainter& p, const QRectF& flag, int margin) {
    const QColor glow(255, 190, 40);
    p.setBrush(Qt::NoBrush);
    const qreal frame = std::max<qreal>(2.0, margin * 0.45);
    // Glow: rings from the frame's outer edge to the pixmap's edge, fading out.
    const int rings = std::max(1, static_cast<int>(std::ceil(margin - frame)));
    for (int i = 0; i < rings; ++i) {
        QColor c = glow;
        c.setAlphaF(0.55 * (1.0 - static_cast<qreal>(i) / rings));
        p.setPen(QPen(c, 1.0));
        const qreal out = frame + i + 0.5;
        p.drawRoundedRect(flag.adjusted(-out, -out, out, out), out, out);
    }
    p.setPen(QPen(QColor(255, 140, 0), frame, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    const qreal half = frame / 2;
    p.drawRect(flag.adjusted(-half, -half, half, half));
}

}  // namespace

QRect FlagRect(QSize size) {
    const int m = Margin(size);
    const int availW = std::max(0, size.width() - 2 * m), availH = std::max(0, size.height() - 2 * m);
    const int w = std::min(availW, availH * 3 / 2);
    const int h = w * 2 / 3;
    return QRect((size.width() - w) / 2, (size.height() - h) / 2, w, h);
}

QPixmap FlagPixmap(Column column, bool highlighted, bool alternativeGerman, QSize size, qreal devicePixelRatio) {
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF flag = FlagRect(size);
    switch (column) {
        case kEnglish: DrawEnglish(p, flag); break;
        case kFrench: DrawFrench(p, flag); break;
        case kGerman:
            DrawGerman(p, flag);
            if (alternativeGerman) DrawPageMark(p, flag);
            break;
        case kPortuguese: DrawBrazilian(p, flag); break;
        case kSwedish: DrawSwedish(p, flag); break;
        case kRussian: DrawRussian(p, flag); break;
        default: p.fillRect(flag, Qt::gray); break;
    }
    if (highlighted) DrawHighlight(p, flag, Margin(size));
    // A thin dark edge keeps white parts of a flag apart from the background.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(60, 60, 60), 1.0));
    p.drawRect(flag.adjusted(0, 0, -1, -1));
    return pixmap;
}

QString NativeLanguageName(Column column) {
    switch (column) {
        case kGerman: return QStringLiteral("Deutsch");
        case kEnglish: return QStringLiteral("English");
        case kFrench: return QString::fromUtf8("Français");
        case kPortuguese: return QString::fromUtf8("Português");
        case kSwedish: return QStringLiteral("Svenska");
        case kRussian: return QString::fromUtf8("Русский");
    }
    return QString();
}

}  // namespace mbus::meridex
