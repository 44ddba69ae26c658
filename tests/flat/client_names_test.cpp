// A client may have global types of its own named like the library's own
// (CFile is common among the programs this interface is made for): the
// header keeps those in its namespace, so both compile side by side.
class CFile {
public:
    int handle = 7;
};
struct WaveFileHeader {
    char tag[4];
};
struct WaveBuff {
    int bytes;
};

#include "sonvale.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace {

static_assert(std::is_same_v<decltype(CWaveRecorder::m_file), sonvale::CFile>);
static_assert(std::is_same_v<decltype(CWaveRecorder::m_header), sonvale::WaveFileHeader>);
static_assert(std::is_same_v<decltype(CWaveMixOut::m_ppBuffs), sonvale::WaveBuff**>);

TEST(ClientNames, AClientsOwnTypesLiveBesideTheLibrarys) {
    const CFile own;
    const WaveBuff buff{3};
    CWaveRecorder recorder;
    EXPECT_EQ(own.handle + buff.bytes, 10);
    EXPECT_EQ(recorder.isOpen(), 0);
}

} // namespace
