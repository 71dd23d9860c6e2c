#include "multiport/SharedImage.h"

#include "multiport/Sha256.h"

namespace veltrad {

SharedImage ReadSharedImage(const std::filesystem::path& file, std::function<bool()> stopRequested, bool digest,
                            ImageError& error)
{
    SharedImage result;
    std::error_code ec;
    result.facts.path = std::filesystem::absolute(file, ec);
    if (ec)
        result.facts.path = file;

    auto image = std::make_shared<CDownloadImage>();
    image->SetFile(file);
    image->SetStopCheck(std::move(stopRequested));
    std::unique_ptr<CSha256> sha = digest ? std::make_unique<CSha256>() : nullptr;
    if (sha)
        image->SetReadSink([&sha](const std::uint8_t* bytes, std::size_t count) { sha->Update(bytes, count); });
    const bool built = image->BuildFrames(&error);
    image->SetReadSink({});
    image->SetStopCheck({});
    if (!built)
        return result;

    result.facts.size = image->m_qwFileSize;
    if (sha) {
        if (const auto sum = sha->Finish())
            result.facts.sha256 = HexDigest(*sum);
    }
    result.image = std::move(image);
    return result;
}

}  // namespace veltrad
