#pragma once
// The two lamp command protocols: a two-byte frame at 9600 baud, and a text
// command line at 115200 baud that the lamp answers. Which one the lamp speaks
// is found out by sending "VER" and looking at whether anything comes back.
#include <functional>
#include <string>

#include "lamp/lampstate.h"

namespace tintrava {

// How the latest exchange with the lamp went.
enum class LampDelivery {
    Delivered,   // opened, and every byte of the command written
    NoLamp,      // no discovery of this run has found a lamp
    OpenFailed,  // the lamp could not be opened
    WriteFailed, // opened, but the command was not (wholly) written
};

class LampCommander {
public:
    struct Hooks {
        // Blocking wait between a text command and reading the reply.
        std::function<void(int ms)> sleep;
        // The discovery timer is paused during a text exchange; switching it
        // on again restarts its interval.
        std::function<void(bool enabled)> setDiscoveryTimer;
        // Runs discovery before every command (the main window also shows the result).
        std::function<void()> discover;
        // Asked after that discovery, before a colour command opens the
        // lamp: false keeps the command (and the probe) off the lamp, as
        // for a lamp that another program holds. Empty: always allowed.
        std::function<bool()> mayDrive;
    };

    // Hooks left empty get the plain behaviour: a real sleep, no timer,
    // discovery without display.
    LampCommander(LampState &state, Hooks hooks);

    // Sends text + CR LF at 115200 baud, waits, and returns the reply with CR
    // and LF dropped; empty when the lamp could not be opened. Until some
    // discovery has found a lamp it opens nothing and returns empty.
    // delivered (when given) tells whether the lamp was opened and took the
    // whole line.
    std::string sendstr(const std::string &text, bool *delivered = nullptr);
    // Colour number 1..12 (11 switches the lamp off). True when the command
    // reached a lamp: its open succeeded and every byte of the command was
    // written. Nothing else about the exchange changes with the answer.
    bool selectcolor(int colourNumber);
    // A wavelength in nm as text; 500 nm when it is not an integer. Same result.
    bool selectcolor2(const std::string &wavelengthText);

    // The latest exchange, the probe included: why a command did not arrive.
    LampDelivery lastDelivery() const { return m_lastDelivery; }

    static constexpr int ReplyWaitMs = 200;
    static constexpr int ReplyMaxBytes = 20;

private:
    std::string exchange(const std::string &text, bool &opened, bool &delivered);
    bool sendByteFrame(int colourNumber);
    // A discovery of this run has found a lamp, so LampSerial is one to open.
    bool lampKnown() const;
    // Discovery, then the probe while the protocol is unknown. False when the
    // protocol is still unknown, i.e. the lamp could not be opened, or when
    // mayDrive keeps the command off the lamp.
    bool prepare();

    LampState &m_state;
    Hooks m_hooks;
    LampDelivery m_lastDelivery = LampDelivery::NoLamp;
};

} // namespace tintrava
