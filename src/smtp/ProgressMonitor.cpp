#include "smtp/ProgressMonitor.h"

#include "platform/Platform.h"
#include "smtp/ProgressEvent.h"

namespace hanamail {

ProgressMonitor::ProgressMonitor(ProgressEvent* callback, uint32_t total)
    : m_total(total), m_done(0), m_callback(callback), m_aborted(0), m_lastCallback(platform::tickCount())
{
}

ProgressMonitor::~ProgressMonitor() = default;

int ProgressMonitor::percentage(uint32_t done, uint32_t total)
{
    if (total == 0) return 100;
    while (total > 1000000) {
        total /= 10;
        done /= 10;
    }
    return static_cast<int>(uint64_t(done) * 100 / total);
}

void ProgressMonitor::step(uint32_t amount, bool& abort)
{
    abort = false;
    m_aborted = 0;
    const int before = percentage(m_done, m_total);
    const uint64_t done = uint64_t(m_done) + amount;
    m_done = done > m_total ? m_total : static_cast<uint32_t>(done);
    const int after = percentage(m_done, m_total);
    if (!m_callback) return;
    bool stop = false;
    if (after > before) {
        m_lastCallback = platform::tickCount();
        m_callback->percentDone(after, stop);
    } else if (platform::tickCount() - m_lastCallback > kAbortCheckMs) {
        m_lastCallback = platform::tickCount();
        m_callback->abortCheck(stop);
    }
    if (stop) {
        m_aborted = 1;
        abort = true;
    }
}

void ProgressMonitor::finish(bool& abort)
{
    abort = false;
    if (m_done != m_total) step(m_total - m_done, abort);
}

}  // namespace hanamail
