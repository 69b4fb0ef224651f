#pragma once
// Who drives a lamp. Two players, or the window and a player, sending their
// own colour every second to one lamp would make it flicker between them; a
// run holds its lamp from its start until its end and the next program to
// start on that lamp is refused.
//
// The hold is a lock on a file named after the lamp's serial number in a
// folder every user of the computer can write (/run/lock on Linux; on
// Windows %ProgramData%\tintrava), so it also keeps out a player another
// user started. The operating system drops the lock with the process, so a
// holder that was killed never blocks the next start. TINTRAVA_LOCK_DIR
// names another folder (tests, or a system without /run/lock).
//
// The lock files stay behind when the hold ends: removing one while another
// program is about to lock it would let two programs hold "the same" lamp.
#include <string>

#include "lamp/lampstate.h"

namespace tintrava {

class LampHold {
public:
    enum Result {
        Held,        // this hold has the lamp now
        NoLamp,      // no lamp found yet: nothing to hold
        HeldByOther, // another program holds the lamp
        Unavailable, // the lock cannot be made (see errorText()); not held
    };

    // folder: where the lock files are; empty for defaultFolder().
    explicit LampHold(std::string folder = {});
    ~LampHold();
    LampHold(const LampHold &) = delete;
    LampHold &operator=(const LampHold &) = delete;

    // TINTRAVA_LOCK_DIR when set; otherwise /run/lock, else /var/lock, else
    // /tmp (Windows: %ProgramData%\tintrava).
    static std::string defaultFolder();
    // The lock file's name for a serial: "tintrava-lamp-" and the serial,
    // with every byte outside A-Z, a-z, 0-9, '-' and '_' written as %XX, so
    // no serial can leave the folder and two serials never share a file.
    static std::string fileNameFor(const std::string &serial);
    std::string lockPath(const std::string &serial) const;

    // Takes the hold on the lamp with this serial. Holding it already is
    // Held; a hold on another lamp is given up once this one is taken.
    Result take(const std::string &serial);
    // The lamp discovery found last, if any has been found in this run.
    Result takeFound(const LampState &lamp);
    void release();

    bool holding() const;
    const std::string &heldSerial() const { return m_serial; }
    // Why the last take() gave Unavailable, as a German sentence.
    const std::string &errorText() const { return m_errorText; }

    // The sentence the window and the player show when the lamp is held.
    static constexpr const char *InUseText = "Die Lampe wird gerade von einem anderen Programm benutzt.";

private:
    std::string m_folder;
    std::string m_serial;
    std::string m_errorText;
#if defined(_WIN32)
    void *m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

} // namespace tintrava
