#include "station/ImageCheck.h"

#include <system_error>

namespace veltrad {

namespace text = station_text;

CImageCheck::~CImageCheck() { StopAndJoin(); }

void CImageCheck::Begin(const std::filesystem::path& path, const std::string& sha256, const ThreadLauncher& launcher)
{
    StopAndJoin();
    m_stop = false;
    m_begun = true;
    std::function<void()> body = [this, path, sha256] {
        Keep(ReadApprovedImage(path, sha256, [this] { return m_stop.load(); }));
    };
    try {
        m_worker = launcher ? launcher(std::move(body)) : std::thread(std::move(body));
    } catch (const std::system_error&) {
        Keep({std::nullopt, {text::kImageUnreadable, text::kThreadFailedReason}});
    }
}

void CImageCheck::Keep(ImageRead read)
{
    {
        const std::lock_guard lock(m_lock);
        m_result = std::move(read);
    }
    m_wake();
}

std::optional<ImageRead> CImageCheck::Take()
{
    if (!m_begun)
        return std::nullopt;
    std::optional<ImageRead> read;
    {
        const std::lock_guard lock(m_lock);
        read.swap(m_result);
    }
    if (!read)
        return std::nullopt;
    if (m_worker.joinable())
        m_worker.join();
    m_begun = false;
    if (m_stop)
        return std::nullopt;
    return read;
}

void CImageCheck::StopAndJoin()
{
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
    m_begun = false;
    const std::lock_guard lock(m_lock);
    m_result.reset();
}

}  // namespace veltrad
