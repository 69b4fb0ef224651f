#include "lamp/protocols.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "lamp/colours.h"
#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/discovery.h"

namespace tintrava {

LampCommander::LampCommander(LampState &state, Hooks hooks) : m_state(state), m_hooks(std::move(hooks))
{
    if (!m_hooks.sleep)
        m_hooks.sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    if (!m_hooks.setDiscoveryTimer)
        m_hooks.setDiscoveryTimer = [](bool) {};
    if (!m_hooks.discover)
        m_hooks.discover = [this] { getusbdev(m_state); };
}

std::string LampCommander::exchange(const std::string &text, bool &opened, bool &delivered)
{
    std::string reply;
    opened = false;
    delivered = false;
    // Nothing to talk to: no open, and no pause of the discovery timer either.
    m_lastDelivery = LampDelivery::NoLamp;
    if (!lampKnown())
        return reply;
    m_hooks.setDiscoveryTimer(false);

    opened = D2XXUnit::Open_USB_Device_By_Serial_Number(m_state.LampSerial) == FT_OK;
    m_lastDelivery = LampDelivery::OpenFailed;
    if (opened) {
        D2XXUnit::BaudRate = 115200;
        D2XXUnit::SetFTBaudRate();
        D2XXUnit::SetFTTimeouts(100, 100);
        D2XXUnit::WordLength = FT_BITS_8;
        D2XXUnit::StopBits = FT_STOP_BITS_2;
        D2XXUnit::Parity = FT_PARITY_NONE;
        D2XXUnit::SetFTDataCharacteristics();

        const std::size_t length = std::min(text.size(), sizeof(D2XXUnit::OutBuffer) - 2);
        std::memcpy(D2XXUnit::OutBuffer, text.data(), length);
        D2XXUnit::OutBuffer[length] = 0x0D;
        D2XXUnit::OutBuffer[length + 1] = 0x0A;
        const DWORD frame = static_cast<DWORD>(length + 2);
        delivered = D2XXUnit::WriteFTDevice(frame) == frame;
        m_lastDelivery = delivered ? LampDelivery::Delivered : LampDelivery::WriteFailed;

        m_hooks.sleep(ReplyWaitMs);

        D2XXUnit::GetFTQueueStatus();
        const DWORD received = D2XXUnit::ReadFTDevice(ReplyMaxBytes);
        for (DWORD i = 0; i < received && i < ReplyMaxBytes; ++i) {
            const char c = static_cast<char>(D2XXUnit::InBuffer[i]);
            if (c != '\r' && c != '\n')
                reply.push_back(c);
        }
        D2XXUnit::CloseFTDevice();
    }

    m_hooks.setDiscoveryTimer(true);
    return reply;
}

std::string LampCommander::sendstr(const std::string &text, bool *delivered)
{
    bool opened = false;
    bool written = false;
    std::string reply = exchange(text, opened, written);
    if (delivered)
        *delivered = written;
    return reply;
}

bool LampCommander::lampKnown() const
{
    // Until a lamp was found, LampSerial is empty only for want of a lamp;
    // an open by it would take any FTDI device with a blank serial.
    return m_state.LampEverFound;
}

bool LampCommander::sendByteFrame(int colourNumber)
{
    m_lastDelivery = LampDelivery::NoLamp;
    if (!lampKnown())
        return false;
    m_lastDelivery = LampDelivery::OpenFailed;
    if (D2XXUnit::Open_USB_Device_By_Serial_Number(m_state.LampSerial) != FT_OK)
        return false;
    D2XXUnit::BaudRate = 9600;
    D2XXUnit::SetFTBaudRate();
    D2XXUnit::WordLength = FT_BITS_8;
    D2XXUnit::StopBits = FT_STOP_BITS_2;
    D2XXUnit::Parity = FT_PARITY_NONE;
    D2XXUnit::SetFTDataCharacteristics();
    D2XXUnit::OutBuffer[0] = 0xFF;
    D2XXUnit::OutBuffer[1] = static_cast<unsigned char>(colourNumber + 64);
    const bool delivered = D2XXUnit::WriteFTDevice(2) == 2;
    m_lastDelivery = delivered ? LampDelivery::Delivered : LampDelivery::WriteFailed;
    D2XXUnit::CloseFTDevice();
    return delivered;
}

bool LampCommander::prepare()
{
    m_hooks.discover();
    if (m_hooks.mayDrive && !m_hooks.mayDrive())
        return false;
    if (m_state.LampProtocol == ProtocolUnknown) {
        bool opened = false;
        bool written = false;
        const std::string reply = exchange("VER", opened, written);
        // Only a lamp that was reached and stayed silent speaks the byte
        // protocol; when the open failed nothing was learnt, and the next
        // command asks again.
        if (opened)
            m_state.LampProtocol = reply.empty() ? ProtocolByte : ProtocolText;
    }
    return m_state.LampProtocol != ProtocolUnknown;
}

bool LampCommander::selectcolor(int colourNumber)
{
    if (!prepare())
        return false;
    if (m_state.LampProtocol == ProtocolByte)
        return sendByteFrame(colourNumber);
    bool delivered = false;
    sendstr(colourCommand(HardwareRow, colourNumber), &delivered);
    return delivered;
}

bool LampCommander::selectcolor2(const std::string &wavelengthText)
{
    if (!prepare())
        return false;
    const int w = wavelengthFromText(wavelengthText);
    if (m_state.LampProtocol == ProtocolByte)
        return sendByteFrame(wavelengthColourNumber(w));
    bool delivered = false;
    sendstr(wavelengthCommand(HardwareRow, w), &delivered);
    return delivered;
}

} // namespace tintrava
