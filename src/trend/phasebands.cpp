// The phase bands: kept as time intervals, drawn as rectangles merged to the pixel.
#include "trend/phasebands.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace chamber {

QList<QColor> phaseColours()
{
    constexpr int alpha = 40;
    return {QColor(255, 0, 0, alpha), QColor(0, 0, 255, alpha), QColor(0, 255, 0, alpha)};
}

PhaseBands::PhaseBands(QCPAxis *keyAxis, const QString &layerName, const QList<QColor> &colours)
    : QCPLayerable(keyAxis->parentPlot(), layerName)
    , colours(colours)
    , keyAxis(keyAxis)
{}

void PhaseBands::begin(double when, int kind)
{
    // A phase ends where the next begins. The bands stay in time order whatever the clock does,
    // so that those in view can be found by halving.
    if (!bands.empty())
        when = std::max(when, open ? bands.back().begin : bands.back().end);
    if (open)
        bands.back().end = when;
    open = kind >= 0 && kind < colours.size();
    if (open)
        bands.push_back({when, when, kind});
}

void PhaseBands::extendTo(double when)
{
    if (open)
        bands.back().end = std::max(bands.back().end, when);
}

void PhaseBands::removeBefore(double when)
{
    // the band in progress reaches the present, so it is never dropped
    while (!bands.empty() && bands.front().end < when)
        bands.pop_front();
}

QList<QCPRange> PhaseBands::intervals(int kind) const
{
    QList<QCPRange> found;
    for (const Band &band : bands)
        if (band.kind == kind)
            found << QCPRange(band.begin, band.end);
    return found;
}

QRect PhaseBands::clipRect() const
{
    return keyAxis ? keyAxis->axisRect()->rect() : QCPLayerable::clipRect();
}

void PhaseBands::applyDefaultAntialiasingHint(QCPPainter *painter) const
{
    painter->setAntialiasing(false); // upright rectangles on whole pixels: nothing to smooth
}

void PhaseBands::draw(QCPPainter *painter)
{
    if (!keyAxis || bands.empty())
        return;
    const QCPRange shown = keyAxis->range();
    const QRect area = keyAxis->axisRect()->rect();
    // Per kind, the rectangles to fill. A band that begins inside the last one or at its edge
    // only widens it, so no pixel is blended twice in one colour.
    QList<QList<QRect>> rects(colours.size());
    // the time axis is linear: one scale for all, rather than a call per band
    const double origin = keyAxis->coordToPixel(shown.lower);
    const double scale = (keyAxis->coordToPixel(shown.upper) - origin) / shown.size();
    const auto pixel = [&](double key) {
        return int(std::floor(origin + (key - shown.lower) * scale));
    };
    const auto first =
        std::lower_bound(bands.begin(), bands.end(), shown.lower,
                         [](const Band &band, double key) { return band.end < key; });
    for (auto it = first; it != bands.end() && it->begin <= shown.upper; ++it) {
        const int left = pixel(std::max(it->begin, shown.lower));
        // a phase shorter than a pixel still shows, one pixel wide
        const int right = std::max(left + 1, pixel(std::min(it->end, shown.upper)));
        QList<QRect> &kind = rects[it->kind];
        if (!kind.isEmpty() && left <= kind.last().right() + 1)
            kind.last().setRight(std::max(kind.last().right(), right - 1));
        else
            kind << QRect(left, area.top(), right - left, area.height());
    }
    if (painter->modes().testFlag(QCPPainter::pmVectorized)) {
        // a PDF keeps its bands as rectangles, sharp at any scale
        painter->setPen(Qt::NoPen);
        for (int kind = 0; kind < colours.size(); ++kind) {
            painter->setBrush(colours[kind]);
            painter->drawRects(rects[kind]);
        }
        return;
    }
    // On screen the bands are blended into one row of pixels first, then stretched over the
    // height: filled directly, each rectangle would cost a span a row.
    QImage row(area.width(), 1, QImage::Format_ARGB32_Premultiplied);
    row.fill(Qt::transparent);
    QPainter rowPainter(&row);
    for (int kind = 0; kind < colours.size(); ++kind)
        for (const QRect &rect : std::as_const(rects[kind]))
            rowPainter.fillRect(rect.left() - area.left(), 0, rect.width(), 1, colours[kind]);
    rowPainter.end();
    painter->drawImage(area, row);
}

} // namespace chamber
