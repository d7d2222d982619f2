// Diag_GetECFirmwareVer2 and the process-wide firmware text.
#include <algorithm>
#include <cstring>
#include <string>

#include "hwio/ec_firmware.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

class FirmwareVersionTest : public NotebookTest {
protected:
    void SetUp() override {
        NotebookTest::SetUp();
        Bind();
        std::memset(buffer_, 0xEE, sizeof buffer_);
    }
    bool Untouched(std::size_t from = 0) const {
        for (std::size_t i = from; i < sizeof buffer_; ++i) {
            if (static_cast<unsigned char>(buffer_[i]) != 0xEE) return false;
        }
        return true;
    }
    char buffer_[48];
};

TEST_F(FirmwareVersionTest, ShortTextIsNulPaddedToLength) {
    nb().ec.firmwareVersion = "ABC";
    EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, 16), 1);
    EXPECT_EQ(Output(), "EC FW:=ABC=\n");
    EXPECT_EQ(std::string(buffer_, 3), "ABC");
    for (int i = 3; i < 16; ++i) EXPECT_EQ(buffer_[i], '\0') << i;
    EXPECT_TRUE(Untouched(16));
    EXPECT_STREQ(hwio::EcFirmwareVersion(), "ABC");
    EXPECT_EQ(nb().trace.PortLines().front(), "in 66 00");
    EXPECT_EQ(nb().trace.PortLines()[1], "out 66 a1");
}

TEST_F(FirmwareVersionTest, TextOfLengthMinusOneFits) {
    nb().ec.firmwareVersion = "ZLKD107";
    EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, 8), 1);
    EXPECT_STREQ(buffer_, "ZLKD107");
    EXPECT_TRUE(Untouched(8));
}

TEST_F(FirmwareVersionTest, TextOfLengthOrMoreFailsAndLeavesBufferAlone) {
    nb().ec.firmwareVersion = "ZLKD1070";
    EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, 8), 0);
    EXPECT_EQ(Output(), "EC FW:=ZLKD1070=\n");
    EXPECT_TRUE(Untouched());
    EXPECT_STREQ(hwio::EcFirmwareVersion(), "ZLKD1070");
}

// The 32-byte text holds 31 characters and the NUL, which may be the 32nd
// byte the EC sends; a 32nd byte that is not NUL is one too many, whatever
// length the caller allows.
TEST_F(FirmwareVersionTest, TextFillsTheThirtyTwoBytesAndNoMore) {
    const std::string longest(31, 'V');
    for (int length : {32, 40}) {
        SCOPED_TRACE(length);
        nb().ec.firmwareVersion = longest;
        std::memset(buffer_, 0xEE, sizeof buffer_);
        EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, length), 1);
        EXPECT_EQ(std::string(buffer_), longest);
        for (int i = 31; i < length; ++i) EXPECT_EQ(buffer_[i], '\0') << i;
        EXPECT_TRUE(Untouched(static_cast<std::size_t>(length)));
        EXPECT_EQ(hwio::EcFirmwareVersion(), longest);
        EXPECT_EQ(Output(), "EC FW:=" + longest + "=\n");

        nb().ec.firmwareVersion = longest + "WX";
        std::memset(buffer_, 0xEE, sizeof buffer_);
        EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, length), 0);
        EXPECT_TRUE(Untouched());
        EXPECT_EQ(hwio::EcFirmwareVersion(), longest);
        EXPECT_EQ(Output(), "EC FW:=" + longest + "=\n");
    }
}

TEST_F(FirmwareVersionTest, SilentEcKeepsTheBytesReceived) {
    nb().ec.firmwareVersion = "ZLKD 1.07";
    nb().ec.firmwareSilentAfter = 4;
    EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, 16), 0);
    EXPECT_EQ(Output(), "WaitOBFTimeout Error!! EC FW:=ZLKD=\n");
    EXPECT_TRUE(Untouched());
    EXPECT_STREQ(hwio::EcFirmwareVersion(), "ZLKD");
    EXPECT_EQ(nb().trace.SleepTotalMs(), 500u);
}

TEST_F(FirmwareVersionTest, LengthZeroOrLessSendsCommandAndEmptiesText) {
    nb().ec.firmwareVersion = "ABC";
    ASSERT_EQ(Diag_GetECFirmwareVer2(buffer_, 16), 1);
    Output();
    for (int length : {0, -5}) {
        nb().trace.Clear();
        EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, length), 0);
        EXPECT_EQ(Output(), "EC FW:==\n");
        EXPECT_STREQ(hwio::EcFirmwareVersion(), "");
        EXPECT_EQ(nb().trace.Count(sim::Event::Kind::PortWrite, 0x66), 1);
        // No byte is taken after the command. (The answer the call with
        // length 0 left unread is dropped before the next command is sent.)
        const auto lines = nb().trace.PortLines();
        const auto command = std::find(lines.begin(), lines.end(), "out 66 a1");
        ASSERT_NE(command, lines.end());
        EXPECT_EQ(std::count(command, lines.end(), "in 62 00") + std::count(command, lines.end(), "in 62 41"), 0);
        EXPECT_EQ(std::count_if(command, lines.end(), [](const std::string& l) { return l.rfind("in 62", 0) == 0; }),
                  0);
    }
}

TEST_F(FirmwareVersionTest, EarlierTextSurvivesUnboundAndStuckEc) {
    EXPECT_STREQ(hwio::EcFirmwareVersion(), "");
    nb().ec.firmwareVersion = "ZLKD";
    ASSERT_EQ(Diag_GetECFirmwareVer2(buffer_, 16), 1);
    Output();

    nb().ec.faults[sim::EcModel::k62].ibfStuck = true;
    EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, 16), 0);
    EXPECT_EQ(Output(), "WaitIBFTimeout timeout!!\n");
    EXPECT_STREQ(hwio::EcFirmwareVersion(), "ZLKD");

    Diag_FreeHWIO();
    Output();
    nb().trace.Clear();
    EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, 16), 0);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(nb().trace.PortAccesses(), 0);
    EXPECT_STREQ(hwio::EcFirmwareVersion(), "ZLKD");
}

// The EC sends no length: a long answer with a generous length must stop
// at the 31 characters our text holds, never write past it.
TEST_F(FirmwareVersionTest, LongAnswerStopsAtTheProcessWideText) {
    nb().ec.firmwareVersion = std::string(40, 'V');
    EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, 48), 0);
    EXPECT_EQ(Output(), "EC FW:=" + std::string(31, 'V') + "=\n");
    EXPECT_EQ(std::strlen(hwio::EcFirmwareVersion()), 31u);
    EXPECT_TRUE(Untouched());

    // A short text with that length still pads the caller's whole buffer.
    nb().ec.firmwareVersion = "ZLKD";
    EXPECT_EQ(Diag_GetECFirmwareVer2(buffer_, 48), 1);
    for (int i = 4; i < 48; ++i) EXPECT_EQ(buffer_[i], '\0');
}

TEST_F(FirmwareVersionTest, NullBufferPrimesTheTextButReportsNoCopy) {
    nb().ec.firmwareVersion = "ZLKD";
    EXPECT_EQ(Diag_GetECFirmwareVer2(nullptr, 16), 0);
    EXPECT_EQ(Output(), "EC FW:=ZLKD=\n");
    EXPECT_STREQ(hwio::EcFirmwareVersion(), "ZLKD");
}

}  // namespace
}  // namespace hwtk3::test
