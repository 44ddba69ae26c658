// The straightforward pipeline the mixer is measured against: a writer thread
// taking heap copies from a mutex and condition-variable queue, notified on
// every push, and writing each with write(2). The writer can be raised to the
// priority the mixer's worker runs at, by the same calls, so that the two are
// compared at equal priority.
#pragma once

#include "platform/thread.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace bench {

enum class writer_priority { normal, raised };

class handwritten_pipeline {
public:
    explicit handwritten_pipeline(int fd, writer_priority priority = writer_priority::normal)
        : m_fd(fd) {
        uint32_t id = 0;
        m_writer = sonvale::thread_create_suspended(writer_main, this, &id);
        if (!m_writer)
            std::abort();
        if (priority == writer_priority::raised)
            sonvale::thread_raise_priority(m_writer);
        sonvale::thread_resume(m_writer);
    }

    ~handwritten_pipeline() {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_done = true;
        }
        m_ready.notify_one();
        sonvale::thread_release(m_writer);
    }

    handwritten_pipeline(const handwritten_pipeline&) = delete;
    handwritten_pipeline& operator=(const handwritten_pipeline&) = delete;

    void push(const uint8_t* data, size_t len) {
        auto* copy = new std::vector<uint8_t>(data, data + len);
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_queue.push_back(copy);
        }
        m_ready.notify_one();
    }

private:
    static long writer_main(void* pipeline) {
        static_cast<handwritten_pipeline*>(pipeline)->run();
        return 0;
    }

    void run() {
        for (;;) {
            std::vector<uint8_t>* block;
            {
                std::unique_lock<std::mutex> hold(m_lock);
                m_ready.wait(hold, [this] { return m_done || !m_queue.empty(); });
                if (m_queue.empty())
                    return;
                block = m_queue.front();
                m_queue.pop_front();
            }
            if (write(m_fd, block->data(), block->size()) < 0)
                perror("write");
            delete block;
        }
    }

    int m_fd;
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<std::vector<uint8_t>*> m_queue;
    bool m_done = false;
    sonvale::thread* m_writer = nullptr;
};

} // namespace bench
