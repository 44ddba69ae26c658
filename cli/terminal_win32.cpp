// Single keys from the Windows console.
#include "terminal.h"

#include <windows.h>

namespace sonvale_cli {

namespace {

HANDLE console_input() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

} // namespace

raw_keys::raw_keys() {
    DWORD mode = 0;
    if (!GetConsoleMode(console_input(), &mode))
        return;
    m_saved = mode;
    m_interrupts.emplace();
    m_active = SetConsoleMode(console_input(), mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT |
                                                                          ENABLE_ECHO_INPUT)) != 0;
    if (!m_active)
        m_interrupts.reset();
}

raw_keys::~raw_keys() {
    if (!m_active)
        return;
    SetConsoleMode(console_input(), static_cast<DWORD>(m_saved));
    m_interrupts.reset();
}

int raw_keys::read_key(int timeout_ms) {
    if (!m_active ||
        WaitForSingleObject(console_input(), static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0)
        return -1;
    // The console also reports key releases, mouse and focus events: those
    // are taken and give no key.
    INPUT_RECORD record{};
    DWORD got = 0;
    if (!ReadConsoleInputA(console_input(), &record, 1, &got) || got != 1 ||
        record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown)
        return -1;
    const unsigned char key = static_cast<unsigned char>(record.Event.KeyEvent.uChar.AsciiChar);
    return key != 0 ? key : -1;
}

} // namespace sonvale_cli
