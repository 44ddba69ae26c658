#include "record/recorder_state.h"

#include <mutex>
#include <new>

namespace sonvale {

namespace {

// A list, not a map: it never throws, and a process has few recorders.
struct state_node {
    const CWaveRecorder* owner;
    state_node* next;
    recorder_state state;
};

std::mutex g_lock;
state_node* g_states = nullptr;

} // namespace

recorder_state* recorder_state_of(const CWaveRecorder* recorder, bool create) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (state_node* node = g_states; node; node = node->next)
        if (node->owner == recorder)
            return &node->state;
    if (!create)
        return nullptr;
    state_node* node = new (std::nothrow) state_node{recorder, g_states, {}};
    if (!node)
        return nullptr;
    g_states = node;
    return &node->state;
}

void release_recorder_state(const CWaveRecorder* recorder) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (state_node** link = &g_states; *link; link = &(*link)->next) {
        if ((*link)->owner == recorder) {
            state_node* node = *link;
            *link = node->next;
            delete node;
            return;
        }
    }
}

} // namespace sonvale
