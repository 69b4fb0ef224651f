#pragma once
// The two lamp command protocols: a two-byte frame at 9600 baud, and a text
// command line at 115200 baud that the lamp answers. Which one the lamp speaks
// is found out by sending "VER" and looking at whether anything comes back.
#include <functional>
#include <string>

#include "lamp/lampstate.h"

namespace tintrava {

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
    std::string sendstr(const std::string &text);
    // Colour number 1..12 (11 switches the lamp off).
    void selectcolor(int colourNumber);
    // A wavelength in nm as text; 500 nm when it is not an integer.
    void selectcolor2(const std::string &wavelengthText);

    static constexpr int ReplyWaitMs = 200;
    static constexpr int ReplyMaxBytes = 20;

private:
    std::string exchange(const std::string &text, bool &opened);
    void sendByteFrame(int colourNumber);
    // A discovery of this run has found a lamp, so LampSerial is one to open.
    bool lampKnown() const;
    // Discovery, then the probe while the protocol is unknown. False when the
    // protocol is still unknown, i.e. the lamp could not be opened, or when
    // mayDrive keeps the command off the lamp.
    bool prepare();

    LampState &m_state;
    Hooks m_hooks;
};

} // namespace tintrava
