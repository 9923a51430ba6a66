// The chamber's temperature as a first-order ramp toward the setpoint, read in tenths.
#pragma once

#include <cstdint>

namespace chamber {

class ThermalModel
{
public:
    ThermalModel(double ambient, double ratePerSecond);

    // Moves the temperature toward the setpoint for the given time; it stops there, never past.
    void advance(double seconds);
    double temperature() const { return current; }
    void setSetpoint(double degrees) { target = degrees; }

private:
    double current;
    double target;
    double rate;
};

// Degrees C as the register holds them: tenths, halves away from zero, clamped to 16 bits.
std::int16_t toTenths(double degrees);
double fromTenths(std::uint16_t registerValue);

} // namespace chamber
