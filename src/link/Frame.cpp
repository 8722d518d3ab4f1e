#include "link/Frame.h"

#include <algorithm>

void CFrame::Encode(std::uint8_t sequence) {
    Raw[0] = kStart;
    Raw[1] = sequence;
    Raw[2] = 0;
    Raw[3] = cmd;
    Raw[4] = cd1;
    Raw[5] = cd2;
    std::copy(Data.begin(), Data.end(), Raw.begin() + 6);
    Raw[38] = FrameChecksum();
    Raw[39] = kEnd;
}

bool CFrame::Decode(std::uint8_t expectedSequence) {
    err = Raw[2];
    cmd = Raw[3];
    cd1 = Raw[4];
    cd2 = Raw[5];
    std::copy(Raw.begin() + 6, Raw.begin() + 38, Data.begin());
    return Raw[1] == expectedSequence;
}

std::uint8_t CFrame::FrameChecksum() const {
    unsigned sum = 0;
    for (int i = 1; i <= 37; ++i) sum += Raw[i];
    return static_cast<std::uint8_t>(sum);
}
