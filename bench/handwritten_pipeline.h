// The straightforward pipeline the mixer is measured against: a std::thread
// taking heap copies from a mutex and condition-variable queue, notified on
// every push, and writing each with write(2).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

class handwritten_pipeline {
public:
    explicit handwritten_pipeline(int fd) : m_fd(fd), m_writer([this] { run(); }) {}

    ~handwritten_pipeline() {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_done = true;
        }
        m_ready.notify_one();
        m_writer.join();
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
    std::thread m_writer;
};

} // namespace bench
