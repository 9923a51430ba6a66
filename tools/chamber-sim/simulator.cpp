// The controller itself: reads Modbus requests off the port, answers from the thermal model.
#include "simulator.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace chamber {

namespace {

constexpr int slaveAddress = 1;
constexpr int temperatureRegister = 100;
constexpr int setpointRegister = 300;
constexpr int registerCount = 400; // holding registers 0 to 399 exist and read as 0
constexpr int firstPieceBytes = 3; // 01 03 02 | value and CRC
// A frame arrives in one write on a pseudo-terminal; a gap this long means it was cut off.
constexpr int byteTimeoutMs = 200;
constexpr int quietMs = 20;       // the line counts as quiet after this much silence
constexpr int drainLimitMs = 250; // garbage that never stops is dropped in slices of this
constexpr int fullWaitMs = 1000;  // a client that reads nothing for this long loses replies

std::string hex(const std::uint8_t *data, std::size_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i > 0)
            text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    return hex(bytes.data(), bytes.size());
}

int word(const std::vector<std::uint8_t> &bytes, std::size_t at)
{
    return (bytes[at] << 8) | bytes[at + 1];
}

int signedWord(std::uint16_t value)
{
    return std::int16_t(value);
}

} // namespace

Simulator::Simulator(const SimOptions &options, SimPort &port, int stopFd)
    : options(options)
    , port(port)
    , stopFd(stopFd)
    , model(options.ambient, options.rate, options.settleShort)
    , random(options.seed ? *options.seed : unsigned(Clock::now().time_since_epoch().count()))
{}

Simulator::~Simulator()
{
    for (int fd : capturePipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool Simulator::newContext(std::string &error)
{
    // libmodbus never opens the terminal itself: it is handed the master side we hold. A new
    // context also forgets a "confirmation to ignore" that a frame for another slave leaves in
    // libmodbus's RTU state, which would otherwise swallow the next real request.
    ctx.reset(modbus_new_rtu(port.terminal().c_str(), 9600, 'N', 8, 1));
    if (!ctx || modbus_set_slave(ctx.get(), slaveAddress) != 0 ||
        modbus_set_socket(ctx.get(), port.masterFd()) != 0) {
        error = std::string("cannot set up libmodbus: ") + modbus_strerror(errno);
        return false;
    }
    // We recover ourselves (see drain); libmodbus's recovery would sleep and flush both ways.
    modbus_set_error_recovery(ctx.get(), MODBUS_ERROR_RECOVERY_NONE);
    modbus_set_byte_timeout(ctx.get(), 0, byteTimeoutMs * 1000);
    modbus_set_indication_timeout(ctx.get(), 0, byteTimeoutMs * 1000);
    // Only used by libmodbus's pauses before it answers a malformed request.
    modbus_set_response_timeout(ctx.get(), 0, quietMs * 1000);
    return true;
}

bool Simulator::run(std::string &error)
{
    if (::pipe2(capturePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "cannot make a pipe";
        return false;
    }
    mapping.reset(modbus_mapping_new_start_address(0, 0, 0, 0, 0, registerCount, 0, 0));
    if (!mapping) {
        error = "cannot allocate the register map";
        return false;
    }
    if (!newContext(error))
        return false;
    mapping->tab_registers[setpointRegister] = std::uint16_t(toTenths(options.ambient));

    start = Clock::now();
    lastUpdate = start;
    std::printf("CHAMBERCTL_PORTS=%s\n", port.folder().c_str());
    std::fflush(stdout);
    log("ready " + port.linkPath() + " -> " + port.terminal());

    while (!stopping) {
        const int timeout = msUntilExit();
        if (options.exitAfter && timeout == 0)
            break;
        pollfd fds[3] = {
            {stopFd, POLLIN, 0}, {port.watchFd(), POLLIN, 0}, {port.masterFd(), POLLIN, 0}};
        const int n = ::poll(fds, 3, timeout);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = "poll failed";
            return false;
        }
        if (fds[0].revents) {
            stopping = true;
            break;
        }
        // Opens before requests: a new client's open is queued before its first request, so
        // bytes left for the previous client are gone before the new one is answered.
        if (fds[1].revents)
            handlePortEvents();
        if (fds[2].revents & POLLIN) {
            serveOne();
        } else if (fds[2].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            // Cannot happen while we hold the slave side; spinning on it would burn a core.
            error = "the pseudo-terminal hung up";
            return false;
        }
    }
    log("end");
    if (!fatal.empty()) {
        error = fatal;
        return false;
    }
    return true;
}

void Simulator::serveOne()
{
    std::uint8_t buffer[MODBUS_RTU_MAX_ADU_LENGTH];
    const int rc = modbus_receive(ctx.get(), buffer);
    if (rc < 0) {
        drain(modbus_strerror(errno));
        return;
    }
    if (rc == 0) {
        log("ignored a frame for another slave");
        if (!newContext(fatal))
            stopping = true;
        drain("after a frame for another slave");
        return;
    }

    const Bytes request(buffer, buffer + rc);
    log("rx " + hex(request));
    if (silentNow()) {
        log("silent");
        return;
    }
    const unsigned connection = port.generation();
    Bytes reply = answer(request);
    if (request[0] == MODBUS_BROADCAST_ADDRESS)
        return; // nobody may answer a broadcast
    if (reply.empty()) {
        log("dropped: libmodbus built no reply");
        return;
    }
    send(std::move(reply), connection);
}

Simulator::Bytes Simulator::answer(const Bytes &request)
{
    updateModel();
    const int function = request[1];
    const auto reply = [this, &request] {
        return capture([this, &request] {
            modbus_reply(ctx.get(), request.data(), int(request.size()), mapping.get());
        });
    };

    // both write functions end alike once they have found the one setpoint value
    const auto writeSetpoint = [&](std::uint16_t value) {
        if (aboveMaximum(value))
            return refuse(request, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE,
                          "setpoint " + std::to_string(signedWord(value)) + " above maximum");
        Bytes bytes = reply();
        applySetpoint(value);
        return bytes;
    };

    // libmodbus framed the request, so its length matches its function code and byte count.
    switch (function) {
    case MODBUS_FC_WRITE_SINGLE_REGISTER: {
        const int address = word(request, 2);
        const auto value = std::uint16_t(word(request, 4));
        log("write " + std::to_string(address) + " = " + std::to_string(signedWord(value)));
        if (address != setpointRegister)
            return refuse(request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,
                          "register " + std::to_string(address) + " is read-only");
        return writeSetpoint(value);
    }
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS: {
        const int address = word(request, 2);
        const int count = word(request, 4);
        if (count < 1 || count > MODBUS_MAX_WRITE_REGISTERS || request[6] != 2 * count)
            break; // malformed: libmodbus answers it with its own exception
        for (int i = 0; i < count; ++i) {
            const auto value = std::uint16_t(word(request, 7 + 2 * std::size_t(i)));
            log("write " + std::to_string(address + i) + " = " + std::to_string(signedWord(value)));
        }
        if (address != setpointRegister || count != 1)
            return refuse(request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,
                          "only register 300 is writable");
        const auto value = std::uint16_t(word(request, 7));
        return writeSetpoint(value);
    }
    case MODBUS_FC_MASK_WRITE_REGISTER:
    case MODBUS_FC_WRITE_AND_READ_REGISTERS:
        return refuse(request, MODBUS_EXCEPTION_ILLEGAL_FUNCTION,
                      "function " + std::to_string(function) + " is not supported");
    default:
        break;
    }

    Bytes bytes = reply();
    if (bytes.size() >= 5 && bytes[1] == MODBUS_FC_READ_HOLDING_REGISTERS) {
        std::string line = "read " + std::to_string(word(request, 2)) + " =";
        for (std::size_t at = 3; at + 3 < bytes.size(); at += 2)
            line += ' ' + std::to_string(signedWord(std::uint16_t(word(bytes, at))));
        log(line);
    } else if (bytes.size() >= 3 && (bytes[1] & 0x80)) {
        log("refused " + hex(&bytes[2], 1) + " function " + std::to_string(function) +
            " at register " + std::to_string(word(request, 2)));
    }
    return bytes;
}

Simulator::Bytes Simulator::capture(const std::function<void()> &build)
{
    // libmodbus builds replies and their CRC and writes them to its socket; pointing that at a
    // pipe for a moment hands us the exact bytes, which the fault options then bend.
    modbus_set_socket(ctx.get(), capturePipe[1]);
    build();
    modbus_set_socket(ctx.get(), port.masterFd());
    Bytes bytes;
    std::uint8_t chunk[MODBUS_RTU_MAX_ADU_LENGTH];
    ssize_t n;
    while ((n = ::read(capturePipe[0], chunk, sizeof chunk)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    return bytes;
}

Simulator::Bytes Simulator::refuse(const Bytes &request, int code, const std::string &why)
{
    log("refused " + hex(std::vector<std::uint8_t>{std::uint8_t(code)}) + ' ' + why);
    return capture([this, &request, code] {
        modbus_reply_exception(ctx.get(), request.data(), unsigned(code));
    });
}

bool Simulator::aboveMaximum(std::uint16_t value) const
{
    // Compared in tenths, with a margin so that 100.0 is not "above" a maximum of 100.
    return options.maxSetpoint && signedWord(value) > *options.maxSetpoint * 10.0 + 1e-6;
}

void Simulator::applySetpoint(std::uint16_t value)
{
    updateModel(); // the ramp so far ran toward the old setpoint
    model.setSetpoint(fromTenths(value));
    mapping->tab_registers[setpointRegister] = value;
    log("setpoint " + std::to_string(signedWord(value)));
}

void Simulator::send(Bytes reply, unsigned connection)
{
    ++replies;
    if (options.badCrcEvery > 0 && replies % unsigned(options.badCrcEvery) == 0) {
        reply[reply.size() - 1] ^= 0xFF;
        reply[reply.size() - 2] ^= 0xFF;
    }
    std::size_t sent = 0;
    while (sent < reply.size()) {
        std::size_t piece = reply.size() - sent;
        if (options.splitReplyMs >= 0) {
            if (sent > 0 && !waitBetweenPieces(options.splitReplyMs, connection))
                return;
            if (sent == 0)
                piece = std::min<std::size_t>(firstPieceBytes, reply.size());
        }
        handlePortEvents();
        if (port.clients() == 0 || port.generation() != connection) {
            log("dropped " + hex(&reply[sent], reply.size() - sent) +
                ": the client closed the port");
            return;
        }
        if (!writeAll(&reply[sent], piece)) {
            log("dropped " + hex(&reply[sent], reply.size() - sent) + ": the client reads nothing");
            return;
        }
        sent += piece;
    }
    log("tx " + hex(reply));
}

bool Simulator::writeAll(const std::uint8_t *data, std::size_t length)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(fullWaitMs);
    while (length > 0) {
        const ssize_t n = ::write(port.masterFd(), data, length);
        if (n > 0) {
            data += n;
            length -= std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        if (Clock::now() >= deadline)
            return false;
        pollfd fd{port.masterFd(), POLLOUT, 0};
        ::poll(&fd, 1, 50);
    }
    return true;
}

bool Simulator::waitBetweenPieces(int ms, unsigned connection)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        int timeout = int(std::max<long long>(0, left.count()));
        const int exitIn = msUntilExit();
        if (exitIn >= 0)
            timeout = std::min(timeout, exitIn);
        if (options.exitAfter && exitIn == 0) {
            stopping = true;
            return false;
        }
        if (timeout == 0)
            return true;
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {port.watchFd(), POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            return false;
        if (fds[0].revents) {
            stopping = true;
            return false;
        }
        if (fds[1].revents) {
            handlePortEvents();
            if (port.clients() == 0 || port.generation() != connection)
                return true; // send() notices and drops the rest at once
        }
    }
}

void Simulator::drain(const std::string &why)
{
    // Drop what follows until the line is quiet: a frame cut off or run together with noise
    // cannot be resynchronised byte by byte in RTU, whose frames are delimited by silence.
    Bytes dropped;
    const auto deadline = Clock::now() + std::chrono::milliseconds(drainLimitMs);
    for (;;) {
        std::uint8_t chunk[256];
        const ssize_t n = ::read(port.masterFd(), chunk, sizeof chunk);
        if (n > 0) {
            dropped.insert(dropped.end(), chunk, chunk + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (Clock::now() >= deadline)
            break;
        pollfd fd{port.masterFd(), POLLIN, 0};
        if (::poll(&fd, 1, quietMs) <= 0 || !(fd.revents & POLLIN))
            break;
    }
    constexpr std::size_t shown = 32;
    std::string line =
        "garbage " + why + "; " + std::to_string(dropped.size()) + " more bytes dropped";
    if (!dropped.empty())
        line += ": " + hex(dropped.data(), std::min(dropped.size(), shown)) +
                (dropped.size() > shown ? " ..." : "");
    log(line);
}

void Simulator::handlePortEvents()
{
    for (SimPort::Event event : port.readEvents())
        log(event == SimPort::Event::Opened ? "open" : "close");
}

void Simulator::updateModel()
{
    const auto now = Clock::now();
    model.advance(std::chrono::duration<double>(now - lastUpdate).count());
    lastUpdate = now;
    double reading = model.temperature();
    if (options.noise > 0)
        reading += std::uniform_real_distribution<double>(-options.noise, options.noise)(random);
    if (disturbedNow())
        reading += options.disturbBy;
    mapping->tab_registers[temperatureRegister] = std::uint16_t(toTenths(reading));
}

bool Simulator::silentNow() const
{
    return (options.silentAfter || options.silentFor) &&
           inSpan(options.silentAfter, options.silentFor);
}

bool Simulator::disturbedNow() const
{
    return options.disturbBy != 0 && inSpan(options.disturbAfter, options.disturbFor);
}

bool Simulator::inSpan(std::optional<double> after, std::optional<double> lasting) const
{
    const double from = after.value_or(0.0);
    const double t = secondsSinceStart();
    return t >= from && (!lasting || t < from + *lasting);
}

double Simulator::secondsSinceStart() const
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Simulator::msUntilExit() const
{
    if (!options.exitAfter)
        return -1;
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(*options.exitAfter));
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
    return int(std::clamp<long long>(left.count(), 0, 1 << 30));
}

void Simulator::log(const std::string &line) const
{
    if (!options.log)
        return;
    // One write per line, so whoever reads the log never sees half a line.
    const std::string text = line + '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

} // namespace chamber
