// The controller itself: reads Modbus requests off the port, answers from the thermal model.
#pragma once

#include "simoptions.h"
#include "simport.h"
#include "thermalmodel.h"

#include <modbus.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace chamber {

class Simulator
{
public:
    // stopFd: becomes readable when the simulator should end (a signal arrived).
    Simulator(const SimOptions &options, SimPort &port, int stopFd);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Serves until stopped or --exit-after; false with error set if it could not start.
    bool run(std::string &error);

private:
    using Clock = std::chrono::steady_clock;
    using Bytes = std::vector<std::uint8_t>;

    bool newContext(std::string &error);
    void serveOne();
    Bytes answer(const Bytes &request);
    Bytes capture(const std::function<void()> &build);
    Bytes refuse(const Bytes &request, int code, const std::string &why);
    void applySetpoint(std::uint16_t value);
    bool aboveMaximum(std::uint16_t value) const;
    void send(Bytes reply, unsigned connection);
    bool writeAll(const std::uint8_t *data, std::size_t length);
    bool waitBetweenPieces(int ms, unsigned connection);
    void drain(const std::string &why);
    void handlePortEvents();
    void updateModel();
    bool silentNow() const;
    bool disturbedNow() const;
    // Now lies from after seconds since start (none: 0) for lasting seconds (none: to the end).
    bool inSpan(std::optional<double> after, std::optional<double> lasting) const;
    double secondsSinceStart() const;
    int msUntilExit() const; // -1: no end set
    void log(const std::string &line) const;

    SimOptions options;
    SimPort &port;
    int stopFd;
    bool stopping = false;
    std::string fatal; // why serving had to stop

    struct ContextFree
    {
        void operator()(modbus_t *context) const { modbus_free(context); }
    };
    struct MappingFree
    {
        void operator()(modbus_mapping_t *map) const { modbus_mapping_free(map); }
    };
    std::unique_ptr<modbus_t, ContextFree> ctx;
    std::unique_ptr<modbus_mapping_t, MappingFree> mapping;
    int capturePipe[2] = {-1, -1};

    ThermalModel model;
    std::mt19937 random;
    Clock::time_point start;
    Clock::time_point lastUpdate;
    unsigned long long replies = 0;
};

} // namespace chamber
