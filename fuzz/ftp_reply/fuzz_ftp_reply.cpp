// Fuzzes the reply reader: the same replies however the bytes are segmented, the reply text within
// its bound, what is held back never past the reply bound, and each command's own reply (the
// first after any run of preliminary ones) the same whatever the segmenting.
#include "lanvex/ftp/ftp_protocol.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace
{

constexpr size_t kBound = 512;

// Feeds the bytes in pieces whose lengths come from the first byte; collects the complete replies.
std::vector<std::string> Replies(const char* pData, size_t nSize, uint8_t cutKey, bool* pOverflow)
{
    lanvex::CFtpReplyReader reader(kBound);
    std::vector<std::string> replies;
    size_t nPos = 0;
    uint32_t state = cutKey * 2654435761u + 1;
    *pOverflow = false;
    while (nPos < nSize)
    {
        state = state * 1103515245u + 12345u;
        const size_t nPiece = cutKey == 0 ? nSize : 1 + (state >> 16) % 17;
        const size_t nTake = nPiece < nSize - nPos ? nPiece : nSize - nPos;
        reader.Append(pData + nPos, nTake);
        nPos += nTake;
        lanvex::FtpReply reply;
        for (;;)
        {
            const auto status = reader.Next(&reply);
            if (status == lanvex::CFtpReplyReader::Status::Overflow)
            {
                *pOverflow = true;
                return replies;
            }
            // Held back is one reply in the making, never more than the bound.
            if (status != lanvex::CFtpReplyReader::Status::Complete)
            {
                if (reader.Buffered() > kBound)
                    std::abort();
                break;
            }
            if (reply.Bytes.empty() || reply.Bytes.size() > kBound || reply.Bytes.back() != '\n' ||
                reply.Text().size() > lanvex::kFtpReplyTextCapacity)
                std::abort();
            // A preliminary or completing reply is a well-formed one: three digits and a blank or
            // a dash.
            if ((reply.IsPreliminary() || reply.IsCompletion()) && !reply.IsWellFormed())
                std::abort();
            replies.push_back(reply.Bytes);
        }
    }
    return replies;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const char* pText = reinterpret_cast<const char*>(data + 1);
    const size_t nText = size - 1;
    bool bWholeOverflow = false, bPiecesOverflow = false;
    const std::vector<std::string> whole = Replies(pText, nText, 0, &bWholeOverflow);
    const std::vector<std::string> pieces = Replies(pText, nText, data[0] | 1, &bPiecesOverflow);
    // Without an overflow the segmenting makes no difference at all; with one, the replies before
    // it are the same.
    if (!bWholeOverflow && !bPiecesOverflow && whole != pieces)
        std::abort();
    const size_t nCommon = whole.size() < pieces.size() ? whole.size() : pieces.size();
    for (size_t i = 0; i < nCommon; ++i)
        if (whole[i] != pieces[i])
            std::abort();
    // The replies as the control session takes them: preliminary ones pass by, the next one
    // answers the command, and a line that is no reply ends the session.
    size_t nAnswered = 0;
    for (const std::string& bytes : whole)
    {
        const lanvex::FtpReply reply{bytes};
        if (!reply.IsWellFormed())
            break;
        if (!reply.IsPreliminary())
            ++nAnswered;
        if (reply.IsRefusal() && reply.IsCompletion())
            std::abort();
    }
    if (nAnswered > whole.size())
        std::abort();
    return 0;
}
