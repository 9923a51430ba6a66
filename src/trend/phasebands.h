// The phases of a run as pale upright bands beneath the trend's lines.
#pragma once

#include <qcustomplot.h>

#include <QColor>
#include <QList>
#include <QPointer>

#include <deque>

namespace chamber {

// Each band covers the time of one phase and the whole height of the plot. Drawn as plain
// rectangles over what is in view, joined where they meet within a pixel, so that a day of
// short dwells costs no more to draw than the pixels it covers.
class PhaseBands : public QCPLayerable
{
public:
    // colours: one per kind of band, its index the kind.
    PhaseBands(QCPAxis *keyAxis, const QString &layerName, const QList<QColor> &colours);

    // A band of kind begins at when and ends the one in progress; -1 only ends it.
    void begin(double when, int kind);
    void extendTo(double when); // the band in progress reaches the present
    void removeBefore(double when);
    QList<QCPRange> intervals(int kind) const; // oldest first

protected:
    QRect clipRect() const override;
    void applyDefaultAntialiasingHint(QCPPainter *painter) const override;
    void draw(QCPPainter *painter) override;

private:
    struct Band
    {
        double begin;
        double end;
        int kind;
    };
    std::deque<Band> bands; // in time order and never overlapping, so their ends are in order too
    bool open = false;      // the last band is in progress
    QList<QColor> colours;
    QPointer<QCPAxis> keyAxis;
};

// The state field's colours of "Heat", "Cool" and "Wait" (red, blue, green), pale enough to lie
// beneath the lines: the kinds 0, 1 and 2 of a run's bands, in the trend and in the report alike.
QList<QColor> phaseColours();

} // namespace chamber
