#pragma once
#include <cstdint>

namespace hanamail {

class ProgressEvent;

// Counts the work of one transfer against its expected total and tells the
// application's ProgressEvent of each new percentage; between percentages it
// asks whether to abort at most every kAbortCheckMs.
class ProgressMonitor {
public:
    static constexpr uint32_t kAbortCheckMs = 300;

    ProgressMonitor(ProgressEvent* callback, uint32_t total);
    ProgressMonitor(const ProgressMonitor&) = delete;
    ProgressMonitor& operator=(const ProgressMonitor&) = delete;
    virtual ~ProgressMonitor();

    // Adds amount to what is done (never beyond the total); abort is true when
    // the application asked to stop.
    void step(uint32_t amount, bool& abort);
    // Steps by what is left of the total.
    void finish(bool& abort);

    uint32_t getTotal() const { return m_total; }
    uint32_t getDone() const { return m_done; }
    bool wasAborted() const { return m_aborted != 0; }
    // 100 for a total of 0.
    static int percentage(uint32_t done, uint32_t total);

private:
    uint32_t m_total;
    uint32_t m_done;
    ProgressEvent* m_callback;
    uint8_t m_aborted;
    uint32_t m_lastCallback;
};

}  // namespace hanamail
