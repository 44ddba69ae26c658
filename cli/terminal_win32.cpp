// Single keys from the Windows console.
#include "terminal.h"

#include <windows.h>

#include <atomic>

namespace sonvale_cli {

namespace {

// Set on the system's control thread, read by other threads.
std::atomic<bool> g_interrupted{false};

BOOL WINAPI on_interrupt(DWORD) {
    g_interrupted = true;
    return TRUE; // handled: the process goes on and restores the console
}

HANDLE console_input() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

} // namespace

raw_keys::raw_keys() {
    DWORD mode = 0;
    if (!GetConsoleMode(console_input(), &mode))
        return;
    m_saved = mode;
    SetConsoleCtrlHandler(on_interrupt, TRUE);
    m_active = SetConsoleMode(console_input(), mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT |
                                                                          ENABLE_ECHO_INPUT)) != 0;
    if (!m_active)
        SetConsoleCtrlHandler(on_interrupt, FALSE);
}

raw_keys::~raw_keys() {
    if (!m_active)
        return;
    SetConsoleMode(console_input(), static_cast<DWORD>(m_saved));
    SetConsoleCtrlHandler(on_interrupt, FALSE);
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

bool raw_keys::interrupted() {
    return g_interrupted;
}

} // namespace sonvale_cli
