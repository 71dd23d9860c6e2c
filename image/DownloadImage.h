#pragma once
// The download image: a file read in 128-byte blocks, the span from the first
// to the last block that holds a non-zero byte, and the frames for that span.

#include "image/ImageError.h"
#include "image/Packet.h"
#include "image/PacketAllocator.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace veltrad {

class CImageFile;

// Largest file the frame addresses can describe, in bytes (4 GiB): addresses
// are 32-bit, and the last block of such a file lies at 0xFFFFFF80.
inline constexpr std::uint64_t kMaxImageFileSize = 0x100000000ull;

class CDownloadImage {
public:
    using BlockList = std::vector<CBlockPacket, PacketAllocator<CBlockPacket>>;
    using FrameList = std::vector<CPacket, PacketAllocator<CPacket>>;

    // The reading pass. Empties both lists, then reads `path`. On success
    // m_qwFileSize, m_dwFirstOffset and m_qwEndOffset describe the file and
    // m_BlockList holds every block from the first non-zero one on. When the
    // file cannot be opened (or is no regular file), both lists are empty and
    // the numbers keep their previous values; when a read fails, the blocks
    // read so far stay. When memory runs out or a stop is requested, both
    // lists are empty again. Never throws.
    bool ReadBlocks(const std::filesystem::path& path, ImageError* error = nullptr);

    // The file-selection pass over m_strPathName: sets the size and its text,
    // keeps no nodes.
    bool InspectFile(ImageError* error = nullptr);

    // The build pass: reads m_strPathName again from scratch and fills
    // m_FrameList with one frame per block of the non-zero span.
    bool BuildFrames(ImageError* error = nullptr);

    // Back to "no file": lists empty, numbers zero, strings empty.
    void ResetFileInfo();

    // Asked on the pass's own thread between chunks of every pass; once it
    // returns true the pass ends, its lists empty, with an error whose
    // `stopped` is set. It must be cheap and must not wait (a signal flag, an
    // atomic). Empty: passes run to their end.
    void SetStopCheck(std::function<bool()> stopRequested);

    // Handed every byte each pass reads, in file order, on the pass's own
    // thread: a digest of exactly what was framed, without opening the file
    // a second time. Empty: nothing is handed on.
    using ReadSink = std::function<void(const std::uint8_t* bytes, std::size_t count)>;
    void SetReadSink(ReadSink sink);

    // Stores the operator's choice: its path as given (the windows give a
    // full one) and the bare name shown to them.
    void SetFile(const std::filesystem::path& path);

    // "N Byte" for the length of the latest pass, in full for every length.
    static std::string FormatFileSize(std::uint64_t size);

    BlockList m_BlockList;
    FrameList m_FrameList;
    // 64-bit: a file of 4 GiB, and the end of a block at 0xFFFFFF80, are one
    // past what 32 bits hold.
    std::uint64_t m_qwFileSize = 0;
    std::uint32_t m_dwFirstOffset = 0;
    std::uint64_t m_qwEndOffset = 0;
    std::string m_strFileName;  // name without folder
    std::string m_strPathName;  // path as chosen, used for every pass
    std::string m_strFileSize;  // size text

private:
    void EmptyLists();
    bool StopRequested() const { return m_stopRequested && m_stopRequested(); }
    bool ReadOpenFile(CImageFile& file, const std::filesystem::path& path, ImageError* error);
    void FillFrames();

    std::function<bool()> m_stopRequested;
    ReadSink m_readSink;
};

}  // namespace veltrad
