// The chamber's temperature as a first-order ramp toward the setpoint, read in tenths.
#pragma once

#include <cstdint>

namespace chamber {

class ThermalModel
{
public:
    // settleShort: how far short of a setpoint it heats or cools toward the chamber stops.
    ThermalModel(double ambient, double ratePerSecond, double settleShort = 0);

    // Moves the temperature toward its target for the given time; it stops there, never past.
    void advance(double seconds);
    double temperature() const { return current; }
    void setSetpoint(double degrees);

private:
    double current;
    double target;
    double rate;
    double shortBy;
};

// Degrees C as the register holds them: tenths, halves away from zero, clamped to 16 bits.
std::int16_t toTenths(double degrees);
double fromTenths(std::uint16_t registerValue);

} // namespace chamber
