#pragma once
// The station logic's fakes: a view that keeps what it was shown, and a
// serial port over the scripted line of the exchange's tests.

#include "download/ScriptedPort.h"
#include "station/StationView.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace veltrad::test {

class FakeStationView final : public IStationView {
public:
    void ShowJob(const JobView& j) override { job = j; }
    void ShowTiles(const std::vector<TileView>& t) override { tiles = t; }
    void ShowTile(std::size_t i, const TileView& t) override { tiles.at(i) = t; }
    void ShowCounters(const StationCounters& c) override { counters = c; }
    void ShowScanStatus(const std::string& t) override { scanStatus = t; }
    void ShowMessage(const StationMessage& m) override
    {
        messages.push_back(m);
        if (onMessage)
            onMessage();
    }
    bool AskEnd(const std::string&) override
    {
        ++asked;
        return answer;
    }
    std::optional<std::filesystem::path> ChooseImage() override { return std::nullopt; }
    std::optional<std::filesystem::path> ChooseJobToOpen() override { return std::nullopt; }
    std::optional<std::filesystem::path> ChooseJobToSave() override { return std::nullopt; }
    void PlaySound(StationSound s) override { sounds.push_back(s); }
    void OpenFolder(const std::filesystem::path& f) override { opened = f; }
    void EndWindow() override
    {
        if (onEnd)
            onEnd();
        ++ended;
    }
    // From any thread.
    void PostEvents() override
    {
        {
            const std::lock_guard lock(postLock);
            ++posts;
        }
        posted.notify_all();
    }
    int Posts()
    {
        const std::lock_guard lock(postLock);
        return posts;
    }
    // Until PostEvents has come `count` times in all: a worker's own signal.
    void WaitForPosts(int count)
    {
        std::unique_lock lock(postLock);
        posted.wait(lock, [&] { return posts >= count; });
    }

    JobView job;
    std::vector<TileView> tiles;
    StationCounters counters;
    std::string scanStatus;
    std::vector<StationMessage> messages;
    std::vector<StationSound> sounds;
    std::filesystem::path opened;
    bool answer = true;
    int asked = 0, ended = 0;
    std::function<void()> onEnd;
    std::function<void()> onMessage;  // while the message is up

private:
    std::mutex postLock;
    std::condition_variable posted;
    int posts = 0;  // guarded by postLock
};

using FakeSerialPort = ScriptedSerialPort;

// Answers every transmission of `frames` frames with ACK after 10 ms.
inline std::map<int, std::vector<ScriptedReply>> AckAll(int frames)
{
    std::map<int, std::vector<ScriptedReply>> replies;
    for (int i = 0; i < frames; ++i)
        replies[i] = {{10, kAck}};
    return replies;
}

}  // namespace veltrad::test
