// The chamber's temperature as a first-order ramp toward the setpoint, read in tenths.
#include "thermalmodel.h"

#include <algorithm>
#include <cmath>

namespace chamber {

ThermalModel::ThermalModel(double ambient, double ratePerSecond, double settleShort)
    : current(ambient)
    , target(ambient)
    , rate(ratePerSecond)
    , shortBy(settleShort)
{}

void ThermalModel::setSetpoint(double degrees)
{
    // A chamber that stops short never moves away from a setpoint it is already that close to.
    if (degrees > current)
        target = std::max(current, degrees - shortBy);
    else if (degrees < current)
        target = std::min(current, degrees + shortBy);
    else
        target = degrees;
}

void ThermalModel::advance(double seconds)
{
    if (seconds <= 0)
        return;
    const double step = rate * seconds;
    const double gap = target - current;
    if (std::fabs(gap) <= step)
        current = target;
    else
        current += gap > 0 ? step : -step;
}

std::int16_t toTenths(double degrees)
{
    const double tenths = std::round(degrees * 10.0);
    return std::int16_t(std::clamp(tenths, -32768.0, 32767.0));
}

double fromTenths(std::uint16_t registerValue)
{
    // A register is 16-bit two's complement: FF9C is -10.0 degrees.
    return std::int16_t(registerValue) / 10.0;
}

} // namespace chamber
