#ifndef TOOLS_GPIO_CHECK_SERIAL_PORT_H
#define TOOLS_GPIO_CHECK_SERIAL_PORT_H

// The board's debug serial port, opened for reading the trace as the run
// goes: raw, 8N1, no flow control, at the given speed. The port's previous
// settings are put back when it is closed, and also when a signal ends the
// checker, so the terminal program used after it finds the port as it was.

#include <string>

namespace gpio_check {

// The debug port's usual speed.
constexpr unsigned kDefaultBaud = 115200;

// True for the speeds a serial port can be set to (50 to 4000000 Bd).
bool IsSupportedBaud(unsigned baud);

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort() { Close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `path` without making it the controlling terminal and sets it
    // up; false with a message naming the path when it is no terminal
    // (`noTerminal` set) or cannot be set up (nothing is changed then).
    bool Open(const std::string& path, unsigned baud, std::string& error, bool* noTerminal = nullptr);
    // Puts the previous settings back and closes the port.
    void Close();

    int Descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_SERIAL_PORT_H
