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
    // stopfd: becomes readable when the simulator should end (a signal arrived).
    Simulator(const SimOptions &options, SimPort &port, int stopfd);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Serves until stopped or --exit-after; false with error set if it could not start.
    bool run(std::string &error);

private:
    using Clock = std::chrono::steady_clock;
    using Bytes = std::vector<std::uint8_t>;

    bool newcontext(std::string &error);
    void serveone();
    Bytes answer(const Bytes &request);
    Bytes capture(const std::function<void()> &build);
    Bytes refuse(const Bytes &request, int code, const std::string &why);
    void applysetpoint(std::uint16_t value);
    bool abovemaximum(std::uint16_t value) const;
    void send(Bytes reply, unsigned connection);
    bool writeall(const std::uint8_t *data, std::size_t length);
    bool waitbetweenpieces(int ms, unsigned connection);
    void drain(const std::string &why);
    void handleportevents();
    void updatemodel();
    bool silentnow() const;
    double secondssincestart() const;
    int msuntilexit() const; // -1: no end set
    void log(const std::string &line) const;

    SimOptions options;
    SimPort &port;
    int stopfd;
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
    int capturepipe[2] = {-1, -1};

    ThermalModel model;
    std::mt19937 random;
    Clock::time_point start;
    Clock::time_point lastupdate;
    unsigned long long replies = 0;
};

} // namespace chamber
